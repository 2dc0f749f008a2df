#include "serial/ser_misc.h"

#include <chrono>

namespace mirte {

std::uint32_t AdTimeGetTime() {
  auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

std::int32_t CurrentTicks() { return static_cast<std::int32_t>(AdTimeGetTime() / MSecsPerTick); }

void NewTimer(TEventTimer& Timer, std::int32_t Ticks) {
  if (Ticks > MaxTicks) Ticks = MaxTicks;
  if (Ticks < 0) Ticks = 0;
  Timer.StartTicks = CurrentTicks();
  Timer.ExpireTicks = Timer.StartTicks + Ticks;
}

bool TimerTicksExpired(const TEventTimer& Timer, std::int32_t Now) {
  if (Now < Timer.StartTicks) return Timer.ExpireTicks < Now + MaxTicks;
  return Now > Timer.ExpireTicks;
}

bool TimerExpired(const TEventTimer& Timer) { return TimerTicksExpired(Timer, CurrentTicks()); }

}  // namespace mirte
