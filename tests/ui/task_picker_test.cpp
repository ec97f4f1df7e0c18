// The task picker's model, its position rule and its silence while the store's state is applied.

#include <gtest/gtest.h>
#include <gtkmm/stringlist.h>

#include <optional>
#include <string>
#include <vector>

#include "ui/task_picker.hpp"
#include "ui_support.hpp"

namespace irvelo::ui {
namespace {

std::vector<std::string> items(Gtk::DropDown& dropdown) {
  std::vector<std::string> out;
  auto list = std::dynamic_pointer_cast<Gtk::StringList>(dropdown.get_model());
  if (!list) return out;
  for (guint i = 0; i < list->get_n_items(); ++i) out.push_back(list->get_string(i));
  return out;
}

class TaskPickerTest : public ::testing::Test {
 protected:
  TaskPicker picker;
  std::vector<std::optional<std::string>> emitted;
  const std::vector<api::TaskRef> tasks{{"a", "Design"}, {"b", "Build"}, {"a", "Design again"}};

  void SetUp() override {
    picker.signal_selected().connect([this](std::optional<std::string> id) { emitted.push_back(std::move(id)); });
  }
};

TEST_F(TaskPickerTest, ModelIsNoTaskThenTheTaskNames) {
  EXPECT_EQ(picker.get_model(), nullptr);
  picker.set_tasks({}, std::nullopt);
  EXPECT_EQ(picker.get_model(), nullptr);  // no tasks: still no model
  picker.set_tasks(tasks, std::nullopt);
  EXPECT_EQ(items(picker), (std::vector<std::string>{"No task", "Design", "Build", "Design again"}));
  EXPECT_TRUE(picker.get_hexpand());
}

TEST_F(TaskPickerTest, PositionFollowsTheStoreSelection) {
  struct Row {
    std::vector<api::TaskRef> tasks;
    std::optional<std::string> selected;
    guint position;
  };
  const std::vector<Row> rows = {
      {tasks, std::nullopt, 0}, {tasks, "b", 2},                          // plain lookup
      {tasks, "a", 3},                                                    // the last task with that id
      {tasks, "gone", 0},       {{{"x", "Only"}}, "x", 1}, {{}, "x", 0},  // an emptied list goes back to "No task"
  };
  for (const auto& row : rows) {
    picker.set_tasks(row.tasks, row.selected);
    EXPECT_EQ(picker.get_selected(), row.position) << row.selected.value_or("(none)");
  }
  EXPECT_TRUE(emitted.empty());
}

TEST_F(TaskPickerTest, UnchangedListKeepsItsModelAndOnlyMoves) {
  picker.set_tasks(tasks, "a");
  const auto model = picker.get_model();
  picker.set_tasks(tasks, "b");
  EXPECT_EQ(picker.get_model(), model);
  EXPECT_EQ(picker.get_selected(), 2u);
  picker.set_tasks({{"a", "Design"}, {"b", "Build (renamed)"}, {"a", "Design again"}}, "b");
  EXPECT_NE(picker.get_model(), model);
  EXPECT_EQ(picker.get_selected(), 2u);
  EXPECT_TRUE(emitted.empty());
}

TEST_F(TaskPickerTest, UserChoicesAreReported) {
  picker.set_tasks(tasks, "b");
  struct Row {
    guint position;
    std::vector<std::optional<std::string>> emitted;
  };
  const std::vector<Row> rows = {
      {1, {"a"}},          {1, {}},     // no change, no signal from the drop-down
      {0, {std::nullopt}}, {2, {"b"}},  // also when it equals the store's selection
      {3, {"a"}},          {GTK_INVALID_LIST_POSITION, {}},
  };
  for (const auto& row : rows) {
    emitted.clear();
    picker.set_selected(row.position);
    EXPECT_EQ(emitted, row.emitted) << row.position;
  }
}

}  // namespace
}  // namespace irvelo::ui
