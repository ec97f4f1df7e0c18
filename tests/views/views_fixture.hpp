#pragma once

// A real store talking to an in-process development service, and the real
// panel window built for it and wired to it as the application wires it.

#include <gtest/gtest.h>
#include <gtkmm/stack.h>
#include <gtkmm/widget.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/tracker_store.hpp"
#include "dev_server.hpp"
#include "storage/settings.hpp"
#include "support/gtk/widgets.hpp"
#include "support/main_loop.hpp"
#include "ui/panel_window.hpp"

namespace irvelo::test {

// The single widget of type T under `root`; fails the test unless exactly one.
template <typename T>
T& find_one(Gtk::Widget& root) {
  auto all = find_all<T>(root);
  EXPECT_EQ(all.size(), 1u) << "widgets of the asked type";
  if (all.empty()) throw std::runtime_error("widget not found");
  return *all.front();
}

// Texts of every label under `root`, each followed by a newline.
inline std::string label_texts(Gtk::Widget& root) {
  return label_texts(root, "\n");
}

// The label whose text is `text` under `root`, or null.
Gtk::Label* label_with_text(Gtk::Widget& root, const std::string& text);

class ViewsTest : public ::testing::Test {
 protected:
  void SetUp() override { settings = Settings::load(); }
  void TearDown() override;

  // A store signed in with the service's key through the environment route,
  // and the panel for it; waits until the data is loaded.
  void start_signed_in();
  // A store with no key at all, and the panel for it.
  void start_signed_out();
  // Builds the panel for the store and wires it as the application does.
  void make_panel();
  // Presents the panel and waits until it is mapped.
  void show_panel();

  bool wait_idle() {
    return run_until([this] { return store->phase == TrackerStore::Phase::Ready && !store->busy; });
  }

  [[nodiscard]] bool was_sent(const std::string& method, const std::string& path_suffix) const;
  // The body of the last request ending in `path_suffix`, or "".
  [[nodiscard]] std::string last_body(const std::string& method, const std::string& path_suffix) const;
  [[nodiscard]] std::string ws_path(const std::string& suffix) const {
    return "/api/v1/workspaces/" + store->workspace_id + suffix;
  }

  Gtk::Stack& stack();
  // A page of the panel's stack.
  Gtk::Widget& page(const std::string& name);
  [[nodiscard]] std::string visible_page();

  devserver::DevServer server;
  Settings settings;
  std::unique_ptr<TrackerStore> store;
  std::unique_ptr<ui::PanelWindow> panel;
};

}  // namespace irvelo::test
