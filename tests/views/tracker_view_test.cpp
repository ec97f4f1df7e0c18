// The tracker view inside the real panel, against the development service.

#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/entry.h>
#include <gtkmm/expander.h>
#include <gtkmm/listbox.h>
#include <gtkmm/listview.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/switch.h>

#include <functional>
#include <vector>

#include "storage/credentials.hpp"
#include "ui/color_dot.hpp"
#include "ui/error_banner.hpp"
#include "ui/project_picker.hpp"
#include "ui/task_picker.hpp"
#include "views_fixture.hpp"

namespace irvelo::test {
namespace {

// The normal answer, after a delay.
devserver::Fault delayed(int ms) {
  devserver::Fault fault;
  fault.status = 0;
  fault.delay_ms = ms;
  return fault;
}

class TrackerViewTest : public ViewsTest {
 protected:
  Gtk::Widget& view() { return page("ready"); }
  Gtk::Switch& timer_switch() { return find_one<Gtk::Switch>(view()); }
  Gtk::Entry& description() {
    for (auto* e : find_all<Gtk::Entry>(view())) {
      if (e->has_css_class("description-field")) return *e;
    }
    throw std::runtime_error("no description entry");
  }
  Gtk::CheckButton& billable() { return find_one<Gtk::CheckButton>(view()); }
  ui::ErrorBanner& banner() { return find_one<ui::ErrorBanner>(view()); }
  Gtk::Widget& card() {
    for (auto* box : find_all<Gtk::Box>(view())) {
      if (box->has_css_class("timer-card")) return *box;
    }
    throw std::runtime_error("no timer card");
  }
  std::vector<Gtk::Button*> recent_rows() {
    std::vector<Gtk::Button*> out;
    for (auto* b : find_all<Gtk::Button>(view())) {
      if (b->has_css_class("recent-row")) out.push_back(b);
    }
    return out;
  }
  Gtk::Button& discard_button() {
    for (auto* b : find_all<Gtk::Button>(view())) {
      if (b->has_css_class("destructive-action")) return *b;
    }
    throw std::runtime_error("no discard button");
  }
  // Chooses a project the way a user does: open the picker, activate its row.
  void choose_project(const std::string& name) {
    auto& picker = find_one<ui::ProjectPicker>(view());
    picker.popup();
    drain_events();
    auto& list = find_one<Gtk::ListView>(*picker.get_popover());
    const auto rows = std::dynamic_pointer_cast<Gio::ListModel>(list.get_model());
    ASSERT_TRUE(rows);
    bool chosen = false;
    for (guint i = 0; i < rows->get_n_items() && !chosen; ++i) {
      auto row = std::dynamic_pointer_cast<ui::PickerRow>(rows->get_object(i));
      if (row && row->title == name) {
        // What a click or Enter on the row does.
        g_signal_emit_by_name(list.gobj(), "activate", i);
        chosen = true;
      }
    }
    ASSERT_TRUE(chosen) << "no row for " << name;
  }
};

TEST_F(TrackerViewTest, SignInWithAKeyInTheSignInViewShowsTheTracker) {
  start_signed_out();
  show_panel();
  EXPECT_EQ(visible_page(), "signed-out");

  auto& sign_in = page("signed-out");
  find_one<Gtk::Entry>(sign_in).set_text(server.base_url());
  find_one<Gtk::Expander>(sign_in).set_expanded(true);
  auto& key = find_one<Gtk::PasswordEntry>(sign_in);
  key.set_text(server.api_key());
  g_signal_emit_by_name(key.gobj(), "activate");

  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(visible_page(), "ready");
  const std::string header = label_texts(*panel->get_titlebar());
  EXPECT_NE(header.find("Alpha Team\n"), std::string::npos) << header;
  EXPECT_NE(header.find("test@example.com\n"), std::string::npos) << header;
  EXPECT_TRUE(run_until([&] {
    return Credentials::load(server.base_url()) == std::optional<std::string>(server.api_key());
  })) << "the key was stored";
}

TEST_F(TrackerViewTest, TheSwitchStartsAndStopsTheTimer) {
  start_signed_in();
  show_panel();
  auto& sw = timer_switch();
  ASSERT_FALSE(sw.get_active());

  sw.set_active(true);
  // While its own start is under way the switch shows the flip and stays usable.
  EXPECT_TRUE(store->busy);
  EXPECT_TRUE(sw.get_active());
  EXPECT_TRUE(sw.get_sensitive());
  ASSERT_TRUE(wait_idle());
  ASSERT_TRUE(store->running.has_value());
  EXPECT_TRUE(was_sent("POST", ws_path("/timer/start")));
  EXPECT_TRUE(sw.get_active());
  EXPECT_TRUE(card().has_css_class("tracking"));
  EXPECT_TRUE(discard_button().get_visible());
  EXPECT_NE(label_texts(card()).find("Started at "), std::string::npos) << label_texts(card());
  EXPECT_EQ(sw.get_tooltip_text(), "Stop timer");

  sw.set_active(false);
  EXPECT_FALSE(sw.get_active());
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(was_sent("POST", ws_path("/timer/stop")));
  EXPECT_FALSE(store->running.has_value());
  EXPECT_FALSE(sw.get_active());
  EXPECT_FALSE(card().has_css_class("tracking"));
  EXPECT_FALSE(discard_button().get_visible());
  EXPECT_NE(label_texts(card()).find("Not tracking\n"), std::string::npos);
}

TEST_F(TrackerViewTest, ARefusedStartFlipsTheSwitchBackAndShowsTheBanner) {
  struct Case {
    const char* name;
    bool require_project;
    int status;
    const char* message_part;
  };
  const Case cases[] = {
      {"service error", false, 500, ""},
      {"required project", true, 0, "Required before starting"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    server.reset_state();
    server.set_rules(server.workspace_ids().front(), c.require_project, false, false);
    start_signed_in();
    show_panel();
    if (c.status != 0) {
      devserver::Fault fault;
      fault.status = c.status;
      fault.body = R"({"error":{"code":"internal","message":"The service failed."}})";
      server.inject_fault(ws_path("/timer/start"), fault);
    }
    timer_switch().set_active(true);
    ASSERT_TRUE(wait_idle());
    EXPECT_FALSE(store->running.has_value());
    EXPECT_FALSE(timer_switch().get_active()) << "the switch returns to the store's state";
    EXPECT_TRUE(timer_switch().get_sensitive());
    ASSERT_TRUE(store->error.has_value());
    EXPECT_NE(store->error->find(c.message_part), std::string::npos) << *store->error;
    EXPECT_TRUE(banner().get_reveal_child());
    EXPECT_TRUE(label_with_text(banner(), *store->error)) << label_texts(banner());

    panel->hide();
    panel.reset();
    store.reset();
  }
}

TEST_F(TrackerViewTest, TypingWhileARefreshArrivesKeepsEveryCharacterAndEnterSaves) {
  start_signed_in();
  show_panel();
  description().set_text("Draft");
  timer_switch().set_active(true);
  ASSERT_TRUE(wait_idle());
  ASSERT_TRUE(store->running);
  ASSERT_EQ(description().get_text(), "Draft");

  auto& entry = description();
  entry.grab_focus();
  ASSERT_TRUE(run_until([this] { return store->editing_description; })) << "focus never reached the entry";
  entry.set_text("Draft notes");
  server.inject_fault("/api/v1/me", delayed(200));
  int changes = 0;
  store->changed.connect([&changes] { ++changes; });
  store->refresh_all();
  // The user goes on typing while the answers come in.
  int position = entry.get_text_length();
  entry.insert_text(" on", 3, position);
  ASSERT_TRUE(run_until([&] { return changes > 0 && !store->busy; })) << "the refresh never answered";
  EXPECT_EQ(entry.get_text(), "Draft notes on");
  position = entry.get_text_length();
  entry.insert_text(" tests", 6, position);
  // Even a change of the store's text while typing does not reach the entry.
  store->changed.emit();
  EXPECT_EQ(entry.get_text(), "Draft notes on tests");
  EXPECT_EQ(store->description, "Draft notes on tests");

  g_signal_emit_by_name(entry.gobj(), "activate");
  const std::string entry_id = store->running->id;
  EXPECT_TRUE(run_until([&] {
    return last_body("PATCH", "/time-entries/" + entry_id).find("Draft notes on tests") != std::string::npos;
  })) << "Enter did not save the description";
  ASSERT_TRUE(wait_idle());
  // The store reads the running entry back after saving.
  EXPECT_TRUE(run_until([this] { return store->running && store->running->description == "Draft notes on tests"; }));
  EXPECT_TRUE(store->running) << "Enter with a timer running only saves";
}

TEST_F(TrackerViewTest, EnterWithoutATimerStartsOneAndLeavingTheFieldClearsEditing) {
  start_signed_in();
  show_panel();
  auto& entry = description();
  entry.grab_focus();
  ASSERT_TRUE(run_until([this] { return store->editing_description; }));
  entry.set_text("Reading");
  g_signal_emit_by_name(entry.gobj(), "activate");
  ASSERT_TRUE(wait_idle());
  ASSERT_TRUE(store->running) << store->error.value_or("");
  EXPECT_EQ(store->running->description, "Reading");
  EXPECT_NE(last_body("POST", ws_path("/timer/start")).find("Reading"), std::string::npos);

  timer_switch().grab_focus();
  EXPECT_TRUE(run_until([this] { return !store->editing_description; }));
}

// While the start is on its way, a second Enter or the switch flipped off
// and on again must not start a second entry.
TEST_F(TrackerViewTest, EnterTwiceOrTheSwitchFlippedBackStartsOnce) {
  start_signed_in();
  show_panel();
  const auto starts = [this] {
    int n = 0;
    for (const auto& r : server.requests()) n += r.method == "POST" && r.path == ws_path("/timer/start") ? 1 : 0;
    return n;
  };
  auto& entry = description();
  entry.grab_focus();
  entry.set_text("Reading");
  server.inject_fault(ws_path("/timer/start"), delayed(300));
  g_signal_emit_by_name(entry.gobj(), "activate");
  g_signal_emit_by_name(entry.gobj(), "activate");
  ASSERT_TRUE(wait_idle());
  ASSERT_TRUE(store->running);
  EXPECT_EQ(starts(), 1);

  timer_switch().set_active(false);
  ASSERT_TRUE(run_until([this] { return !store->running && !store->busy; }));
  server.inject_fault(ws_path("/timer/start"), delayed(300));
  auto& sw = timer_switch();
  sw.set_active(true);
  sw.set_active(false);
  sw.set_active(true);
  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(starts(), 2);
  EXPECT_TRUE(store->running);
  EXPECT_TRUE(sw.get_active());
}

TEST_F(TrackerViewTest, ProjectTaskAndBillableChoicesGoIntoTheNextStart) {
  start_signed_in();
  show_panel();
  auto& tasks = find_one<ui::TaskPicker>(view());
  EXPECT_FALSE(tasks.get_parent()->get_visible()) << "no task row without a project";

  choose_project("Website");
  ASSERT_TRUE(wait_idle());
  EXPECT_EQ(store->project_id, std::optional<std::string>("p_website"));
  ASSERT_TRUE(tasks.get_parent()->get_visible()) << "the project has tasks";

  tasks.set_selected(2);  // after "No task": Design, Build
  EXPECT_EQ(store->task_id, std::optional<std::string>("t_build"));

  ASSERT_TRUE(billable().get_visible());
  billable().set_active(false);
  EXPECT_FALSE(store->billable);
  billable().set_active(true);
  EXPECT_TRUE(store->billable);

  timer_switch().set_active(true);
  ASSERT_TRUE(wait_idle());
  const std::string body = last_body("POST", ws_path("/timer/start"));
  EXPECT_NE(body.find("\"p_website\""), std::string::npos) << body;
  EXPECT_NE(body.find("\"t_build\""), std::string::npos) << body;
  EXPECT_NE(body.find("\"isBillable\":true"), std::string::npos) << body;

  // A project change of the running timer is saved; meanwhile the switch,
  // which did not start that operation, is greyed out.
  choose_project("Research");
  EXPECT_TRUE(store->busy);
  EXPECT_FALSE(timer_switch().get_sensitive());
  EXPECT_FALSE(tasks.get_parent()->get_visible()) << "Research has no tasks";
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(timer_switch().get_sensitive());
  EXPECT_NE(last_body("PATCH", "/time-entries/" + store->running->id).find("p_research"), std::string::npos);
}

TEST_F(TrackerViewTest, ARecentRowContinuesItsEntryAfterTheClick) {
  start_signed_in();
  show_panel();
  auto rows = recent_rows();
  ASSERT_FALSE(rows.empty());
  // Newest first: the seeded "Homepage layout" on Website, task Build.
  const std::string row_text = label_texts(*rows.front());
  EXPECT_NE(row_text.find("Homepage layout\n"), std::string::npos) << row_text;
  EXPECT_NE(row_text.find("Website \u00b7 Build \u00b7 Acme Corp\n"), std::string::npos) << row_text;
  EXPECT_FALSE(find_one<ui::ColorDot>(*rows.front()).is_hollow());

  g_signal_emit_by_name(rows.front()->gobj(), "clicked");
  EXPECT_FALSE(store->busy) << "the continue waits for the next idle moment";
  ASSERT_TRUE(run_until([this] { return store->running.has_value() && !store->busy; }));
  EXPECT_EQ(store->running->description, "Homepage layout");
  ASSERT_TRUE(store->running->task);
  EXPECT_EQ(store->running->task->id, "t_build");
  bool continued = false;
  for (const auto& r : server.requests()) continued |= r.method == "POST" && r.path.ends_with("/continue");
  EXPECT_TRUE(continued);
  EXPECT_TRUE(timer_switch().get_active());
}

TEST_F(TrackerViewTest, RecentRowsStayWhileNothingChangesAndAreInsensitiveWhileBusy) {
  start_signed_in();
  auto before = recent_rows();
  ASSERT_FALSE(before.empty());
  panel->sync();
  panel->sync();
  EXPECT_EQ(recent_rows(), before) << "the same buttons, not rebuilt";

  // A start that takes a while keeps the store busy.
  server.inject_fault(ws_path("/timer/start"), delayed(300));
  timer_switch().set_active(true);
  ASSERT_TRUE(store->busy);
  ASSERT_FALSE(recent_rows().empty());
  for (auto* row : recent_rows()) EXPECT_FALSE(row->get_sensitive());
  ASSERT_TRUE(wait_idle());
  for (auto* row : recent_rows()) EXPECT_TRUE(row->get_sensitive());
}

TEST_F(TrackerViewTest, ARecentRowIsRebuiltWhenItsEntryChangesInAnyWayItHolds) {
  struct Case {
    const char* what;
    std::function<void(api::TimeEntry&)> change;
    const char* shown;  // a text the rebuilt row shows, if any
  };
  const std::vector<Case> cases = {
      {"task renamed", [](api::TimeEntry& e) { e.task->name = "Renamed task"; }, "Renamed task"},
      {"replaced by a look-alike", [](api::TimeEntry& e) { e.id += "-new"; }, nullptr},
      {"project recoloured", [](api::TimeEntry& e) { e.project->color = "#123456"; }, nullptr},
  };
  start_signed_in();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The first recent entry with a task, as the store holds it.
    std::string id;
    for (const auto& e : store->recent_entries()) {
      if (e.task && id.empty()) id = e.id;
    }
    ASSERT_FALSE(id.empty());
    for (auto* row : recent_rows()) row->add_css_class("before");
    for (auto& e : store->bootstrap->entries) {
      if (e.id == id) c.change(e);
    }
    store->changed.emit();
    const auto rows = recent_rows();
    ASSERT_FALSE(rows.empty());
    for (auto* row : rows) EXPECT_FALSE(row->has_css_class("before")) << "a row kept its old entry";
    if (c.shown) {
      EXPECT_NE(label_texts(view()).find(c.shown), std::string::npos) << label_texts(view());
    }
  }
}

TEST_F(TrackerViewTest, AnEntryWithoutProjectOrDescriptionShowsAHollowDotAndACaption) {
  start_signed_in();
  // An entry with neither, through the timer itself.
  timer_switch().set_active(true);
  ASSERT_TRUE(wait_idle());
  timer_switch().set_active(false);
  ASSERT_TRUE(wait_idle());
  ASSERT_TRUE(run_until([this] {
    for (auto* row : recent_rows()) {
      if (label_with_text(*row, "(no description)")) return true;
    }
    return false;
  }));
  for (auto* row : recent_rows()) {
    auto* title = label_with_text(*row, "(no description)");
    if (!title) continue;
    EXPECT_TRUE(title->has_css_class("caption"));
    EXPECT_TRUE(find_one<ui::ColorDot>(*row).is_hollow());
    EXPECT_EQ(find_all<Gtk::Label>(*row).size(), 2u) << "title and duration, no subtitle";
  }
}

TEST_F(TrackerViewTest, TheClockTicksAndDiscardDropsTheTimer) {
  start_signed_in();
  show_panel();
  timer_switch().set_active(true);
  ASSERT_TRUE(wait_idle());
  auto* clock = [&]() -> Gtk::Label* {
    for (auto* l : find_all<Gtk::Label>(card())) {
      if (l->has_css_class("clock-big")) return l;
    }
    return nullptr;
  }();
  ASSERT_TRUE(clock);
  EXPECT_FALSE(clock->has_css_class("idle"));
  const std::string first = clock->get_text();
  EXPECT_TRUE(run_until([&] { return clock->get_text().raw() != first; }, std::chrono::seconds(3))) << first;

  g_signal_emit_by_name(discard_button().gobj(), "clicked");
  ASSERT_TRUE(wait_idle());
  EXPECT_TRUE(was_sent("DELETE", ws_path("/timer")));
  EXPECT_FALSE(store->running);
  EXPECT_TRUE(clock->has_css_class("idle"));
}

}  // namespace
}  // namespace irvelo::test
