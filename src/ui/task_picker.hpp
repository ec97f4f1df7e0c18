#pragma once

// A drop-down of the chosen project's tasks, item 0 being "No task". Like the
// project picker it reports the user's choice and shows only what the store
// holds.

#include <gtkmm/dropdown.h>
#include <sigc++/signal.h>

#include <optional>
#include <string>
#include <vector>

#include "api/records.hpp"

namespace irvelo::ui {

class TaskPicker : public Gtk::DropDown {
 public:
  TaskPicker();

  void set_tasks(const std::vector<api::TaskRef>& tasks, const std::optional<std::string>& selected);

  // The chosen task id, or no value for "No task".
  sigc::signal<void(std::optional<std::string>)>& signal_selected() { return signal_selected_; }

 protected:
  void on_selected_changed();

  sigc::signal<void(std::optional<std::string>)> signal_selected_;
  std::vector<api::TaskRef> tasks;
  std::string fingerprint;
  // Set while set_tasks runs, so the store's own selection is not echoed back.
  bool updating = false;
};

}  // namespace irvelo::ui
