#include "ui/tray_clock_icon.hpp"

#include <gtest/gtest.h>

namespace irvelo::ui {
namespace {

TEST(TrayClockIcon, WhereTheTimeGoes) {
  EXPECT_TRUE(clock_in_icon("icon", "GNOME"));
  EXPECT_TRUE(clock_in_icon("auto", "XFCE"));
  EXPECT_TRUE(clock_in_icon("auto", "KDE"));
  EXPECT_TRUE(clock_in_icon("auto", "ubuntu:kde"));
  EXPECT_FALSE(clock_in_icon("auto", "GNOME"));
  EXPECT_FALSE(clock_in_icon("auto", "X-KDEISH"));
  EXPECT_FALSE(clock_in_icon("auto", nullptr));
  EXPECT_FALSE(clock_in_icon("label", "XFCE"));
  EXPECT_FALSE(clock_in_icon("off", "XFCE"));
}

// The ring shows the minutes: more of it is white after half an hour, and the
// hours change the middle.
TEST(TrayClockIcon, MinutesAndHoursChangeWhatIsDrawn) {
  const auto white = [](const IconPixmap& p) {
    int count = 0;
    for (std::size_t i = 0; i + 3 < p.argb.size(); i += 4) {
      if (p.argb[i] == 255 && p.argb[i + 1] > 240 && p.argb[i + 2] > 240 && p.argb[i + 3] > 240) ++count;
    }
    return count;
  };
  const auto start = draw_clock_icon(0);
  const auto half = draw_clock_icon(30 * 60);
  const auto later = draw_clock_icon(3 * 3600 + 30 * 60);
  ASSERT_EQ(start.size(), std::size(kClockIconSizes));
  for (std::size_t i = 0; i < start.size(); ++i) {
    SCOPED_TRACE(start[i].size);
    ASSERT_EQ(start[i].argb.size(), static_cast<std::size_t>(start[i].size * start[i].size * 4));
    EXPECT_GT(white(half[i]), white(start[i]));
    EXPECT_NE(later[i].argb, half[i].argb);
    EXPECT_EQ(start[i].argb[0], 0) << "the corners stay transparent";
  }
}

}  // namespace
}  // namespace irvelo::ui
