// The project picker's list: sections, order, search, choosing, keys, rebuilding.

#include <gtest/gtest.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/image.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/main_loop.hpp"
#include "support/temp_dir.hpp"
#include "ui/project_picker.hpp"
#include "ui_support.hpp"

// From <gdk/x11/gdkx.h>, declared here: that header brings in Xlib, whose
// macros clash with the C++ headers of this file.
extern "C" unsigned long gdk_x11_surface_get_xid(GdkSurface* surface);

namespace irvelo::ui {
namespace {

using test::xdotool;

class PickerProbe : public ProjectPicker {
 public:
  using ProjectPicker::dot;
  using ProjectPicker::filtered;
  using ProjectPicker::label;
  using ProjectPicker::list;
  using ProjectPicker::popover;
  using ProjectPicker::row_at;
  using ProjectPicker::search;

  // One line per row as drawn: "# Title" for a section, the project name for
  // a row, with " ✓" on the row showing the check mark. Read from the row
  // widgets, so every row of the list must have one (short lists do).
  std::vector<std::string> rows() {
    test::drain_events();
    std::vector<std::string> out;
    for (auto* item = list.get_first_child(); item != nullptr; item = item->get_next_sibling()) {
      if (!item->get_visible()) continue;
      std::string text;
      for (auto* label : test::find_all<Gtk::Label>(*item)) {
        if (!label->get_visible()) continue;
        text = (label->has_css_class("picker-section") ? "# " : "") + label->get_text().raw();
      }
      for (auto* image : test::find_all<Gtk::Image>(*item)) {
        if (image->get_visible() && image->get_icon_name() == "object-select-symbolic") text += " ✓";
      }
      out.push_back(text);
    }
    EXPECT_EQ(out.size(), filtered->get_n_items()) << "rows without widgets";
    return out;
  }

  // The ids of the rows in order; none for headers and "No project".
  std::vector<std::optional<std::string>> ids() {
    std::vector<std::optional<std::string>> out;
    for (guint i = 0; i < filtered->get_n_items(); ++i) out.push_back(row_at(i)->id);
    return out;
  }

  // What a click or Enter on the row at `position` does.
  void activate(guint position) { g_signal_emit_by_name(list.gobj(), "activate", position); }
  std::optional<guint> position_of(const std::string& title) {
    for (guint i = 0; i < filtered->get_n_items(); ++i) {
      if (row_at(i)->title == title) return i;
    }
    return std::nullopt;
  }

  // The search entry hands its focus to its inner text widget.
  bool search_has_focus() {
    auto* root = dynamic_cast<Gtk::Window*>(get_root());
    auto* focus = root ? root->get_focus() : nullptr;
    return focus && (focus == &search || focus->is_ancestor(search));
  }

  // Where the keyboard focus is: "search", the text a focused row of the
  // list shows, or "elsewhere".
  std::string focus() {
    if (search_has_focus()) return "search";
    auto* root = dynamic_cast<Gtk::Window*>(get_root());
    auto* focus = root ? root->get_focus() : nullptr;
    if (focus == nullptr || !focus->is_ancestor(list)) return "elsewhere";
    std::string text;
    for (auto* label : test::find_all<Gtk::Label>(*focus)) {
      if (label->get_visible()) text += label->get_text().raw();
    }
    return text;
  }

  bool open() {
    popup();
    return test::run_until([this] { return popover.get_visible(); });
  }
};

api::PickerProject project(const std::string& id, const std::string& name, std::optional<std::string> client = {},
                           bool favorite = false, const std::string& color = "#336699") {
  api::PickerProject p;
  p.id = id;
  p.name = name;
  p.color = color;
  p.client_name = std::move(client);
  p.favorite = favorite;
  return p;
}

std::vector<api::PickerProject> numbered(int n) {
  std::vector<api::PickerProject> out;
  for (int i = 0; i < n; ++i) out.push_back(project("p" + std::to_string(i), "Project " + std::to_string(i)));
  return out;
}

class ProjectPickerTest : public ::testing::Test {
 protected:
  PickerProbe picker;
  test::ShownWindow shown{picker};
  std::vector<std::optional<std::string>> emitted;

