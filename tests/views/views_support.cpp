#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/label.h>
#include <gtkmm/stack.h>

#include <string_view>

#include "views_fixture.hpp"

namespace irvelo::test {

namespace {

[[maybe_unused]] auto* const gtk_environment = ::testing::AddGlobalTestEnvironment(new GtkEnvironment);

}  // namespace

Gtk::Label* label_with_text(Gtk::Widget& root, const std::string& text) {
  for (auto* label : find_all<Gtk::Label>(root)) {
    if (label->get_text().raw() == text) return label;
  }
  return nullptr;
}

void ViewsTest::TearDown() {
  if (panel) {
    panel->hide();
    panel.reset();
  }
  store.reset();
  drain_events();
}

void ViewsTest::start_signed_in() {
  store = std::make_unique<TrackerStore>(settings, TrackerStore::Ephemeral{server.base_url(), server.api_key()});
  make_panel();
  ASSERT_TRUE(wait_idle()) << "the store never became ready";
}

void ViewsTest::start_signed_out() {
  store = std::make_unique<TrackerStore>(settings, std::nullopt);
  make_panel();
  // Once the keyring has said that it holds no key.
  ASSERT_TRUE(run_until([this] { return store->phase == TrackerStore::Phase::SignedOut; }));
}

void ViewsTest::make_panel() {
  panel = std::make_unique<ui::PanelWindow>(*store);
  // As the application keeps it: closing only hides.
  panel->set_hide_on_close(true);
  store->changed.connect([this] { panel->sync(); });
  store->tick.connect([this] { panel->sync_clock(); });
}

void ViewsTest::show_panel() {
  panel->present();
  ASSERT_TRUE(run_until([this] { return panel->get_mapped(); })) << "panel never mapped";
}

bool ViewsTest::was_sent(const std::string& method, const std::string& path_suffix) const {
  for (const auto& r : server.requests()) {
    if (r.method == method && r.path.ends_with(path_suffix)) return true;
  }
  return false;
}

std::string ViewsTest::last_body(const std::string& method, const std::string& path_suffix) const {
  std::string body;
  for (const auto& r : server.requests()) {
    if (r.method == method && r.path.ends_with(path_suffix)) body = r.body;
  }
  return body;
}

Gtk::Widget& ViewsTest::page(const std::string& name) {
  auto* child = stack().get_child_by_name(name);
  if (!child) throw std::runtime_error("no page " + name);
  return *child;
}

Gtk::Stack& ViewsTest::stack() {
  auto* s = dynamic_cast<Gtk::Stack*>(panel->get_child());
  if (!s) throw std::runtime_error("the panel's child is not its stack");
  return *s;
}

std::string ViewsTest::visible_page() {
  return stack().get_visible_child_name();
}

}  // namespace irvelo::test
