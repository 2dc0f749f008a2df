#pragma once
// The toggle states of Caps Lock, Num Lock and Scroll Lock, read from the keyboard
// indicators of the X11 display the program runs on. Where there is no X11 display
// (Wayland, the offscreen platform) the states are unknown and shown as blanks.
#include <optional>
#include <string>

namespace mirte {

struct TLockKeys {
  bool Caps = false;
  bool Num = false;
  bool Scroll = false;
};

// "CAPS", "  NUM", "  SCROLL" for each key that is on, blanks of the same widths for each
// that is off or unknown: always 17 characters.
std::string KeyStateText(const std::optional<TLockKeys>& keys);

class TLockKeyReader {
public:
  TLockKeyReader();
  // Nothing when the display is not X11 or its keyboard extension is missing.
  std::optional<TLockKeys> Read() const;

private:
  void* display_ = nullptr;
  unsigned long capsAtom_ = 0, numAtom_ = 0, scrollAtom_ = 0;
};

}  // namespace mirte
