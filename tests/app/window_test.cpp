// The window decisions of the application in this process: when a command
// line, a tray host that comes or goes, a close or a quit shows or hides the
// panel. Later invocations are the real executable.

#include <glib.h>
#include <glibmm/main.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/entry.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "api/intervals.hpp"
#include "app/application.hpp"
#include "app_fixture.hpp"
#include "support/main_loop.hpp"

// Last: Xlib's macros would clash with names in the headers above.
#include <gdk/x11/gdkx.h>

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

class WindowTest : public AppSession {
 protected:
  void SetUp() override {
    AppSession::SetUp();
    primary_ = getpid();
    g_setenv("IRVELO_API_KEY", server_->api_key().c_str(), TRUE);
    g_setenv("IRVELO_SERVER", server_->base_url().c_str(), TRUE);
  }
  void TearDown() override {
    // Its bus connection must be gone before the private bus goes down.
    app.reset();
    g_unsetenv("IRVELO_API_KEY");
    g_unsetenv("IRVELO_SERVER");
    g_unsetenv("IRVELO_TEST_BACKGROUND_GRACE_MS");
    g_unsetenv("IRVELO_TEST_PANEL_RELEASE_SECONDS");
    AppSession::TearDown();
  }

  // Runs the application with `arguments`; `body` runs on its main loop once
  // the first command line has been answered. Unless the body ended it, the
  // application quits afterwards. Returns whether the body ran to its end.
  // With `ends_itself`, the body is expected to have ended the application;
  // if it is still running three seconds later it is ended and `forced` set.
  bool run(const std::vector<std::string>& arguments, const std::function<void()>& body, bool ends_itself = false) {
    app = Application::create();
    forced = false;
    bool finished = false;
    Glib::signal_idle().connect_once([&] {
      body();
      finished = true;
      if (!ends_itself) {
        app->quit_app();
        return;
      }
      Glib::signal_timeout().connect_once(
          [&] {
            forced = true;
            app->quit_app();
          },
          3000);
    });
    std::vector<std::string> args = {"irvelo-desktop"};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    app->run(static_cast<int>(args.size()), argv.data());
    return finished;
  }

  bool panel_shown() { return app->panel() != nullptr && app->panel()->get_visible(); }
  // Sends Escape to the panel's key controller, as the toolkit does.
  bool press_escape() {
    auto controllers = app->panel()->observe_controllers();
    for (guint i = 0; i < controllers->get_n_items(); ++i) {
      auto* object = static_cast<GObject*>(g_list_model_get_item(controllers->gobj(), i));
      const bool is_key = GTK_IS_EVENT_CONTROLLER_KEY(object);
      gboolean handled = FALSE;
      if (is_key) g_signal_emit_by_name(object, "key-pressed", GDK_KEY_Escape, 0u, GdkModifierType(0), &handled);
      g_object_unref(object);
      if (is_key) return handled;
    }
    return false;
  }
  // The panel's description entry, found as a user's eye finds it.
  static Gtk::Entry* find_description(Gtk::Widget& root) {
    if (auto* entry = dynamic_cast<Gtk::Entry*>(&root); entry && entry->has_css_class("description-field")) {
      return entry;
    }
    for (auto* child = root.get_first_child(); child != nullptr; child = child->get_next_sibling()) {
      if (auto* found = find_description(*child)) return found;
    }
    return nullptr;
  }
  bool tray_up() {
    return run_until([this] { return app->tray()->available(); });
  }
  // Sets `over` once the wait of a --background start has been decided: a
  // timeout of the same length connected after the application's own (the
  // body runs after the first command line) is dispatched after it.
  static void after_the_wait(bool& over) {
    Glib::signal_timeout().connect_once([&over] { over = true; }, api::background_grace_ms());
  }

  // The same for the delay after which a hidden panel is given back.
  static void after_the_release(bool& over) {
    Glib::signal_timeout().connect_once([&over] { over = true; }, api::panel_release_seconds() * 1000);
  }

