#pragma once

// The running time drawn into the tray icon, for tray hosts that show icons
// but not the label beside them: a disc with the hours in its middle and a
// ring that fills with the minutes, legible from 16 pixels up.

#include <cstdint>
#include <string>
#include <vector>

namespace irvelo::ui {

struct IconPixmap {
  int size = 0;
  // ARGB, one byte each, row by row, not premultiplied: as StatusNotifierItem's IconPixmap carries it.
  std::vector<std::uint8_t> argb;
};

inline constexpr int kClockIconSizes[] = {16, 22, 24, 32, 48, 64};

// Whether the running time goes into the icon for the `tray_time_style`
// setting ("auto", "label", "icon" or "off"). "auto" draws it on every host
// but those known to draw the label: the watcher's owner `host_program`
// (argv[0]'s base name, empty when unknown) is GNOME Shell or an Ayatana
// indicator service, or XDG_CURRENT_DESKTOP (`current_desktop`, null when
// unset) names GNOME or Unity.
[[nodiscard]] bool clock_in_icon(const std::string& style, const char* current_desktop,
                                 const std::string& host_program);

// The icon for `seconds` of running time, in each of kClockIconSizes.
[[nodiscard]] std::vector<IconPixmap> draw_clock_icon(std::int64_t seconds);

}  // namespace irvelo::ui
