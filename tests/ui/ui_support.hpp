#pragma once

// Helpers for tests that build real widgets: GTK is initialised once per
// process by a test environment (see ui_support.cpp).

#include <gtkmm/label.h>
#include <gtkmm/widget.h>
#include <gtkmm/window.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/gtk/widgets.hpp"

namespace irvelo::test {

// The texts of every label under `root`, joined by a space.
inline std::string label_texts(Gtk::Widget& root) {
  std::string texts = label_texts(root, " ");
  if (!texts.empty()) texts.pop_back();
  return texts;
}

// The colour (0xAARRGGBB, premultiplied) GTK paints at (x, y) of a widget
// inside a mapped window, rendered by that window's own renderer.
std::uint32_t rendered_pixel(Gtk::Widget& widget, int x, int y);

// A window holding `child`, shown and mapped (popovers need a mapped parent).
class ShownWindow {
 public:
  explicit ShownWindow(Gtk::Widget& child);
  ~ShownWindow();
  ShownWindow(const ShownWindow&) = delete;
  ShownWindow& operator=(const ShownWindow&) = delete;
  Gtk::Window& window() { return window_; }

 private:
  Gtk::Window window_;
};

}  // namespace irvelo::test