  Glib::RefPtr<Application> app;
  bool forced = false;
};

TEST_F(WindowTest, APlainStartPresentsThePanelWithOrWithoutATrayHost) {
  for (const bool with_host : {true, false}) {
    SCOPED_TRACE(with_host ? "host" : "no host");
    if (!with_host) host_->vanish();
    EXPECT_TRUE(run({}, [&] { EXPECT_TRUE(panel_shown()); }));
    app.reset();
  }
}

// The wait keeps its full length here: the host comes after the start and
// has the two seconds to register. One that leaves again before the wait is
// over (a bar reloading) was seen all the same.
TEST_F(WindowTest, BackgroundStartStaysHiddenWhenAHostRegistersInTime) {
  for (const bool leaves : {true, false}) {
    SCOPED_TRACE(leaves ? "the host leaves within the wait" : "the host stays");
    host_->vanish();
    app.reset();
    EXPECT_TRUE(run({"--background"}, [&] {
      bool over = false;
      after_the_wait(over);
      EXPECT_FALSE(panel_shown());
      ASSERT_TRUE(host_->appear());
      ASSERT_TRUE(tray_up());
      if (leaves) {
        host_->vanish();
        ASSERT_TRUE(run_until([&] { return !app->tray()->available(); }));
      }
      ASSERT_FALSE(over) << "the host registered only after the wait";
      ASSERT_TRUE(run_until([&] { return over; }));
      EXPECT_FALSE(panel_shown()) << "a tray icon answered within the wait";
      if (leaves) {
        ASSERT_TRUE(host_->appear());
        ASSERT_TRUE(tray_up());
      }
      EXPECT_TRUE(app->held());
      // Nothing is built for a window nobody has opened yet.
      EXPECT_EQ(app->panel(), nullptr);
      EXPECT_TRUE(app->get_windows().empty());
      app->tray()->signal_activate().emit();
      EXPECT_TRUE(panel_shown());
    }));
  }
}

TEST_F(WindowTest, BackgroundStartWithoutHostPresentsThePanelAfterTheWait) {
  constexpr gint64 kWaitMs = 400;
  g_setenv("IRVELO_TEST_BACKGROUND_GRACE_MS", std::to_string(kWaitMs).c_str(), TRUE);
  host_->vanish();
  const gint64 started = g_get_monotonic_time();
  EXPECT_TRUE(run({"--background"}, [&] {
    EXPECT_FALSE(panel_shown());
    ASSERT_TRUE(run_until([&] { return panel_shown(); }));
    // A timeout never fires early: shown sooner, it was not the wait.
    EXPECT_GE(g_get_monotonic_time() - started, kWaitMs * 1000) << "shown before the wait was over";
  }));
}

TEST_F(WindowTest, ATimerShortcutLeavesAHiddenPanelHiddenWhileATrayShows) {
  EXPECT_TRUE(run({"--background"}, [&] {
    bool over = false;
    after_the_wait(over);
    ASSERT_TRUE(tray_up());
    ASSERT_TRUE(run_until([&] { return app->store()->phase == TrackerStore::Phase::Ready && !app->store()->busy; }));
    EXPECT_EQ(invoke({"--toggle"}), 0);
    ASSERT_TRUE(run_until([&] { return app->store()->running.has_value() && !app->store()->busy; }));
    // Neither the shortcut nor the end of the start's wait for a host shows it.
    ASSERT_TRUE(run_until([&] { return over; }));
    EXPECT_FALSE(panel_shown());

    // A host that leaves (a lock screen, a panel restarting) shows nothing;
    // without a tray the same shortcut brings the panel up.
    host_->vanish();
    ASSERT_TRUE(run_until([&] { return !app->tray()->available(); }));
    ASSERT_TRUE(run_until_idle());
    EXPECT_FALSE(panel_shown()) << "a host that left is not no host";
    EXPECT_EQ(invoke({"--stop"}), 0);
    EXPECT_TRUE(run_until([&] { return panel_shown(); }));
    EXPECT_TRUE(run_until([&] { return !app->store()->running.has_value() && !app->store()->busy; }));
  }));
}

