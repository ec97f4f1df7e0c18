// The panel and the settings window driven by key presses alone, sent
// through the X server (xdotool) as a keyboard would send them.

#include <gtkmm/checkbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/expander.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/popover.h>
#include <gtkmm/switch.h>

#include <initializer_list>

#include "ui/settings_window.hpp"
#include "views_fixture.hpp"

// From <gdk/x11/gdkx.h>, declared here: that header brings in Xlib, whose
// macros clash with the C++ headers of this file.
extern "C" unsigned long gdk_x11_surface_get_xid(GdkSurface* surface);

namespace irvelo::test {
namespace {

class KeyboardTest : public ViewsTest {
 protected:
  // Gives `window` the keyboard focus, as a click on it would.
  static void focus(Gtk::Window& window) {
    const auto xid = gdk_x11_surface_get_xid(window.get_surface()->gobj());
    xdotool({"windowfocus", "--sync", std::to_string(xid)});
    ASSERT_TRUE(run_until([&] { return window.is_active(); })) << "the window never became active";
  }

  // Whether the focus is on `widget` or inside it.
  bool focus_in(Gtk::Widget& widget) {
    for (auto* w = panel->get_focus(); w; w = w->get_parent()) {
      if (w == &widget) return true;
    }
    return false;
  }

  // Presses Tab until the focus reaches `widget`, at most `limit` times.
  bool tab_to(Gtk::Widget& widget, int limit = 12) {
    for (int i = 0; i < limit && !focus_in(widget); ++i) {
      xdotool({"key", "Tab"});
      run_until_idle();
    }
    return focus_in(widget);
  }
};

TEST_F(KeyboardTest, SignInWithAKeyThenStartAndStopTheTimer) {
  start_signed_out();
  show_panel();
  focus(*panel);
  // The first keystroke must not replace the server address: the focus
  // starts on the browser sign-in, not in the address.
  auto* focused = dynamic_cast<Gtk::Button*>(panel->get_focus());
  ASSERT_NE(focused, nullptr) << "the focus starts on a button";
  EXPECT_EQ(focused->get_label(), "Sign In with Browser");
  auto& signed_out = page("signed-out");
  for (auto* entry : find_all<Gtk::Entry>(signed_out)) {
    int start = 0;
    int end = 0;
    EXPECT_FALSE(entry->get_selection_bounds(start, end)) << "selected text in " << entry->get_text();
  }
  // The sign-in uses this server: its address is typed over the default.
  auto& server_entry = *find_all<Gtk::Entry>(signed_out).at(0);
  server_entry.set_text(server.base_url());

  auto& expander = find_one<Gtk::Expander>(signed_out);
  ASSERT_TRUE(tab_to(expander));
  xdotool({"key", "space"});
  ASSERT_TRUE(run_until([&] { return expander.get_expanded(); }));
  ASSERT_TRUE(tab_to(find_one<Gtk::PasswordEntry>(signed_out)));
  xdotool({"type", "--delay", "2", server.api_key()});
  xdotool({"key", "Return"});
  ASSERT_TRUE(wait_idle()) << "the key sign-in never finished";
  ASSERT_EQ(visible_page(), "ready");

  auto& timer = find_one<Gtk::Switch>(page("ready"));
  ASSERT_TRUE(tab_to(timer));
  xdotool({"key", "space"});
  ASSERT_TRUE(run_until([&] { return store->running.has_value() && !store->busy; }));
  // A change that greys the controls out while it is saved leaves the
  // focus where it was.
  auto& billable = find_one<Gtk::CheckButton>(page("ready"));
  ASSERT_TRUE(tab_to(billable));
  const bool was_billable = store->billable;
  xdotool({"key", "space"});
  ASSERT_TRUE(run_until([&] { return store->billable != was_billable && !store->busy; }));
  EXPECT_TRUE(was_sent("PATCH", "/time-entries/" + store->running->id));
  EXPECT_TRUE(focus_in(billable));
  // Back to the switch, and stop.
  for (int i = 0; i < 12 && !focus_in(timer); ++i) {
    xdotool({"key", "shift+Tab"});
    run_until_idle();
  }
  ASSERT_TRUE(focus_in(timer));
  xdotool({"key", "space"});
  ASSERT_TRUE(run_until([&] { return !store->running.has_value() && !store->busy; }));
  EXPECT_TRUE(was_sent("POST", ws_path("/timer/start")));
  EXPECT_TRUE(was_sent("POST", ws_path("/timer/stop")));
}

// Every control a user can operate on a page, with whatever it shows at the time.
std::vector<Gtk::Widget*> controls(Gtk::Widget& root) {
  std::vector<Gtk::Widget*> out;
  auto add = [&](Gtk::Widget* w) {
    if (w->is_drawable() && w->is_sensitive()) out.push_back(w);
  };
  for (auto* w : find_all<Gtk::Button>(root)) add(w);
  for (auto* w : find_all<Gtk::MenuButton>(root)) add(w);
  for (auto* w : find_all<Gtk::DropDown>(root)) add(w);
  for (auto* w : find_all<Gtk::Switch>(root)) add(w);
  for (auto* w : find_all<Gtk::CheckButton>(root)) add(w);
  for (auto* w : find_all<Gtk::Entry>(root)) add(w);
  for (auto* w : find_all<Gtk::PasswordEntry>(root)) add(w);
  for (auto* w : find_all<Gtk::Expander>(root)) add(w);
  return out;
}

TEST_F(KeyboardTest, TabReachesEveryControlOfEachPage) {
  struct Case {
    const char* page;
    bool signed_in;
  };
  for (const Case& c : {Case{"signed-out", false}, Case{"ready", true}}) {
    SCOPED_TRACE(c.page);
    if (panel) panel->hide();
    panel.reset();
    store.reset();
    if (c.signed_in) {
      start_signed_in();
      store->select_project(std::optional<std::string>("p_website"));
      ASSERT_TRUE(wait_idle());
    } else {
      start_signed_out();
    }
    show_panel();
    if (!c.signed_in) find_one<Gtk::Expander>(page(c.page)).set_expanded(true);
    focus(*panel);
    std::vector<Gtk::Widget*> visited;
    auto watch = panel->property_focus_widget().signal_changed().connect([&] {
      if (auto* f = panel->get_focus()) visited.push_back(f);
    });
    const auto wanted = controls(page(c.page));
    ASSERT_GT(wanted.size(), 4u);
    for (std::size_t i = 0; i < wanted.size() + 4; ++i) {
      xdotool({"key", "Tab"});
      run_until_idle();
    }
    watch.disconnect();
    for (auto* control : wanted) {
      bool reached = false;
      for (auto* f : visited) reached = reached || f == control || f->is_ancestor(*control);
      EXPECT_TRUE(reached) << G_OBJECT_TYPE_NAME(control->gobj()) << " " << label_texts(*control, " ");
    }
  }
}

TEST_F(KeyboardTest, EscapeClosesAnOpenMenuFirstAndTheFocusReturnsToItsButton) {
  start_signed_in();
  store->select_project(std::optional<std::string>("p_website"));
  ASSERT_TRUE(wait_idle());
  show_panel();
  focus(*panel);
  auto& more = *find_all<Gtk::MenuButton>(*panel->get_titlebar()).at(0);
  auto& tasks = find_one<Gtk::DropDown>(page("ready"));
  for (Gtk::Widget* button : std::initializer_list<Gtk::Widget*>{&more, &tasks}) {
    SCOPED_TRACE(G_OBJECT_TYPE_NAME(button->gobj()));
    auto& popover = *find_all<Gtk::Popover>(*button).at(0);
    ASSERT_TRUE(tab_to(*button));
    xdotool({"key", "Return"});
    ASSERT_TRUE(run_until([&] { return popover.get_mapped(); }));
    xdotool({"key", "Escape"});
    ASSERT_TRUE(run_until([&] { return !popover.get_mapped(); }));
    run_until_idle();
    EXPECT_TRUE(panel->get_visible()) << "Escape in a menu closed the panel";
    EXPECT_TRUE(focus_in(*button));
  }
  xdotool({"key", "Escape"});
  EXPECT_TRUE(run_until([&] { return !panel->get_visible(); }));
}

TEST_F(KeyboardTest, EscapeClosesTheSettingsWindow) {
  start_signed_in();
  ui::SettingsWindow window(*store, settings);
  window.present();
  ASSERT_TRUE(run_until([&] { return window.get_mapped(); }));
  focus(window);
  xdotool({"key", "Escape"});
  EXPECT_TRUE(run_until([&] { return !window.get_visible(); }));
}

}  // namespace
}  // namespace irvelo::test
