#pragma once

// The working surface while signed in: the timer card (clock, switch,
// description, project, task, billable), the store's error, today's and this
// week's totals, the recent entries to continue, and a footer. The view keeps
// almost no state: every control calls the store, and sync() re-reads it.

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/entry.h>
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/label.h>
#include <gtkmm/switch.h>
#include <sigc++/signal.h>

#include <string>

#include "api/records.hpp"
#include "ui/error_banner.hpp"
#include "ui/project_picker.hpp"
#include "ui/task_picker.hpp"

namespace irvelo {
class TrackerStore;
}

namespace irvelo::ui {

class TrackerView : public Gtk::Box {
 public:
  explicit TrackerView(TrackerStore& store);

  // Re-reads the whole store; the panel calls it on every change of the store.
  void sync();
  // Re-reads only the clock and the totals, on every clock tick.
  void sync_clock();
  // Rebuilds the recent list when what it shows has changed.
  void rebuild_recent();
  // Typing right after the panel opens goes here: Enter then starts the timer
  // with it (or saves it while one runs), never the switch.
  void focus_description();

  sigc::signal<void()>& signal_open_browser() { return signal_open_browser_; }

 protected:
  void build_card();
  void build_pending();
  Gtk::Button* make_recent_row(const api::TimeEntry& entry, bool sensitive);
  void on_switch_changed();
  void on_description_activate();
  void on_description_focus_in();
  void on_description_focus_out();

  sigc::signal<void()> signal_open_browser_;
  TrackerStore& store;
  // Set while sync runs: the switch, description and billable handlers then
  // ignore the changes sync itself makes.
  bool syncing = false;
  // The position the user last flipped the switch to, and whether the store
  // has not answered that flip yet; until it has, the switch shows the flip.
  bool switch_requested = false;
  bool switch_pending = false;

  Gtk::Box card{Gtk::Orientation::VERTICAL, 12};
  Gtk::Label clock;
  Gtk::Label status;
  Gtk::Switch timer_switch;
  Gtk::Entry description;
  Gtk::Box project_row{Gtk::Orientation::HORIZONTAL, 8};
  ProjectPicker project_picker;
  Gtk::Box task_row{Gtk::Orientation::HORIZONTAL, 8};
  TaskPicker task_picker;
  Gtk::CheckButton billable;
  ErrorBanner banner;
  Gtk::Label away_notice;
  // A stop the service has not received yet, and the way to try it now.
  Gtk::Box pending_box{Gtk::Orientation::VERTICAL, 6};
  Gtk::Label pending_label;
  Gtk::Button try_now;
  // Asked when signing out would give up such a stop.
  Gtk::Box sign_out_box{Gtk::Orientation::VERTICAL, 6};
  Gtk::Label today_total;
  Gtk::Label week_total;
  Gtk::Box recent_section{Gtk::Orientation::VERTICAL, 2};
  Gtk::Box recent_list{Gtk::Orientation::VERTICAL, 2};
  std::string recent_key;
  Gtk::Button discard_button;
  Glib::RefPtr<Gtk::EventControllerFocus> description_focus;
};

}  // namespace irvelo::ui