TEST_F(WindowTest, ClosingHidesWithATrayAndQuitsWithout) {
  EXPECT_TRUE(run({}, [&] {
    ASSERT_TRUE(tray_up());
    ASSERT_TRUE(panel_shown());
    app->panel()->close();
    EXPECT_FALSE(panel_shown());
    // The tray's click brings it back, and a second click on the active
    // panel hides it again.
    app->tray()->signal_activate().emit();
    EXPECT_TRUE(panel_shown());
    ASSERT_TRUE(run_until([&] { return app->panel()->is_active(); }, 2s));
    app->tray()->signal_activate().emit();
    EXPECT_FALSE(panel_shown());
    app->tray()->signal_activate().emit();
    EXPECT_TRUE(panel_shown());
    // Shown again, it is the application's window, with its actions.
    EXPECT_EQ(app->panel()->get_application(), app);
    EXPECT_TRUE(app->panel()->activate_action("app.show-panel")) << "the application's actions reach it";
    // The click goes by what is on screen, even when another window has the focus.
    app->show_settings();
    ASSERT_TRUE(run_until([&] { return app->settings_window()->is_active(); }, 2s));
    app->tray()->signal_activate().emit();
    EXPECT_FALSE(panel_shown());
    app->settings_window()->close();
    app->tray()->signal_activate().emit();
    EXPECT_TRUE(panel_shown());
    // Escape closes it as well.
    ASSERT_TRUE(press_escape());
    EXPECT_FALSE(panel_shown());
  }));

  app.reset();
  host_->vanish();
  EXPECT_TRUE(run(
      {},
      [&] {
        ASSERT_TRUE(panel_shown());
        app->panel()->close();
      },
      true));
  EXPECT_FALSE(forced) << "closing the panel without a tray ends the application";
}

// What is typed right after a click on the tray goes into the description,
// whether or not a timer runs, never to the switch.
TEST_F(WindowTest, ThePanelOpensWithTheDescriptionFocused) {
  EXPECT_TRUE(run({"--background"}, [&] {
    ASSERT_TRUE(tray_up());
    TrackerStore& store = *app->store();
    ASSERT_TRUE(run_until([&] { return store.phase == TrackerStore::Phase::Ready && !store.busy; }));
    for (const bool tracking : {false, true}) {
      SCOPED_TRACE(tracking ? "tracking" : "idle");
      if (tracking) {
        store.start();
        ASSERT_TRUE(run_until([&] { return store.running && !store.busy; }));
      }
      app->tray()->signal_activate().emit();
      ASSERT_TRUE(panel_shown());
      Gtk::Entry* description = find_description(*app->panel());
      ASSERT_NE(description, nullptr);
      Gtk::Widget* focus = app->panel()->get_focus();
      EXPECT_TRUE(focus != nullptr && (focus == description || focus->is_ancestor(*description)));
      app->tray()->signal_activate().emit();
      ASSERT_FALSE(panel_shown());
    }
  }));
}

