// The settings window: account, workspace, sign-out, and the choices.

#include <glib/gstdio.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/entry.h>
#include <gtkmm/listboxrow.h>
#include <gtkmm/spinbutton.h>
#include <gtkmm/switch.h>

#include <fstream>

#include "storage/autostart.hpp"
#include "storage/settings.hpp"
#include "ui/settings_window.hpp"
#include "views_fixture.hpp"

namespace irvelo::test {
namespace {

class SettingsWindowTest : public ViewsTest {
 protected:
  void open_settings() {
    window = std::make_unique<ui::SettingsWindow>(*store, settings);
    store->changed.connect([this] { window->sync(); });
    window->signal_settings_changed().connect([this] { ++settings_changes; });
  }
  void TearDown() override {
    if (window) window->hide();
    window.reset();
    ViewsTest::TearDown();
  }
  Gtk::Switch& autostart_switch() { return *find_all<Gtk::Switch>(*window).at(0); }
  Gtk::Switch& tray_switch() { return *find_all<Gtk::Switch>(*window).at(1); }
  // Whether the row holding the label with `text` is shown.
  bool row_shown(const std::string& text) {
    auto* label = label_with_text(*window, text);
    if (!label) throw std::runtime_error("no label " + text);
    for (Gtk::Widget* w = label; w; w = w->get_parent()) {
      if (dynamic_cast<Gtk::ListBoxRow*>(w)) return w->get_visible();
    }
    throw std::runtime_error("not in a row: " + text);
  }

