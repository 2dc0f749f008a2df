#pragma once
// Time base of the serial layer: a millisecond clock and timers counted in ticks of 55 ms.
// A timer expires when the current tick is past its expiry tick, also across a wrap of the
// 32-bit tick count.
#include <cstdint>

namespace mirte {

inline constexpr std::int32_t kMSecsPerTick = 55;
inline constexpr std::int32_t kMaxTicks = 39045157;  // the most ticks that fit in 2^31 ms

struct TEventTimer {
  std::int32_t StartTicks = 0;
  std::int32_t ExpireTicks = 0;
};

// Milliseconds of a monotonic clock (wraps at 2^32).
std::uint32_t AdTimeGetTime();
std::int32_t CurrentTicks();
void NewTimer(TEventTimer& timer, std::int32_t ticks);
bool TimerTicksExpired(const TEventTimer& timer, std::int32_t now);
bool TimerExpired(const TEventTimer& timer);

}  // namespace mirte