// On X11 a click on the tray opens the panel beside it, inside the screen,
// and a panel that grows stays inside.
TEST_F(WindowTest, ThePanelOpensBesideTheClickAndStaysOnScreen) {
  EXPECT_TRUE(run({"--background"}, [&] {
    ASSERT_TRUE(tray_up());
    const std::string item = app->tray()->bus_name();
    const auto frame = [&] {
      GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(app->panel()->gobj()));
      Display* display = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
      ui::Rect rect{0, 0, gdk_surface_get_width(surface), gdk_surface_get_height(surface)};
      ::Window child = 0;
      XTranslateCoordinates(display, gdk_x11_surface_get_xid(surface), DefaultRootWindow(display), 0, 0, &rect.x,
                            &rect.y, &child);
      return rect;
    };
    struct Click {
      int x;
      int y;
      bool top;
    };
    // The screen is 1280 x 800; no window manager reserves any of it.
    for (const Click click : {Click{1270, 5, true}, Click{3, 797, false}}) {
      SCOPED_TRACE(click.top ? "top right" : "bottom left");
      ASSERT_TRUE(host_->call(item, "Activate", g_variant_new("(ii)", click.x, click.y)));
      ASSERT_TRUE(panel_shown());
      ASSERT_TRUE(run_until([&] {
        const ui::Rect r = frame();
        return r.x >= 0 && r.x + r.width <= 1280 && (click.top ? r.y == 0 : r.y + r.height == 800) &&
               std::abs(r.x + r.width / 2 - click.x) <= r.width / 2 + 1;
      })) << frame().x
          << "," << frame().y << " " << frame().width << "x" << frame().height;
      if (!click.top) {
        // Grown as after sign-in, it moves up rather than off the screen.
        const int taller = frame().height + 150;
        app->panel()->set_size_request(-1, taller);
        ASSERT_TRUE(run_until([&] { return frame().height >= taller && frame().y + frame().height <= 800; }))
            << frame().y << " " << frame().height;
      }
      ASSERT_TRUE(host_->call(item, "Activate", g_variant_new("(ii)", click.x, click.y)));
      ASSERT_FALSE(panel_shown());
    }
  }));
}

// A host that opens the item's menu on a click (GNOME's) reaches everything
// through it; each entry says what it does now, and does it.
TEST_F(WindowTest, TheTrayMenuSaysWhatItDoesAndDoesIt) {
  EXPECT_TRUE(run(
      {"--background"},
      [&] {
        ASSERT_TRUE(tray_up());
        TrackerStore& store = *app->store();
        ASSERT_TRUE(run_until([&] { return store.phase == TrackerStore::Phase::Ready && !store.busy; }));
        const std::string item = app->tray()->bus_name();
        const auto labels = [&] {
          std::vector<std::string> shown;
          for (const auto& entry : host_->menu(item)) shown.push_back(entry.label + (entry.enabled ? "" : " (off)"));
          return shown;
        };
        const std::string last = store.recent_entries().front().description;
        const std::string continue_last = "_Continue “" + last + "”";
        EXPECT_EQ(labels(),
                  (std::vector<std::string>{"S_how Panel", "_Start Timer", continue_last, "_Settings…", "_Quit"}));

        ASSERT_TRUE(host_->click_menu(item, "S_how Panel"));
        ASSERT_TRUE(run_until([&] { return panel_shown() && labels().front() == "_Hide Panel"; }));
        ASSERT_TRUE(host_->click_menu(item, "_Hide Panel"));
        ASSERT_TRUE(run_until([&] { return !panel_shown() && labels().front() == "S_how Panel"; }));

        // An underscore in a description is no mnemonic.
        store.description = "Menu check_1";
        ASSERT_TRUE(host_->click_menu(item, "_Start Timer"));
        ASSERT_TRUE(run_until([&] { return store.running && !store.busy; }));
        ASSERT_TRUE(run_until([&] { return labels()[1] == "S_top Timer"; }));
        EXPECT_EQ(labels()[2], "_Continue Last Entry (off)");
        ASSERT_TRUE(host_->click_menu(item, "S_top Timer"));
        ASSERT_TRUE(run_until([&] { return !store.running && !store.busy; }));
        ASSERT_TRUE(settle());

        ASSERT_TRUE(run_until([&] { return labels()[2] == "_Continue “Menu check__1”"; }));
        ASSERT_TRUE(host_->click_menu(item, labels()[2]));
        ASSERT_TRUE(run_until([&] { return store.running && !store.busy; }));
        EXPECT_EQ(store.running->description, "Menu check_1");

        ASSERT_TRUE(host_->click_menu(item, "_Settings…"));
        ASSERT_TRUE(run_until([&] { return app->settings_window() && app->settings_window()->get_visible(); }));
        ASSERT_TRUE(host_->click_menu(item, "_Quit"));
      },
      true));
  EXPECT_FALSE(forced) << "Quit in the tray menu did not end the application";
}

