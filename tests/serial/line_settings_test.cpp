#include "serial/line_termios.h"

#include <gtest/gtest.h>

namespace mirte {
namespace {

TEST(LineSettings, FramingRoundTripsThroughTermios) {
  struct Case {
    std::uint8_t dataBits;
    TParity parity;
    TLineStopBits stop;
    tcflag_t size, parityFlags;
    bool twoStop;
  };
  const Case cases[] = {
      {8, pNone, OneStopBit, CS8, 0, false},
      {8, pNone, TwoStopBits, CS8, 0, true},
      {7, pOdd, OneStopBit, CS7, PARENB | PARODD, false},
      {7, pEven, TwoStopBits, CS7, PARENB, true},
      {6, pMark, OneStopBit, CS6, PARENB | PARODD | CMSPAR, false},
      {8, pSpace, OneStopBit, CS8, PARENB | CMSPAR, false},
      {5, pNone, One5StopBits, CS5, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.dataBits) << " data, parity " << int(c.parity));
    TLineSettings settings;
    settings.DataBits = c.dataBits;
    settings.Parity = c.parity;
    settings.StopBits = c.stop;
    termios tio{};
    ASSERT_TRUE(StoreLineSettings(settings, tio));
    EXPECT_EQ(tio.c_cflag & CSIZE, c.size);
    EXPECT_EQ(tio.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.twoStop);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));

    TLineSettings back;
    LoadLineSettings(tio, back);
    EXPECT_EQ(back.DataBits, c.dataBits);
    EXPECT_EQ(back.Parity, c.parity);
    EXPECT_EQ(back.StopBits, c.stop);
  }
}

TEST(LineSettings, FlowControlMapsToRtsCtsAndXonXoff) {
  TLineSettings settings;
  settings.OutxCtsFlow = true;
  settings.OutX = true;
  settings.XonChar = 0x11;
  settings.XoffChar = 0x13;
  termios tio{};
  ASSERT_TRUE(StoreLineSettings(settings, tio));
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  EXPECT_TRUE(tio.c_iflag & IXON);
  EXPECT_FALSE(tio.c_iflag & IXOFF);
  EXPECT_EQ(tio.c_cc[VSTART], 0x11);
  EXPECT_EQ(tio.c_cc[VSTOP], 0x13);

  settings = {};
  settings.RtsControl = LineHandshake;
  settings.InX = true;
  ASSERT_TRUE(StoreLineSettings(settings, tio));
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  EXPECT_TRUE(tio.c_iflag & IXOFF);
  EXPECT_FALSE(tio.c_iflag & IXON);
}

TEST(LineSettings, RefusesImpossibleDataBits) {
  TLineSettings settings;
  termios tio{};
  for (std::uint8_t bits : {0, 4, 9}) {
    settings.DataBits = bits;
    EXPECT_FALSE(StoreLineSettings(settings, tio)) << int(bits);
  }
}

TEST(LineSettings, StandardSpeedsHaveConstantsOthersNeedArbitrarySpeeds) {
  EXPECT_EQ(StandardSpeed(115200), static_cast<speed_t>(B115200));
  EXPECT_EQ(StandardSpeed(9600), static_cast<speed_t>(B9600));
  EXPECT_EQ(StandardSpeed(250000), 0u);
  EXPECT_EQ(StandardSpeed(0), 0u);
  EXPECT_EQ(StandardSpeed(-5), 0u);
  EXPECT_EQ(SpeedToBaud(B57600), 57600);
}

}  // namespace
}  // namespace mirte
