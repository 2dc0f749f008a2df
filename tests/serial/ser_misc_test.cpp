#include "serial/ser_misc.h"

#include <gtest/gtest.h>

namespace mirte {
namespace {

TEST(TickTimer, ExpiresPastItsTickAlsoAcrossAWrap) {
  struct Case {
    std::int32_t start, expire, now;
    bool expired;
  };
  const Case cases[] = {
      {100, 136, 136, false},  // at the expiry tick: not yet
      {100, 136, 137, true},
      {100, 136, 50, true},    // the clock wrapped below the start: long past
      {100, 100 + kMaxTicks, 99, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TimerTicksExpired({c.start, c.expire}, c.now), c.expired) << c.start << " " << c.expire << " " << c.now;
}

TEST(TickTimer, NewTimersCountFromNowAndCapTheirLength) {
  TEventTimer timer;
  NewTimer(timer, 36);
  EXPECT_EQ(timer.ExpireTicks - timer.StartTicks, 36);
  EXPECT_FALSE(TimerExpired(timer));
  NewTimer(timer, kMaxTicks + 5);
  EXPECT_EQ(timer.ExpireTicks - timer.StartTicks, kMaxTicks);
  NewTimer(timer, 0);
  EXPECT_FALSE(TimerTicksExpired(timer, timer.StartTicks));
}

}  // namespace
}  // namespace mirte
