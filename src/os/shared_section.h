// Shared memory sections of the current instance: files in the instance's runtime folder,
// mapped shared by every process that opens them.
#pragma once

#include <cstddef>
#include <string>

namespace vexlor::os {

struct SharedSection {
  void* address = nullptr;
  std::size_t size = 0;
};

// Creates a new zero-filled section of `size` bytes and maps it. Fails (false, `error`
// filled) when it exists already, unless `replace` is set.
bool section_create(const std::string& name, std::size_t size, bool replace, SharedSection* out,
                    std::string* error);

// Maps an existing section with its whole size. False when there is none.
bool section_open(const std::string& name, SharedSection* out, std::string* error);

// Unmaps a section mapped by section_create or section_open; the section stays.
void section_unmap(SharedSection* section);

// Removes the section; mappings that exist stay valid until unmapped.
bool section_remove(const std::string& name);

// True when the section exists.
bool section_exists(const std::string& name);

}  // namespace vexlor::os

namespace vexlor::os {

// Renames a section in one atomic step, so a section can be filled under a private name
// and published whole. Fails when `to` exists, unless `replace` is set.
bool section_rename(const std::string& from, const std::string& to, bool replace,
                    std::string* error);

}  // namespace vexlor::os
