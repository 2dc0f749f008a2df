#pragma once
// A board played over a pseudo-terminal against either program that serves one: the main
// window in this process, or mirte-serve as a process of its own. Both get the same set-up
// (a program folder holding the program file `mirte`, its settings file and dosdevices/,
// a working folder, drives), each the way its user gives it: the window through its
// settings and drive links, the server through its command line. A test then speaks to
// the board's line and asks the front end only what both can tell, so the same bytes must
// come back from both.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace mirte::testing {

enum class TFrontEndKind { Window, Serve };

struct TFrontEndSetUp {
  std::filesystem::path ProgramFolder;  // the program file `mirte`, mirte.SET, dosdevices/
  std::filesystem::path Device;         // the board's line
  std::filesystem::path WorkFolder;
  std::vector<std::pair<char, std::filesystem::path>> Drives;  // drive letter, its folder
};

class IBoardFrontEnd {
public:
  virtual ~IBoardFrontEnd() = default;
  // Starts serving; false, with the reason in `why`, when the board is not served.
  virtual bool Start(const TFrontEndSetUp& setUp, std::string& why) = 0;
  // Lets the program run for a moment, as its own loop would: the window's events are
  // handled here; the server runs by itself and this only waits.
  virtual void Turn() = 0;
  // The program runs idle for `time`, as in its own loop when nothing comes: the window
  // waits in its event loop, the server by itself.
  virtual void Idle(std::chrono::milliseconds time) = 0;
  // Runs `board` to its end while the program goes on as in its own loop. The window
  // waits for each reply to leave before it takes the next frame, so in this process a
  // board that stops reading must play on a thread of its own; the server is another
  // process already, and the board plays here.
  virtual void RunBesides(const std::function<void()>& board) = 0;
  // Everything the console has shown so far, as text: the screen's rows (blanks at their
  // ends dropped) joined by CR LF, or the bytes written to the console's output.
  virtual std::string Console() = 0;
  // Whether the program holds its port as lost (and is waiting for the device).
  virtual bool PortLost() = 0;
  // Processor time spent so far by the program, in seconds.
  virtual double CpuSeconds() = 0;
  // What a user of this front end sees once the port is lost, and once it is back; each
  // front end checks its own way of telling it.
  virtual void ExpectShownLost() = 0;
  virtual void ExpectShownServing() = 0;
  // Ends serving as the user would; the port is let go.
  virtual void Stop() = 0;
};

std::unique_ptr<IBoardFrontEnd> MakeWindowFrontEnd();
// `program` is the built mirte-serve.
std::unique_ptr<IBoardFrontEnd> MakeServeFrontEnd(const std::string& program);

const char* FrontEndName(TFrontEndKind kind);

// The program folder, the board's pseudo-terminal reached through a link the rig can point
// at another one (an unplug and a plug-in), and the front end serving them.
class BoardRig {
public:
  explicit BoardRig(std::unique_ptr<IBoardFrontEnd> frontEnd);
  ~BoardRig();

  TempFolder folder;
  std::unique_ptr<PtyPair> board = std::make_unique<PtyPair>();
  IBoardFrontEnd& FrontEnd() { return *frontEnd; }

  // Starts the front end with this working folder and these drives; what the board is
  // sent before is dropped. False (with a note for the test's failure) when it does not
  // come up.
  bool Start(const std::filesystem::path& work, std::vector<std::pair<char, std::filesystem::path>> drives = {});
  void Stop();

  // The board sends `bytes`; the program is given its turns meanwhile.
  void Send(const std::vector<std::uint8_t>& bytes);
  void Send(const std::string& bytes);
  // The board waits for `count` reply bytes while the program has its turns; fewer when
  // `limit` passes first. The limit is far beyond any reply on a loaded machine: a reply
  // given up on arrives later and is taken for the next one.
  std::vector<std::uint8_t> Reply(std::size_t count, std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
  std::vector<std::uint8_t> Exchange(const std::string& bytes, std::size_t replySize);
  // The program runs on its own for `time` while the board reads nothing.
  void RunFor(std::chrono::milliseconds time);
  // Runs the program until `done` holds; false when `limit` passes first.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

  // The board plays `play` on its own (reading and writing `board` directly, never the
  // front end) while the program runs.
  void PlayBoard(const std::function<void()>& play) { frontEnd->RunBesides(play); }

  // The board's pseudo-terminal goes; its link points where nothing is.
  void Unplug();
  // A new pseudo-terminal under the same link.
  void Replug();

  const std::string& Note() const { return note; }

private:
  void LinkDevice(const std::filesystem::path& target);

  std::unique_ptr<IBoardFrontEnd> frontEnd;
  std::filesystem::path device;
  std::string note;
  bool started = false;
};

}  // namespace mirte::testing
