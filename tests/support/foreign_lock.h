#pragma once
// A lock held on a file by another process, as another program on the PC would hold it: a
// child process opens the file, takes the lock and keeps it until the object goes away.
#include <sys/types.h>

#include <string>

namespace mirte::testing {

class ForeignLock {
public:
  enum class Kind { Flock, Lockf, OfdWrite };

  // Returns once the child holds the lock; held() is false if it could not take it.
  ForeignLock(const std::string& path, Kind kind);
  ~ForeignLock();
  ForeignLock(const ForeignLock&) = delete;
  ForeignLock& operator=(const ForeignLock&) = delete;

  bool held() const { return isHeld; }
  // Ends the child, and with it the lock.
  void release();

private:
  pid_t child = -1;
  int toChild = -1;
  bool isHeld = false;
};

// True when another process can take the lock of this kind at once (and lets it go again).
bool OtherProcessCanLock(const std::string& path, ForeignLock::Kind kind);

}  // namespace mirte::testing
