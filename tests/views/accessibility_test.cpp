// Every control a screen reader finds over AT-SPI has a name of its own: not
// empty, and not the type name the toolkit reports for a control it cannot
// name. The walk runs in a separate process (tests/views/atspi-walk) while this
// one keeps its main loop turning to answer it.

#include <gio/gio.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/expander.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/popover.h>
#include <gtkmm/switch.h>
#include <gtkmm/togglebutton.h>
#include <unistd.h>

#include <iostream>
#include <regex>
#include <sstream>

#include "ui/project_picker.hpp"
#include "ui/settings_window.hpp"
#include "ui/task_picker.hpp"
#include "views_fixture.hpp"

namespace irvelo::test {
namespace {

struct Control {
  std::string role;
  std::string name;
};

class AccessibilityTest : public ViewsTest {
 protected:
  void SetUp() override {
    // The suite runs without the accessibility bridge; this test is what it
    // is for. The toolkit reads the variable when it makes its first widget.
    g_setenv("GTK_A11Y", "atspi", TRUE);
    ViewsTest::SetUp();
  }

  // The controls on screen, as the walker announces them.
  std::vector<Control> walk() {
    struct Outcome {
      bool done = false;
      bool ok = false;
      std::string out;
    } outcome;
    const std::string pid = std::to_string(getpid());
    GError* error = nullptr;
    GSubprocess* proc =
        g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, &error, IRVELO_ATSPI_WALK, pid.c_str(), nullptr);
    if (!proc) {
      ADD_FAILURE() << "cannot start the walker: " << error->message;
      g_error_free(error);
      return {};
    }
    g_subprocess_communicate_utf8_async(
        proc, nullptr, nullptr,
        +[](GObject* source, GAsyncResult* result, gpointer data) {
          auto* o = static_cast<Outcome*>(data);
          char* text = nullptr;
          auto* p = G_SUBPROCESS(source);
          if (g_subprocess_communicate_utf8_finish(p, result, &text, nullptr, nullptr)) {
            o->ok = g_subprocess_get_successful(p);
            o->out = text ? text : "";
          }
          g_free(text);
          o->done = true;
        },
        &outcome);
    if (!run_until([&] { return outcome.done; }, std::chrono::seconds(60))) {
      g_subprocess_force_exit(proc);
      run_until([&] { return outcome.done; });
      ADD_FAILURE() << "the walk did not finish";
    }
    g_object_unref(proc);
    EXPECT_TRUE(outcome.ok) << "the walker failed";
    const std::string out = outcome.out;
    std::vector<Control> controls;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      const auto tab = line.find('\t');
      if (tab == std::string::npos) continue;
      controls.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return controls;
  }

