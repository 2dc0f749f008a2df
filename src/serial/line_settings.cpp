#include "serial/line_termios.h"

#include <array>
#include <utility>

namespace mirte {

namespace {

constexpr std::array<std::pair<std::int32_t, speed_t>, 31> kStandardSpeeds{{
    {50, B50},         {75, B75},           {110, B110},         {134, B134},         {150, B150},
    {200, B200},       {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
    {2400, B2400},     {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},   {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000}, {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    {0, B0},
}};

}  // namespace

speed_t StandardSpeed(std::int32_t baud) {
  if (baud <= 0) return 0;
  for (auto [rate, speed] : kStandardSpeeds)
    if (rate == baud) return speed;
  return 0;
}

std::int32_t SpeedToBaud(speed_t speed) {
  for (auto [rate, constant] : kStandardSpeeds)
    if (constant == speed) return rate;
  return 0;
}

bool StoreLineSettings(const TLineSettings& settings, termios& tio) {
  tcflag_t size = 0;
  switch (settings.DataBits) {
    case 5: size = CS5; break;
    case 6: size = CS6; break;
    case 7: size = CS7; break;
    case 8: size = CS8; break;
    default: return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= size;
  switch (settings.Parity) {
    case pOdd: tio.c_cflag |= PARENB | PARODD; break;
    case pEven: tio.c_cflag |= PARENB; break;
    case pMark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case pSpace: tio.c_cflag |= PARENB | CMSPAR; break;
    case pNone: break;
  }
  // termios knows one or two stop bits; one and a half is what two means at 5 data bits.
  if (settings.StopBits != OneStopBit) tio.c_cflag |= CSTOPB;
  if (settings.OutxCtsFlow || settings.RtsControl == LineHandshake) tio.c_cflag |= CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  if (settings.OutX) tio.c_iflag |= IXON;
  if (settings.InX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = static_cast<cc_t>(settings.XonChar);
  tio.c_cc[VSTOP] = static_cast<cc_t>(settings.XoffChar);
  // Reads return at once with whatever is waiting.
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  return true;
}

void LoadLineSettings(const termios& tio, TLineSettings& settings) {
  switch (tio.c_cflag & CSIZE) {
    case CS5: settings.DataBits = 5; break;
    case CS6: settings.DataBits = 6; break;
    case CS7: settings.DataBits = 7; break;
    default: settings.DataBits = 8; break;
  }
  if (!(tio.c_cflag & PARENB))
    settings.Parity = pNone;
  else if (tio.c_cflag & CMSPAR)
    settings.Parity = (tio.c_cflag & PARODD) ? pMark : pSpace;
  else
    settings.Parity = (tio.c_cflag & PARODD) ? pOdd : pEven;
  if (!(tio.c_cflag & CSTOPB))
    settings.StopBits = OneStopBit;
  else
    settings.StopBits = settings.DataBits == 5 ? One5StopBits : TwoStopBits;
  settings.OutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  if (!settings.OutxCtsFlow && settings.RtsControl == LineHandshake) settings.RtsControl = LineEnable;
  settings.OutX = (tio.c_iflag & IXON) != 0;
  settings.InX = (tio.c_iflag & IXOFF) != 0;
  settings.XonChar = static_cast<char>(tio.c_cc[VSTART]);
  settings.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
}

}  // namespace mirte
