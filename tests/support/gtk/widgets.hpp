#pragma once

// Shared by the suites that build real widgets: GTK set-up for a test
// process, walking widget trees, and letting the toolkit catch up.

#include <gtest/gtest.h>
#include <gtkmm/label.h>
#include <gtkmm/widget.h>

#include <string>
#include <vector>

namespace irvelo::test {

// Initialises GTK for this process and makes any GLib or GTK warning or
// critical fail the running test: such a message marks a fault of ours (a bad
// property, a broken stylesheet, a stray unref).
void init_gtk_for_tests();

// Runs init_gtk_for_tests once per process, before the first test; a suite
// registers it with ::testing::AddGlobalTestEnvironment.
class GtkEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { init_gtk_for_tests(); }
};

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

// The texts of every label under `root`, each followed by `separator`.
std::string label_texts(Gtk::Widget& root, const std::string& separator);

// Runs xdotool with these arguments and waits for it; the keys it sends are
// then queued on the display for this process's main loop. Fails the running
// test when xdotool cannot run or fails.
void xdotool(std::vector<std::string> args);

}  // namespace irvelo::test
