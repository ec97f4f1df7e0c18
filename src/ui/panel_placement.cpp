#include "ui/panel_placement.hpp"

#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include <algorithm>

namespace irvelo::ui {
namespace {

struct X11Surface {
  Display* display = nullptr;
  ::Window xid = 0;
  GdkSurface* surface = nullptr;
};

std::optional<X11Surface> x11_surface(Gtk::Window& window) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window.gobj()));
  if (surface == nullptr || !GDK_IS_X11_SURFACE(surface)) return std::nullopt;
  return X11Surface{gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface)), gdk_x11_surface_get_xid(surface),
                    surface};
}

// The work area, in device pixels, of the monitor holding (x, y), or of the
// one the surface is on.
Rect work_area(const X11Surface& x11, std::optional<std::pair<int, int>> point) {
  GdkDisplay* display = gdk_surface_get_display(x11.surface);
  GdkMonitor* chosen = nullptr;
  GListModel* monitors = gdk_display_get_monitors(display);
  for (guint i = 0; point && chosen == nullptr && i < g_list_model_get_n_items(monitors); ++i) {
    auto* monitor = static_cast<GdkMonitor*>(g_list_model_get_item(monitors, i));
    GdkRectangle geometry;
    gdk_monitor_get_geometry(monitor, &geometry);
    const int scale = gdk_monitor_get_scale_factor(monitor);
    const GdkRectangle device{geometry.x * scale, geometry.y * scale, geometry.width * scale, geometry.height * scale};
    if (point->first >= device.x && point->first < device.x + device.width && point->second >= device.y &&
        point->second < device.y + device.height) {
      chosen = monitor;
    }
    g_object_unref(monitor);
  }
  if (chosen == nullptr) chosen = gdk_display_get_monitor_at_surface(display, x11.surface);
  if (chosen == nullptr) return {};
  GdkRectangle area;
  gdk_x11_monitor_get_workarea(chosen, &area);
  const int scale = gdk_monitor_get_scale_factor(chosen);
  return {area.x * scale, area.y * scale, area.width * scale, area.height * scale};
}

Rect frame_of(const X11Surface& x11) {
  const int scale = gdk_surface_get_scale_factor(x11.surface);
  Rect rect{0, 0, gdk_surface_get_width(x11.surface) * scale, gdk_surface_get_height(x11.surface) * scale};
  ::Window child = 0;
  XTranslateCoordinates(x11.display, x11.xid, DefaultRootWindow(x11.display), 0, 0, &rect.x, &rect.y, &child);
  return rect;
}

}  // namespace

Rect place_beside(int click_x, int click_y, int width, int height, const Rect& area) {
  Rect placed{click_x - width / 2, 0, width, height};
  const bool nearer_top = click_y - area.y < area.y + area.height - click_y;
  placed.y = nearer_top ? area.y : area.y + area.height - height;
  return keep_inside(placed, area);
}

Rect keep_inside(const Rect& window, const Rect& area) {
  Rect moved = window;
  moved.x = std::max(area.x, std::min(window.x, area.x + area.width - window.width));
  moved.y = std::max(area.y, std::min(window.y, area.y + area.height - window.height));
  return moved;
}

PanelPlacement::PanelPlacement(Gtk::Window& window) : window_(window) {
  realize_ = window_.signal_realize().connect(sigc::mem_fun(*this, &PanelPlacement::on_realize), true);
  map_ = window_.signal_map().connect(sigc::mem_fun(*this, &PanelPlacement::on_map), true);
  // A panel shown again without a click (a shortcut, the menu) goes where
  // the window manager puts it.
  unmap_ = window_.signal_unmap().connect([this] { click_.reset(); });
}

PanelPlacement::~PanelPlacement() {
  realize_.disconnect();
  map_.disconnect();
  unmap_.disconnect();
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window_.gobj()));
  if (surface != nullptr && layout_handler_ != 0) g_signal_handler_disconnect(surface, layout_handler_);
}

void PanelPlacement::place_at(int x, int y) {
  click_ = std::make_pair(x, y);
  if (window_.get_mapped()) apply();
}

void PanelPlacement::on_realize() {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window_.gobj()));
  if (surface == nullptr || !GDK_IS_X11_SURFACE(surface)) return;
  // Emitted whenever the surface's size changes.
  layout_handler_ =
      g_signal_connect_swapped(surface, "layout", G_CALLBACK(+[](PanelPlacement* self) { self->on_layout(); }), this);
}

void PanelPlacement::on_map() {
  if (click_) apply();
}

void PanelPlacement::on_layout() {
  const auto x11 = x11_surface(window_);
  if (!x11 || !window_.get_mapped()) return;
  if (click_) {
    apply();
    return;
  }
  const Rect frame = frame_of(*x11);
  const Rect inside = keep_inside(frame, work_area(*x11, std::nullopt));
  if (inside.x != frame.x || inside.y != frame.y) {
    XMoveWindow(x11->display, x11->xid, inside.x, inside.y);
    XFlush(x11->display);
  }
}

void PanelPlacement::apply() {
  const auto x11 = x11_surface(window_);
  if (!x11 || !click_) return;
  const Rect frame = frame_of(*x11);
  const Rect placed = place_beside(click_->first, click_->second, frame.width, frame.height, work_area(*x11, click_));
  if (placed.x != frame.x || placed.y != frame.y) {
    XMoveWindow(x11->display, x11->xid, placed.x, placed.y);
    XFlush(x11->display);
  }
}

}  // namespace irvelo::ui
