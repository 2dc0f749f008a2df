#pragma once
// Message numbers of the serial layer: trigger messages delivered by a dispatcher (its
// handle in the high 16 bits of the second parameter) and the notifications a port sends
// its user windows (both parameters 0).
#include <cstdint>

namespace mirte {

inline constexpr std::uint32_t AvailTriggerMsg = 0x7E01;
inline constexpr std::uint32_t DataTriggerMsg = 0x7E02;
inline constexpr std::uint32_t TimerTriggerMsg = 0x7E03;
inline constexpr std::uint32_t StatusTriggerMsg = 0x7E04;
inline constexpr std::uint32_t PortOpenedMsg = 0x7E08;
inline constexpr std::uint32_t PortClosedMsg = 0x7E09;
inline constexpr std::uint32_t PortClosingMsg = 0x7E0A;
// Posted by a dispatcher to its port when the device has gone away (unplugged, hung up).
inline constexpr std::uint32_t kDeviceLostMsg = 0x7E0B;

}  // namespace mirte