  // Walks the tree, fails for every control without a real name, and checks
  // that each of `expected` is among the names (so an empty walk cannot pass).
  void expect_named(const std::vector<std::string>& expected) {
    static const std::regex type_name("^(gtkmm__)?Gtk[A-Za-z]+$");
    const auto controls = walk();
    std::string all;
    for (const auto& c : controls) {
      all += c.role + ": " + c.name + "\n";
      EXPECT_FALSE(c.name.empty() || std::regex_match(c.name, type_name)) << c.role << " named \"" << c.name << "\"";
    }
    std::cout << "controls announced:\n" << all;
    for (const auto& name : expected) {
      bool found = false;
      for (const auto& c : controls) found = found || c.name == name;
      EXPECT_TRUE(found) << "no control named \"" << name << "\" among\n" << all;
    }
  }
};

TEST_F(AccessibilityTest, SignedOutPageWithTheKeyFieldAndAnError) {
  start_signed_out();
  show_panel();
  find_one<Gtk::Expander>(page("signed-out")).set_expanded(true);
  store->error = "That API key is not valid.";
  panel->sync();
  expect_named({"Server", "Sign In with Browser", "Use an API key instead", "API key", "Connect", "Quit", "Dismiss"});
}

TEST_F(AccessibilityTest, LoadingPage) {
  devserver::Fault slow;
  slow.status = 0;
  slow.delay_ms = 30000;
  slow.count = -1;
  server.inject_fault("/api/v1/*", slow);
  store = std::make_unique<TrackerStore>(settings, TrackerStore::Ephemeral{server.base_url(), server.api_key()});
  make_panel();
  show_panel();
  ASSERT_EQ(visible_page(), "loading");
  expect_named({});
  EXPECT_EQ(visible_page(), "loading") << "the walk saw another page";
}

TEST_F(AccessibilityTest, ReadyPageWithARunningTimerTasksAndRecentRows) {
  start_signed_in();
  store->select_project(std::optional<std::string>("p_website"));
  ASSERT_TRUE(wait_idle());
  store->start();
  ASSERT_TRUE(wait_idle());
  ASSERT_TRUE(store->running);
  store->error = "Required before starting: description";
  show_panel();
  panel->sync();
  expect_named({"Timer", "Description", "Project", "Task", "Billable", "Open in Browser", "Discard the running timer",
                "More", "Dismiss"});
}

TEST_F(AccessibilityTest, MoreMenu) {
  start_signed_in();
  show_panel();
  auto* more = find_all<Gtk::MenuButton>(*panel->get_titlebar()).at(0);
  more->popup();
  ASSERT_TRUE(run_until([&] { return more->get_popover() && more->get_popover()->get_mapped(); }));
  expect_named({"More", "Refresh", "Open in Browser", "Settings\u2026", "Sign Out", "Quit Irvelo"});
}

TEST_F(AccessibilityTest, TaskPickerOpen) {
  start_signed_in();
  store->select_project(std::optional<std::string>("p_website"));
  ASSERT_TRUE(wait_idle());
  show_panel();
  auto& picker = find_one<ui::TaskPicker>(page("ready"));
  find_all<Gtk::ToggleButton>(picker).at(0)->set_active(true);
  ASSERT_TRUE(run_until([&] {
    auto popovers = find_all<Gtk::Popover>(picker);
    return !popovers.empty() && popovers[0]->get_mapped();
  }));
  expect_named({"Task", "Design", "Build"});
}

TEST_F(AccessibilityTest, ProjectPickerOpenWithItsSearch) {
  start_signed_in();
  show_panel();
  ASSERT_TRUE(wait_idle());
  drain_events();
  auto& picker = find_one<ui::ProjectPicker>(page("ready"));
  // Enough projects for the search entry, in a favourite and a client section.
  std::vector<api::PickerProject> projects(13);
  for (std::size_t i = 0; i < projects.size(); ++i) {
    projects[i].id = "p" + std::to_string(i);
    projects[i].name = "Project " + std::to_string(i);
    projects[i].color = "#336699";
    projects[i].favorite = i == 0;
    if (i % 2 == 1) projects[i].client_name = "Acme";
  }
  picker.set_projects(projects);
  picker.popup();
  ASSERT_TRUE(run_until([&] { return picker.get_popover() && picker.get_popover()->get_mapped(); }));
  expect_named({"Project", "Search projects", "No project", "Favorites", "Project 0", "Acme", "Project 1"});
  // Closed before the panel goes: a popover torn down while mapped leaves the
  // toolkit a pointer update for a surface that no longer exists.
  picker.get_popover()->popdown();
  ASSERT_TRUE(run_until([&] { return !picker.get_popover()->get_mapped(); }));
  drain_events();
}

TEST_F(AccessibilityTest, SettingsWindowSignedIn) {
  start_signed_in();
  ui::SettingsWindow window(*store, settings);
  window.present();
  ASSERT_TRUE(run_until([&] { return window.get_mapped(); }));
  expect_named({"Open at login", "Show elapsed time in the system tray", "Workspace", "Sign Out"});
  window.hide();
}

}  // namespace
}  // namespace irvelo::test
