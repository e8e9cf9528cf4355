// Files and folders the library makes on the drives are the equipment group's (0660 files,
// 0770 folders) whatever the umask of the routine that made them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/instance.h"
#include "util/paths.h"
#include "util/vdb.h"
#include "vexlor/vexlor.h"

namespace {

unsigned mode_of(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
}

TEST(DrivePermissions, LogFilesAndFoldersIgnoreTheUmask) {
  vexlor::test::PrivateInstance instance("perm");
  const mode_t old = ::umask(027);
  // Before start-up the log goes below the default history path, Z:\History.
  Vexlor::VSystem_Log(Vexlor::LOG_ERR, "permissions");
  const std::string file = vexlor::detail::map_system_path(
      (std::string(Vexlor::VSystem_Get_History_Full_Path()) + "/system.log").c_str());
  const std::string day = file.substr(0, file.rfind('/'));
  const std::string root = instance.drive_root();
  std::string error;
  const bool opened =
      static_cast<bool>(vexlor::detail::vdb_open(root + "/D/Equipment/Db/vexlor.db", true, &error));
  ::umask(old);

  ASSERT_TRUE(opened) << error;
  for (const std::string& path : {file, root + "/D/Equipment/Db/vexlor.db"})
    EXPECT_EQ(mode_of(path), 0660u) << path;
  for (const std::string& folder : {day, day.substr(0, day.rfind('/')), root + "/Z/History",
                                    root + "/D/Equipment/Db", root + "/D/Equipment"})
    EXPECT_EQ(mode_of(folder), 0770u) << folder;
}

}  // namespace
