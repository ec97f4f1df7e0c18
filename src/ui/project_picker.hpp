#pragma once

// A flat button showing the chosen project, opening a searchable list of the
// workspace's projects grouped into favourites and clients. It never changes
// its own selection: the choice goes to the store and comes back through
// set_selected.
//
// The list is a list view over a model of rows, so only the rows on screen
// have widgets and opening it costs the same for ten projects or thousands.
// Section headers are rows of the model that cannot be chosen; the search
// only filters the model. The picker moves the keyboard focus over the rows
// itself, passing over the headers, which GTK 4.8 cannot focus.

#include <giomm/liststore.h>
#include <gtkmm/box.h>
#include <gtkmm/filter.h>
#include <gtkmm/filterlistmodel.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/listview.h>
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

// One row of the picker's list.
class PickerRow : public Glib::Object {
 public:
  enum class Kind { Header, NoProject, Project };

  static Glib::RefPtr<PickerRow> create(Kind kind, std::string title, std::optional<std::string> id = {},
                                        std::string color = {}, std::size_t section = 0);

  Kind kind = Kind::Project;
  std::string title;              // the project's name, or the section's title
  std::optional<std::string> id;  // the project's id; none for headers and "No project"
  std::string color;
  std::size_t section = 0;  // the section a header opens or a project belongs to
  std::string name_folded;  // for the search
  std::string client_folded;

 protected:
  PickerRow();
};

class ProjectPicker : public Gtk::MenuButton {
 public:
  // Above this many projects the popover offers a search entry.
  static constexpr std::size_t kSearchThreshold = 12;

  ProjectPicker();
  ~ProjectPicker() override;

  void set_projects(const std::vector<api::PickerProject>& projects);
  void set_selected(const std::optional<std::string>& id);

  // The chosen project id, or no value for "No project".
  sigc::signal<void(std::optional<std::string>)>& signal_selected() { return signal_selected_; }

  // Whether `project` matches an already case-folded query.
  [[nodiscard]] static bool matches(const api::PickerProject& project, const std::string& query);

 protected:
  void refresh_label();
  // Fills the model from the project list, in sections.
  void rebuild();
  void apply_search();
  [[nodiscard]] bool shows(const PickerRow& row) const;
  // The row at `position` of the filtered list, or null.
  [[nodiscard]] Glib::RefPtr<PickerRow> row_at(guint position) const;
  void choose(guint position);
  void pick_first_match();
  void on_popover_shown();
  // The nearest row that can be chosen from `position` on, going by `step`
  // (+1 or -1), `position` included; none past either end.
  [[nodiscard]] std::optional<guint> choosable_from(guint position, int step) const;
  // The position of the row holding the keyboard focus, if one does.
  [[nodiscard]] std::optional<guint> focused_position() const;
  // Moves the keyboard focus to the row at `position`.
  bool focus_row(std::optional<guint> position);
  bool on_key_pressed(guint keyval, guint keycode, Gdk::ModifierType state);
  // Rebinds the rows of these projects, so their check marks follow.
  void rebind(const std::optional<std::string>& a, const std::optional<std::string>& b);

  sigc::signal<void(std::optional<std::string>)> signal_selected_;
  std::optional<std::string> selected;
  std::vector<api::PickerProject> projects;
  std::string fingerprint;
  // The model no longer shows the project list; rebuilt when it is next shown.
  bool stale = true;
  std::string query;
  std::vector<bool> section_matches;
  Glib::RefPtr<Gio::ListStore<PickerRow>> rows = Gio::ListStore<PickerRow>::create();
  Glib::RefPtr<Gtk::Filter> filter;
  Glib::RefPtr<Gtk::FilterListModel> filtered;
  Gtk::Box content{Gtk::Orientation::HORIZONTAL, 6};
  ColorDot dot{"", 9, true};
  Gtk::Label label;
  Gtk::Image arrow;
  Gtk::Popover popover;
  Gtk::Box popover_box{Gtk::Orientation::VERTICAL, 4};
  Gtk::SearchEntry search;
  Gtk::ScrolledWindow scroller;
  Gtk::ListView list;
};

}  // namespace irvelo::ui
