#pragma once

// Where the panel goes on X11: beside the tray icon that was clicked, inside
// the monitor's work area, and back inside it whenever the panel grows (after
// sign-in it gets taller). On Wayland the compositor places windows; there
// this does nothing.

#include <gtkmm/window.h>
#include <sigc++/connection.h>

#include <optional>

namespace irvelo::ui {

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// A `width` x `height` window for a click at (click_x, click_y): centred on
// the click across, at the work area's top or bottom edge, whichever the
// click was nearer (where a horizontal panel is), and inside `area`.
[[nodiscard]] Rect place_beside(int click_x, int click_y, int width, int height, const Rect& area);
// `window` moved as little as it takes to lie inside `area`; a window larger
// than the area keeps its top left corner inside it.
[[nodiscard]] Rect keep_inside(const Rect& window, const Rect& area);

class PanelPlacement {
 public:
  explicit PanelPlacement(Gtk::Window& window);
  ~PanelPlacement();
  PanelPlacement(const PanelPlacement&) = delete;
  PanelPlacement& operator=(const PanelPlacement&) = delete;

  // Places the window beside a click at root coordinates (x, y) when it is
  // next mapped, or now if it is shown.
  void place_at(int x, int y);

 private:
  void on_realize();
  void on_map();
  void on_layout();
  void apply();

  Gtk::Window& window_;
  std::optional<std::pair<int, int>> click_;
  gulong layout_handler_ = 0;
  sigc::connection realize_;
  sigc::connection map_;
  sigc::connection unmap_;
};

}  // namespace irvelo::ui
