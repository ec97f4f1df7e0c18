#include "ui/task_picker.hpp"

#include <glib/gi18n-lib.h>
#include <gtkmm/stringlist.h>

namespace irvelo::ui {

TaskPicker::TaskPicker() {
  set_hexpand(true);
  property_selected().signal_changed().connect(sigc::mem_fun(*this, &TaskPicker::on_selected_changed));
}

void TaskPicker::set_tasks(const std::vector<api::TaskRef>& new_tasks, const std::optional<std::string>& selected) {
  updating = true;

  std::string print;
  for (const auto& t : new_tasks) print += t.id + '\x1f' + t.name + '|';
  // An unchanged list keeps its model, so an open drop-down is not disturbed.
  if (print != fingerprint) {
    fingerprint = std::move(print);
    tasks = new_tasks;
    std::vector<Glib::ustring> names{_("No task")};
    for (const auto& t : tasks) names.emplace_back(t.name);
    set_model(Gtk::StringList::create(names));
  }

  guint position = 0;
  if (!tasks.empty() && selected) {
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      if (tasks[i].id == *selected) position = static_cast<guint>(i + 1);
    }
  }
  if (get_selected() != position) set_selected(position);

  updating = false;
}

void TaskPicker::on_selected_changed() {
  if (updating) return;
  const guint p = get_selected();
  if (p == GTK_INVALID_LIST_POSITION) return;
  if (p == 0) {
    signal_selected_.emit(std::nullopt);
  } else if (p <= tasks.size()) {
    signal_selected_.emit(tasks[p - 1].id);
  }
}

}  // namespace irvelo::ui
