#include "ui/tray_clock_icon.hpp"

#include <gtest/gtest.h>

namespace irvelo::ui {
namespace {

TEST(TrayClockIcon, WhereTheTimeGoes) {
  struct Row {
    const char* style;
    const char* desktop;
    const char* host;
    bool in_icon;
  };
  const Row rows[] = {
      {"icon", "GNOME", "gnome-shell", true},
      {"auto", "XFCE", "xfce4-panel", true},
      {"auto", "KDE", "plasmashell", true},
      // sway with Waybar: no label is drawn anywhere.
      {"auto", "sway", "waybar", true},
      {"auto", nullptr, "waybar", true},
      {"auto", nullptr, "", true},
      {"auto", "X-GNOMEISH", "", true},
      // GNOME Shell's extension draws the label, whatever the session says.
      {"auto", nullptr, "gnome-shell", false},
      {"auto", "ubuntu:GNOME", "", false},
      {"auto", "Unity", "", false},
      {"auto", "MATE", "ayatana-indicator-application-service", false},
      {"label", "XFCE", "xfce4-panel", false},
      {"off", "XFCE", "xfce4-panel", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(clock_in_icon(row.style, row.desktop, row.host), row.in_icon)
        << row.style << " " << (row.desktop ? row.desktop : "(unset)") << " " << row.host;
  }
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