TEST_F(WindowTest, TheSettingsWindowIsCreatedOnceAndDestroyedOnQuit) {
  EXPECT_TRUE(run({}, [&] {
    EXPECT_EQ(app->settings_window(), nullptr);
    app->panel()->activate_action("win.settings");
    ui::SettingsWindow* first = app->settings_window();
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->get_visible());
    EXPECT_EQ(first->get_transient_for(), app->panel());
    first->close();
    EXPECT_FALSE(first->get_visible());
    app->show_settings();
    EXPECT_EQ(app->settings_window(), first) << "the same window again";
    EXPECT_TRUE(first->get_visible());

    app->quit_app();
    EXPECT_EQ(app->settings_window(), nullptr);
    for (auto* window : app->get_windows()) EXPECT_FALSE(window->get_visible());
  }));
}

// A hidden panel is given back after a while and built anew from the store
// when it opens again, with what the user typed and chose still there.
TEST_F(WindowTest, AHiddenPanelIsReleasedAndComesBackAsItWas) {
  g_setenv("IRVELO_TEST_PANEL_RELEASE_SECONDS", "1", TRUE);
  EXPECT_TRUE(run({}, [&] {
    ASSERT_TRUE(tray_up());
    TrackerStore& store = *app->store();
    ASSERT_TRUE(run_until([&] { return store.phase == TrackerStore::Phase::Ready && !store.busy; }));
    ASSERT_FALSE(store.projects.empty());
    auto* entry = find_description(*app->panel());
    ASSERT_NE(entry, nullptr);
    entry->grab_focus();
    entry->set_text("Draft the release notes");
    store.select_project(store.projects.front().id);
    ASSERT_TRUE(run_until([&] { return !store.busy; }));

    app->panel()->activate_action("win.settings");
    app->panel()->close();
    // Kept while the settings window, which belongs to it, is open.
    bool over = false;
    after_the_release(over);
    ASSERT_TRUE(run_until([&] { return over; }));
    ASSERT_NE(app->panel(), nullptr);
    app->settings_window()->close();
    ASSERT_TRUE(run_until([&] { return app->panel() == nullptr; }, 5s));
    EXPECT_EQ(app->settings_window(), nullptr);
    EXPECT_TRUE(app->get_windows().empty());

    app->tray()->signal_activate().emit();
    ASSERT_TRUE(panel_shown());
    entry = find_description(*app->panel());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->get_text(), "Draft the release notes");
    EXPECT_EQ(store.project_id, std::optional<std::string>(store.projects.front().id));
    // Shown again before the delay is over, it stays.
    app->panel()->close();
    app->tray()->signal_activate().emit();
    over = false;
    after_the_release(over);
    ASSERT_TRUE(run_until([&] { return over; }));
    EXPECT_TRUE(panel_shown());
  }));
}

TEST_F(WindowTest, AcceleratorsAndEscape) {
  EXPECT_TRUE(run({}, [&] {
    const std::pair<const char*, const char*> table[] = {{"win.refresh", "<Control>r"},
                                                         {"win.open-browser", "<Control>o"},
                                                         {"win.settings", "<Control>comma"},
                                                         {"app.quit", "<Control>q"}};
    for (const auto& [action, accel] : table) {
      const auto accels = app->get_accels_for_action(action);
      ASSERT_EQ(accels.size(), 1u) << action;
      EXPECT_EQ(accels[0], accel) << action;
    }
  }));
}

}  // namespace
}  // namespace irvelo::test
