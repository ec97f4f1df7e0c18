#pragma once

// A flat button showing the chosen project, opening a searchable list of the
// workspace's projects grouped into favourites and clients. It never changes
// its own selection: the choice goes to the store and comes back through
// set_selected.

#include <gtkmm/box.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/listbox.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/popover.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/searchentry.h>
#include <sigc++/signal.h>

#include <optional>
#include <string>
#include <vector>

#include "api/records.hpp"
#include "ui/color_dot.hpp"

namespace irvelo::ui {

class ProjectPicker : public Gtk::MenuButton {
 public:
  // Above this many projects the popover offers a search entry.
  static constexpr std::size_t kSearchThreshold = 12;

  ProjectPicker();

  void set_projects(const std::vector<api::PickerProject>& projects);
  void set_selected(const std::optional<std::string>& id);

  // The chosen project id, or no value for "No project".
  sigc::signal<void(std::optional<std::string>)>& signal_selected() { return signal_selected_; }

  // Whether `project` matches an already case-folded query.
  [[nodiscard]] static bool matches(const api::PickerProject& project, const std::string& query);

 protected:
  void refresh_label();
  void rebuild();
  void add_section(const Glib::ustring& title);
  void add_item(const api::PickerProject* project);
  void on_row_activated(Gtk::ListBoxRow* row);
  void on_popover_shown();

  sigc::signal<void(std::optional<std::string>)> signal_selected_;
  std::optional<std::string> selected;
  std::vector<api::PickerProject> projects;
  std::string fingerprint;
  Gtk::Box content{Gtk::Orientation::HORIZONTAL, 6};
  ColorDot dot{"", 9, true};
  Gtk::Label label;
  Gtk::Image arrow;
  Gtk::Popover popover;
  Gtk::Box popover_box{Gtk::Orientation::VERTICAL, 4};
  Gtk::SearchEntry search;
  Gtk::ScrolledWindow scroller;
  Gtk::ListBox list;
  std::vector<std::optional<std::string>> row_ids;
  std::vector<bool> row_selectable;
};

}  // namespace irvelo::ui