  std::unique_ptr<ui::SettingsWindow> window;
  int settings_changes = 0;
};

TEST_F(SettingsWindowTest, ShowsTheAccountAndSwitchesTheWorkspace) {
  start_signed_in();
  open_settings();
  window->present();
  EXPECT_TRUE(row_shown("test@example.com"));
  EXPECT_TRUE(row_shown("127.0.0.1")) << "the server's host only";
  // A key from the environment is kept nowhere, and the window says so.
  EXPECT_TRUE(row_shown("Taken from IRVELO_API_KEY, not kept"));
  EXPECT_FALSE(row_shown("Not signed in. Open the panel from the system tray to sign in."));

  auto& dropdown = find_one<Gtk::DropDown>(*window);
  ASSERT_TRUE(dropdown.get_visible());
  EXPECT_EQ(dropdown.get_selected(), 0u);
  const auto before = server.requests().size();
  window->sync();
  EXPECT_EQ(server.requests().size(), before) << "a sync selects nothing at the service";

  dropdown.set_selected(1);
  EXPECT_EQ(store->workspace_id, server.workspace_ids()[1]);
  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(dropdown.get_selected(), 1u);

  // Switched elsewhere: the drop-down follows without switching again.
  store->select_workspace(server.workspace_ids()[0]);
  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(dropdown.get_selected(), 0u);
  EXPECT_EQ(store->workspace_id, server.workspace_ids()[0]);
}

TEST_F(SettingsWindowTest, SignOutShowsTheHint) {
  start_signed_in();
  open_settings();
  auto* button = label_with_text(*window, "Sign Out");
  ASSERT_TRUE(button);
  g_signal_emit_by_name(button->get_parent()->gobj(), "clicked");
  ASSERT_TRUE(run_until([this] { return store->phase == TrackerStore::Phase::SignedOut && !store->busy; }));
  EXPECT_TRUE(row_shown("Not signed in. Open the panel from the system tray to sign in."));
  EXPECT_FALSE(row_shown("Sign Out"));
  EXPECT_FALSE(row_shown("Signed in as"));
}

TEST_F(SettingsWindowTest, TheTraySwitchSavesTheSettingAndTellsTheApplication) {
  start_signed_in();
  open_settings();
  ASSERT_TRUE(tray_switch().get_active());
  tray_switch().set_active(false);
  EXPECT_EQ(settings_changes, 1);
  EXPECT_FALSE(settings.tray_shows_time);
  EXPECT_FALSE(Settings::load().tray_shows_time);
  tray_switch().set_active(true);
  EXPECT_EQ(settings_changes, 2);
  EXPECT_TRUE(Settings::load().tray_shows_time);
}

TEST_F(SettingsWindowTest, AwayAndReminderChoicesChangeEveryKey) {
  start_signed_in();
  open_settings();
  auto switches = find_all<Gtk::Switch>(*window);
  auto spins = find_all<Gtk::SpinButton>(*window);
  // The working hours and days, found by the defaults they show (the
  // workspace list brings an entry of its own).
  std::vector<Gtk::Entry*> entries;
  for (const char* shown : {"09:00-17:00", "1-5"}) {
    for (auto* entry : find_all<Gtk::Entry>(*window)) {
      if (entry->get_text() == shown) entries.push_back(entry);
    }
  }
  ASSERT_EQ(switches.size(), 5u);
  ASSERT_EQ(spins.size(), 2u);
  ASSERT_EQ(entries.size(), 2u);

  switches[2]->set_active(true);
  switches[3]->set_active(true);
  spins[0]->set_value(15);
  spins[1]->set_value(9);
  switches[4]->set_active(true);
  entries[0]->set_text("08:00-16:30");
  g_signal_emit_by_name(entries[0]->gobj(), "activate");
  entries[1]->set_text("1,2,3,4,6");
  g_signal_emit_by_name(entries[1]->gobj(), "activate");
  EXPECT_EQ(settings_changes, 7);

  // What cannot be read is marked and kept out of the file.
  entries[1]->set_text("Monday");
  g_signal_emit_by_name(entries[1]->gobj(), "activate");
  EXPECT_TRUE(entries[1]->has_css_class("error"));
  EXPECT_EQ(settings_changes, 7);

  const Settings saved = Settings::load();
  EXPECT_TRUE(saved.stop_on_lock);
  EXPECT_TRUE(saved.stop_on_sleep);
  EXPECT_EQ(saved.idle_stop_minutes, 15);
  EXPECT_EQ(saved.long_timer_hours, 9);
  EXPECT_TRUE(saved.remind_to_track);
  EXPECT_EQ(saved.work_hours, "08:00-16:30");
  EXPECT_EQ(saved.work_days, "1,2,3,4,6");

  spins[0]->set_value(1000);
  EXPECT_EQ(Settings::load().idle_stop_minutes, Settings::kMaxIdleStopMinutes);
}

TEST_F(SettingsWindowTest, TheAutostartSwitchFollowsTheEntryAndShowsAFailure) {
  struct Case {
    const char* name;
    bool block_directory;  // a plain file where the autostart folder belongs
    bool expect_enabled;
  };
  const Case cases[] = {{"writable", false, true}, {"blocked", true, false}};
  start_signed_in();
  const std::string dir = std::string(g_get_user_config_dir()) + "/autostart";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (autostart::enabled()) {
      ASSERT_EQ(autostart::set_enabled(false), "");
    }
    g_remove((dir + "/com.larkspan.Irvelo.desktop").c_str());
    g_rmdir(dir.c_str());
    if (c.block_directory) std::ofstream(dir) << "not a folder";
    open_settings();
    ASSERT_FALSE(autostart_switch().get_active());
    EXPECT_FALSE(row_shown("")) << "no error row at first";

    autostart_switch().set_active(true);
    EXPECT_EQ(g_file_test(dir.c_str(), G_FILE_TEST_IS_DIR), !c.block_directory);
    EXPECT_EQ(autostart::enabled(), c.expect_enabled);
    EXPECT_EQ(autostart_switch().get_active(), c.expect_enabled) << "the switch shows the entry";
    bool error_shown = false;
    for (auto* label : find_all<Gtk::Label>(*window)) {
      if (label->has_css_class("settings-error")) {
        error_shown = label->get_visible() && !label->get_text().empty() && label->get_parent()->get_visible();
      }
    }
    EXPECT_EQ(error_shown, c.block_directory) << label_texts(*window);
    window.reset();
    g_remove(dir.c_str());
  }
}

}  // namespace
}  // namespace irvelo::test
