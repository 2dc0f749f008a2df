#include "platform/dos_folder.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/temp_folder.h"

namespace mirte {
namespace {

namespace fs = std::filesystem;
using testing::TempFolder;

// From here on this process's openat2 fails as on a kernel that has none.
bool WithoutOpenAt2() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (ENOSYS & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Whether the handle, also once moved, kept the status of the folder at `path`.
bool KeptStatusOf(TFolderHandle& handle, const std::string& path) {
  struct stat st {};
  TFolderHandle moved = std::move(handle);
  const struct stat* kept = moved.Status();
  return !handle.Status() && kept && ::stat(path.c_str(), &st) == 0 && kept->st_ino == st.st_ino &&
         kept->st_dev == st.st_dev && S_ISDIR(kept->st_mode);
}

// The number of the cases that came out wrong, 0 when all held: a drive root and the
// folders below it open through plain folders only, with openat2 or by the walk; a drive
// root keeps the status it was checked by.
int WrongOpens(const fs::path& top) {
  struct TCase {
    std::string root;
    const char* relative;  // null: the root alone
    bool opens;
  };
  const std::string plain = (top / "drive").string();
  const TCase cases[] = {
      {plain, nullptr, true},
      {(top / "linked").string(), nullptr, false},
      {(top / "through/drive").string(), nullptr, false},
      {(top / "drive/FILE.TXT").string(), nullptr, false},
      {"relative/drive", nullptr, false},
      {plain, "", true},
      {plain, "SUB", true},
      {plain, "/SUB/DEEPER", true},
      {plain, "SUB/LINK", false},
      {plain, "..", false},
      {plain, "SUB/../../drive", false},
      {plain, "MISSING", false},
  };
  int wrong = 0;
  for (const auto& c : cases) {
    TFolderHandle root = OpenDriveRoot(c.root);
    bool opened = root.Valid();
    if (opened && c.relative) opened = OpenBeneath(root.Fd(), c.relative).Valid();
    if (opened != c.opens || (opened && !c.relative && !KeptStatusOf(root, c.root))) ++wrong;
  }
  return wrong;
}

class DosFolderOpens : public ::testing::Test {
protected:
  void SetUp() override {
    top = fs::canonical(temp.path());
    fs::create_directories(top / "drive/SUB/DEEPER");
    fs::create_directories(top / "elsewhere");
    fs::create_directory_symlink(top / "elsewhere", top / "drive/SUB/LINK");
    fs::create_directory_symlink(top / "drive", top / "linked");
    fs::create_directory_symlink(top, top / "through");
    temp.write("drive/FILE.TXT", "f");
  }

  TempFolder temp;
  fs::path top;
};

TEST_F(DosFolderOpens, GoThroughPlainFoldersOnly) { EXPECT_EQ(WrongOpens(top), 0); }

TEST_F(DosFolderOpens, GoThroughPlainFoldersOnlyWhereTheKernelHasNoOpenat2) {
  EXPECT_EXIT(
      {
        if (!WithoutOpenAt2()) std::_Exit(2);
        std::_Exit(WrongOpens(top) == 0 && syscall(SYS_openat2, AT_FDCWD, "/", nullptr, 0) < 0 && errno == ENOSYS ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mirte
