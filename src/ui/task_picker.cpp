#include "ui/task_picker.hpp"

#include <glib/gi18n-lib.h>
#include <gtkmm/label.h>
#include <gtkmm/popover.h>
#include <gtkmm/stringlist.h>

#include "ui/accessible.hpp"

namespace irvelo::ui {

namespace {

// The first label under `widget`, depth first.
Gtk::Label* first_label(Gtk::Widget& widget) {
  if (auto* label = dynamic_cast<Gtk::Label*>(&widget)) return label;
  for (auto* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    if (auto* label = first_label(*child)) return label;
  }
  return nullptr;
}

// Names every row of the open list by the text it shows: the toolkit's rows
// carry no name of their own, and a screen reader would read each as its type.
void name_rows(Gtk::Widget& widget) {
  for (auto* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    if (child->get_accessible_role() == Gtk::Accessible::Role::LIST_ITEM) {
      if (auto* label = first_label(*child)) set_accessible_name(*child, label->get_text());
    } else {
      name_rows(*child);
    }
  }
}

}  // namespace

TaskPicker::TaskPicker() {
  set_hexpand(true);
  property_selected().signal_changed().connect(sigc::mem_fun(*this, &TaskPicker::on_selected_changed));
  // The rows exist once the list is shown: name them each time it opens.
  for (auto* child = get_first_child(); child; child = child->get_next_sibling()) {
    if (auto* popover = dynamic_cast<Gtk::Popover*>(child)) {
      popover->signal_map().connect([popover] { name_rows(*popover); });
    }
  }
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
