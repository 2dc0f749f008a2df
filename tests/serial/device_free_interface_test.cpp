// The dispatcher's interface is device-independent: including it must not bring the tty
// layer's system headers into the port, the session or anything above them.
#include "serial/com_port.h"
#include "serial/dispatcher.h"
#include "serial/event_signal.h"
#include "serial/line_settings.h"
#include "serial/modem_lines.h"

#if defined(TCSANOW) || defined(TCIFLUSH) || defined(TIOCMGET) || defined(TIOCM_DTR) || defined(FIONREAD)
#error "the dispatcher's interface brings termios or ioctl definitions into its includers"
#endif
