#pragma once

// Helpers for tests that build real widgets: GTK is initialised once per
// process by a test environment (see ui_support.cpp); these walk widget trees
// and drive the main loop until the toolkit has caught up.

#include <gtkmm/label.h>
#include <gtkmm/widget.h>
#include <gtkmm/window.h>

#include <cstdint>
#include <string>
#include <vector>

namespace irvelo::test {

// Runs every pending main-loop event without blocking.
void drain_events();

// Every widget of type T under `root` (root included), depth first.
template <typename T>
std::vector<T*> find_all(Gtk::Widget& root) {
  std::vector<T*> out;
  if (auto* t = dynamic_cast<T*>(&root)) out.push_back(t);
  for (auto* child = root.get_first_child(); child; child = child->get_next_sibling()) {
    auto more = find_all<T>(*child);
    out.insert(out.end(), more.begin(), more.end());
  }
  return out;
}

// The texts of every label under `root`, joined by a space.
std::string label_texts(Gtk::Widget& root);

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
