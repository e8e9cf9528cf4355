// Where the shared objects of one equipment instance live: the instance name and its
// runtime directory. Every shared section, named mutex and message endpoint of an
// instance is created below that directory (0660 files, 0770 folders).
#pragma once

#include <string>

namespace vexlor::os {

// The instance name: VEXLOR_INSTANCE, or "default" when unset or empty.
std::string instance_name();

// Base folder of all instances: VEXLOR_RUNTIME_DIR when set, else /dev/shm/vexlor
// (or the temporary folder where /dev/shm does not exist).
std::string runtime_base();

// Runtime folder of the named instance (of instance_name() when empty); created on
// demand when `create` is set. Returns "" when it cannot be created.
std::string instance_dir(const std::string& instance = {}, bool create = false);

// Creates `path` and its missing parents with mode 0770. True when it exists afterwards.
bool make_dirs(const std::string& path);

// Turns an object name (any bytes) into one safe file name: letters, digits, '.', '-'
// and '_' stay, everything else becomes %XX; over-long names are shortened with a hash.
std::string file_name_for(const std::string& object_name);

// Removes the current instance's folder when nothing but empty mutex and endpoint folders is
// left in it. True when it is gone afterwards.
bool remove_instance_dir_if_empty();

// This process's id. Objects that own files or threads remember it, so that a forked child
// holding copies of them never removes the parent's files or waits for threads it lacks.
long process_id();

}  // namespace vexlor::os