  void SetUp() override {
    picker.signal_selected().connect([this](std::optional<std::string> id) { emitted.push_back(std::move(id)); });
  }
};

TEST_F(ProjectPickerTest, SectionsListEveryProjectOnceInItsGroup) {
  picker.set_projects({
      project("1", "Website", "Acme Inc."),
      project("2", "Roadmap", "Acme Inc.", true),  // a favourite with a client: only under Favorites
      project("3", "Internal"),
      project("4", "Audit", "Beta Co"),
      project("5", "Admin"),
      project("6", "Zebra", std::nullopt, true),
      project("7", "Apps", "Acme Inc."),
  });
  picker.set_selected("4");
  ASSERT_TRUE(picker.open());
  EXPECT_EQ(picker.rows(),
            (std::vector<std::string>{"No project", "# Favorites", "Roadmap", "Zebra", "# Acme Inc.", "Apps", "Website",
                                      "# Beta Co", "Audit ✓", "# No client", "Admin", "Internal"}));
  EXPECT_EQ(picker.ids(),
            (std::vector<std::optional<std::string>>{std::nullopt, std::nullopt, "2", "6", std::nullopt, "7", "1",
                                                     std::nullopt, "4", std::nullopt, "5", "3"}));
}

TEST_F(ProjectPickerTest, WithoutClientsNoClientFollowsFavorites) {
  picker.set_projects({project("1", "B"), project("2", "A", std::nullopt, true), project("3", "C")});
  ASSERT_TRUE(picker.open());
  EXPECT_EQ(picker.rows(), (std::vector<std::string>{"No project ✓", "# Favorites", "A", "# No client", "B", "C"}));
}

TEST_F(ProjectPickerTest, ClientSectionsFollowLocaleCollation) {
  // The test session runs in C.UTF-8, which collates by code point; build a
  // real locale next to the test so the order differs from byte order.
  test::TempDir locales("irvelo-locale");
  const std::string command = "localedef -i en_US -f UTF-8 " + locales.path() + "/en_US.UTF-8 >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << "localedef failed (package locales missing?)";
  setenv("LOCPATH", locales.path().c_str(), 1);
  const std::string previous = std::setlocale(LC_COLLATE, nullptr);
  ASSERT_NE(std::setlocale(LC_COLLATE, "en_US.UTF-8"), nullptr);

  picker.set_projects({
      project("1", "zulu", "Zeta"),
      project("2", "Mike", "beta"),
      project("3", "apple", "Alpha"),
      project("4", "Banana", "Alpha"),
      project("5", "cherry", "Alpha"),
      project("6", "echo", "Delta"),
  });
  ASSERT_TRUE(picker.open());
  const auto rows = picker.rows();
  std::setlocale(LC_COLLATE, previous.c_str());
  unsetenv("LOCPATH");

  EXPECT_EQ(rows, (std::vector<std::string>{"No project ✓", "# Alpha", "apple", "Banana", "cherry", "# beta", "Mike",
                                            "# Delta", "echo", "# Zeta", "zulu"}));
}

TEST_F(ProjectPickerTest, SearchEntryAppearsAboveTwelveProjectsEmptyAndFocused) {
  struct Row {
    int count;
    bool search;
  };
  for (const auto& row : std::vector<Row>{{12, false}, {13, true}, {20, true}}) {
    picker.set_projects(numbered(row.count));
    for (int opening = 0; opening < 2; ++opening) {
      ASSERT_TRUE(picker.open());
      EXPECT_EQ(picker.search.get_visible(), row.search) << row.count;
      EXPECT_EQ(picker.search.get_text(), "") << row.count;
      EXPECT_EQ(picker.rows().size(), static_cast<std::size_t>(row.count + 2)) << row.count;
      if (row.search) {
        EXPECT_TRUE(test::run_until([&] { return picker.search_has_focus(); })) << row.count;
        picker.search.set_text("3");  // left behind on purpose; the next opening clears it
      }
      picker.popdown();
      ASSERT_TRUE(test::run_until([&] { return !picker.popover.get_visible(); }));
    }
  }
}

TEST_F(ProjectPickerTest, SearchFindsNamesAndClientsCaseFolded) {
  picker.set_projects({
      project("1", "acme tools"),
      project("2", "Website", "Acme Inc."),
      project("3", "Straße", "Delta"),
      project("4", "Other", "Beta", true),
      project("5", "misc"),
  });
  ASSERT_TRUE(picker.open());
  struct Row {
    std::string query;
    std::vector<std::string> rows;
  };
  const std::vector<Row> rows = {
      {"ACME", {"# Acme Inc.", "Website", "# No client", "acme tools"}},
      {"STRASSE", {"# Delta", "Straße"}},
      {"beta", {"# Favorites", "Other"}},
      {"zzz", {}},
      {"",
       {"No project ✓", "# Favorites", "Other", "# Acme Inc.", "Website", "# Delta", "Straße", "# No client",
        "acme tools", "misc"}},
  };
  for (const auto& row : rows) {
    picker.search.set_text(row.query);
    EXPECT_EQ(picker.rows(), row.rows) << row.query;
  }
}

TEST(ProjectPickerMatch, SearchesNameAndClientOnly) {
  auto p = project("acme-id", "Design", "Acme Inc.", false, "#acacac");
  p.tasks = {{"t1", "Acme task"}};
  struct Row {
    std::string query;
    bool match;
  };
  for (const auto& row : std::vector<Row>{{"", true},
                                          {"des", true},
                                          {"acme", true},
                                          {"inc.", true},
                                          {"task", false},
                                          {"acme-id", false},
                                          {"#acac", false}}) {
    EXPECT_EQ(ProjectPicker::matches(p, row.query), row.match) << row.query;
  }
  EXPECT_FALSE(ProjectPicker::matches(project("1", "Design"), "acme"));
}

TEST_F(ProjectPickerTest, SectionHeadersCannotBeChosen) {
  picker.set_projects({project("1", "Website", "Acme Inc."), project("2", "Roadmap", std::nullopt, true)});
  ASSERT_TRUE(picker.open());
  int headers = 0;
  for (guint i = 0; i < picker.filtered->get_n_items(); ++i) {
    if (picker.row_at(i)->kind != PickerRow::Kind::Header) continue;
    ++headers;
    picker.activate(i);
  }
  EXPECT_EQ(headers, 2);
  EXPECT_TRUE(emitted.empty());
  EXPECT_TRUE(picker.popover.get_visible());
}

TEST_F(ProjectPickerTest, ChoosingEmitsOnlyAChangeAndAlwaysCloses) {
  picker.set_projects({project("1", "Website"), project("2", "Roadmap")});
  picker.set_selected("1");
  struct Row {
    std::string row;
    std::vector<std::optional<std::string>> emitted;
  };
  for (const auto& row : std::vector<Row>{{"Website", {}}, {"Roadmap", {"2"}}, {"No project", {std::nullopt}}}) {
    emitted.clear();
    ASSERT_TRUE(picker.open());
    const auto target = picker.position_of(row.row);
    ASSERT_TRUE(target.has_value()) << row.row;
    picker.activate(*target);
    EXPECT_FALSE(picker.popover.get_visible()) << row.row;
    EXPECT_EQ(emitted, row.emitted) << row.row;
  }
  // The picker's own selection follows only the store.
  EXPECT_EQ(picker.label.get_text(), "Website");
}

TEST_F(ProjectPickerTest, TheCheckMarkFollowsTheStoreWhileOpen) {
  picker.set_projects({project("1", "Website"), project("2", "Roadmap", "Acme"), project("3", "Docs")});
  picker.set_selected("1");
  ASSERT_TRUE(picker.open());
  struct Row {
    std::optional<std::string> selected;  // chosen elsewhere while the list is open
    std::vector<std::string> rows;
  };
  for (const auto& row : std::vector<Row>{
           {"2", {"No project", "# Acme", "Roadmap ✓", "# No client", "Docs", "Website"}},
           {std::nullopt, {"No project ✓", "# Acme", "Roadmap", "# No client", "Docs", "Website"}},
           {"3", {"No project", "# Acme", "Roadmap", "# No client", "Docs ✓", "Website"}},
           {"gone", {"No project", "# Acme", "Roadmap", "# No client", "Docs", "Website"}},
       }) {
    picker.set_selected(row.selected);
    EXPECT_EQ(picker.rows(), row.rows) << row.selected.value_or("none");
  }
}

TEST_F(ProjectPickerTest, EnterInTheSearchPicksTheFirstMatch) {
  picker.set_projects(numbered(13));
  picker.set_selected("p2");
  struct Row {
    std::string query;
    std::vector<std::optional<std::string>> emitted;
    bool closes;
  };
  for (const auto& row : std::vector<Row>{
           {"2", {"p12"}, true},  // the first row shown, not the current choice
           {"zzz", {}, false},    // no match: nothing chosen, the list stays open
           {"", {}, false},       // no search: Enter does not choose "No project"
       }) {
    emitted.clear();
    ASSERT_TRUE(picker.open());
    picker.search.set_text(row.query);
    g_signal_emit_by_name(picker.search.gobj(), "activate");
    EXPECT_EQ(emitted, row.emitted) << row.query;
    EXPECT_EQ(picker.popover.get_visible(), !row.closes) << row.query;
    picker.popdown();
    ASSERT_TRUE(test::run_until([&] { return !picker.popover.get_visible(); }));
  }
}

// Keys sent through the X server as a keyboard sends them: the arrows pass
// over the section headers, Tab goes between the search and the list, and
// Space or Enter on a row chooses it.
TEST_F(ProjectPickerTest, KeyboardMovesOverTheRowsPassingTheHeaders) {
  auto& window = shown.window();
  // A key's release follows the handling of its press. It reaches the
  // popover while that holds the keyboard, and the window otherwise.
  int released = 0;
  for (Gtk::Widget* target : std::vector<Gtk::Widget*>{&window, &picker.popover}) {
    auto keys = Gtk::EventControllerKey::create();
    keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
    keys->signal_key_released().connect([&](guint, guint, Gdk::ModifierType) { ++released; });
    target->add_controller(keys);
  }
  xdotool({"windowfocus", "--sync", std::to_string(gdk_x11_surface_get_xid(window.get_surface()->gobj()))});
  ASSERT_TRUE(test::run_until([&] { return window.is_active(); })) << "the window never became active";

  struct Step {
    std::string key;    // as xdotool names it
    std::string focus;  // where the focus is afterwards
  };
  const auto press = [&](const std::string& key) {
    // Every key of a chord such as "shift+Tab" is released.
    const int keys = 1 + static_cast<int>(std::count(key.begin(), key.end(), '+'));
    const int before = released;
    xdotool({"key", key});
    return test::run_until([&] { return released == before + keys; });
  };
  const auto walk = [&](const std::vector<Step>& steps) {
    for (const auto& step : steps) {
      ASSERT_TRUE(press(step.key)) << step.key;
      EXPECT_EQ(picker.focus(), step.focus) << step.key;
    }
  };

  // Without a search the focus starts on the first row.
  picker.set_projects({project("f", "Fav", std::nullopt, true), project("a", "Apps", "Acme"),
                       project("w", "Web", "Acme"), project("z", "Zed")});
  ASSERT_TRUE(picker.open());
  EXPECT_TRUE(test::run_until([&] { return picker.focus() == "No project"; })) << picker.focus();
  // Opened by a click, the focus ring shows once the keys are used.
  window.set_focus_visible(false);
  walk({{"Down", "Fav"}});
  EXPECT_TRUE(window.get_focus_visible());
  walk({{"Down", "Apps"},
        {"Down", "Web"},
        {"Down", "Zed"},
        {"Down", "Zed"},
        {"Up", "Web"},
        {"Up", "Apps"},
        {"Up", "Fav"},
        {"End", "Zed"},
        {"Home", "No project"},
        {"Up", "No project"},
        {"Down", "Fav"},
        {"Down", "Apps"}});
  ASSERT_TRUE(press("space"));
  EXPECT_TRUE(test::run_until([&] { return !picker.popover.get_visible(); }));
  EXPECT_EQ(emitted, (std::vector<std::optional<std::string>>{"a"}));

  // With a search the focus starts there; typed spaces stay in the text.
  auto many = numbered(11);
  many.push_back(project("a", "Apps", "Acme Inc"));
  many.push_back(project("w", "Web", "Acme Inc"));
  picker.set_projects(many);
  emitted.clear();
  ASSERT_TRUE(picker.open());
  EXPECT_TRUE(test::run_until([&] { return picker.focus() == "search"; })) << picker.focus();
  const std::string typed = "acme i";  // one key, and one release, per character
  const int before = released;
  xdotool({"type", "--delay", "2", typed});
  ASSERT_TRUE(test::run_until([&] { return released == before + static_cast<int>(typed.size()); }));
  EXPECT_EQ(picker.search.get_text().raw(), typed);
  walk(
      {{"Down", "Apps"}, {"Up", "search"}, {"Tab", "Apps"}, {"shift+Tab", "search"}, {"Tab", "Apps"}, {"Down", "Web"}});
  ASSERT_TRUE(press("Return"));
  EXPECT_TRUE(test::run_until([&] { return !picker.popover.get_visible(); }));
  EXPECT_EQ(emitted, (std::vector<std::optional<std::string>>{"w"}));
}

TEST_F(ProjectPickerTest, ChangedListRebuildsAnOpenPopoverKeepingTheSearch) {
  auto list = numbered(13);
  picker.set_projects(list);
  ASSERT_TRUE(picker.open());
  picker.search.set_text("project 1");
  EXPECT_EQ(picker.rows().size(), 5u);  // "# No client" and Project 1, 10, 11, 12
  const auto first_before = picker.row_at(1);

  // Only tasks change: the open list stays as it is.
  list[1].tasks = {{"t", "Task"}};
  list[1].billable_by_default = true;
  picker.set_projects(list);
  EXPECT_EQ(picker.row_at(1), first_before);

  list[1].name = "Project 1 renamed";
  list.push_back(project("new", "Project 100", "Client"));
  picker.set_projects(list);
  EXPECT_EQ(picker.search.get_text(), "project 1");
  EXPECT_EQ(picker.rows(), (std::vector<std::string>{"# Client", "Project 100", "# No client", "Project 1 renamed",
                                                     "Project 10", "Project 11", "Project 12"}));
}

TEST_F(ProjectPickerTest, ClosedPopoverIsRebuiltWhenItOpensWithTheCheckMark) {
  picker.set_projects({project("1", "Website"), project("2", "Roadmap")});
  ASSERT_TRUE(picker.open());
  picker.popdown();
  ASSERT_TRUE(test::run_until([&] { return !picker.popover.get_visible(); }));
  picker.set_projects({project("1", "Website"), project("2", "Roadmap"), project("3", "Docs")});
  picker.set_selected("2");
  EXPECT_EQ(picker.rows().size(), 4u);  // still the old rows while closed
  ASSERT_TRUE(picker.open());
  EXPECT_EQ(picker.rows(), (std::vector<std::string>{"No project", "# No client", "Docs", "Roadmap ✓", "Website"}));
}

TEST_F(ProjectPickerTest, LabelShowsTheStoreSelection) {
  picker.set_projects({project("1", "Website", std::nullopt, false, "#ff8800")});
  struct Row {
    std::optional<std::string> selected;
    std::string text;
    bool caption;
  };
  for (const auto& row : std::vector<Row>{{"1", "Website", false},
                                          {"gone", "No project", true},
                                          {std::nullopt, "No project", true},
                                          {"1", "Website", false}}) {
    picker.set_selected(row.selected);
    EXPECT_EQ(picker.label.get_text().raw(), row.text);
    EXPECT_EQ(picker.label.has_css_class("caption"), row.caption) << row.text;
    EXPECT_EQ(picker.dot.is_hollow(), row.caption) << row.text;
    EXPECT_EQ(picker.dot.color_text(), row.caption ? "" : "#ff8800") << row.text;
  }
}

}  // namespace
}  // namespace irvelo::ui
