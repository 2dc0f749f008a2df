#include "support/foreign_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mirte::testing {

namespace {

bool TakeLock(int fd, ForeignLock::Kind kind) {
  switch (kind) {
    case ForeignLock::Kind::Flock:
      return flock(fd, LOCK_EX | LOCK_NB) == 0;
    case ForeignLock::Kind::Lockf:
      return lockf(fd, F_TLOCK, 0) == 0;
    case ForeignLock::Kind::OfdWrite: {
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      return fcntl(fd, F_OFD_SETLK, &lock) == 0;
    }
  }
  return false;
}

// In the child: open, lock, report, then wait for the parent to hang up.
[[noreturn]] void HoldLock(const std::string& path, ForeignLock::Kind kind, int report, int hangUp) {
  int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  char ok = fd >= 0 && TakeLock(fd, kind) ? 1 : 0;
  (void)!write(report, &ok, 1);
  char byte;
  while (read(hangUp, &byte, 1) > 0) {
  }
  _exit(0);
}

}  // namespace

ForeignLock::ForeignLock(const std::string& path, Kind kind) {
  int up[2], down[2];
  if (pipe2(up, O_CLOEXEC) != 0) return;
  if (pipe2(down, O_CLOEXEC) != 0) {
    close(up[0]);
    close(up[1]);
    return;
  }
  child = fork();
  if (child == 0) {
    close(up[0]);
    close(down[1]);
    HoldLock(path, kind, up[1], down[0]);
  }
  close(up[1]);
  close(down[0]);
  toChild = down[1];
  char ok = 0;
  if (child > 0 && read(up[0], &ok, 1) == 1) isHeld = ok == 1;
  close(up[0]);
}

ForeignLock::~ForeignLock() { release(); }

void ForeignLock::release() {
  if (toChild >= 0) close(toChild);
  toChild = -1;
  if (child > 0) waitpid(child, nullptr, 0);
  child = -1;
  isHeld = false;
}

bool OtherProcessCanLock(const std::string& path, ForeignLock::Kind kind) {
  ForeignLock probe(path, kind);
  return probe.held();
}

}  // namespace mirte::testing
