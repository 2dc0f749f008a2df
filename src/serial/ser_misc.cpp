#include "serial/ser_misc.h"

#include <chrono>

namespace mirte {

std::uint32_t AdTimeGetTime() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::int32_t CurrentTicks() { return static_cast<std::int32_t>(AdTimeGetTime() / kMSecsPerTick); }

void NewTimer(TEventTimer& timer, std::int32_t ticks) {
  if (ticks > kMaxTicks) ticks = kMaxTicks;
  if (ticks < 0) ticks = 0;
  timer.StartTicks = CurrentTicks();
  timer.ExpireTicks = timer.StartTicks + ticks;
}

bool TimerTicksExpired(const TEventTimer& timer, std::int32_t now) {
  if (now < timer.StartTicks) return timer.ExpireTicks < now + kMaxTicks;
  return now > timer.ExpireTicks;
}

bool TimerExpired(const TEventTimer& timer) { return TimerTicksExpired(timer, CurrentTicks()); }

}  // namespace mirte
