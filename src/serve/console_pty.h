#pragma once
// The board's console on a pseudo-terminal of its own: the slave is linked at a path the
// user chose, so terminal programs and scripts can attach there, leave and attach again
// while the board is served. The server keeps a slave descriptor open itself, so a client
// leaving never hangs the line up; what the board shows while nobody is attached waits in
// the terminal (as far as it holds; beyond that the oldest output is not kept). The line is
// raw: bytes pass both ways unchanged. The link is removed again at the end.
#include <string>

namespace mirte {

class TConsolePty {
public:
  TConsolePty() = default;
  ~TConsolePty();
  TConsolePty(const TConsolePty&) = delete;
  TConsolePty& operator=(const TConsolePty&) = delete;

  // False, with the reason in `error`, when no terminal could be had or the link made; an
  // existing file at `link` is replaced only when it is a symbolic link.
  bool Open(const std::string& link, std::string& error);
  // The master side: reads give typed keys, writes reach the client.
  int Fd() const { return master_; }
  const std::string& SlaveName() const { return slaveName_; }

private:
  int master_ = -1;
  int keepSlave_ = -1;
  std::string linkPath_;
  std::string slaveName_;
};

}  // namespace mirte
