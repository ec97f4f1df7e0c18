#pragma once

// The small preferences window: start at login, the tray's running time, what
// to do when the user is away, reminders, the signed-in account (user, server,
// workspace, sign-out) and the version. It
// changes the settings, the autostart entry and the store's workspace and
// session; it never talks to the service itself.

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/listbox.h>
#include <gtkmm/listboxrow.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/spinbutton.h>
#include <gtkmm/switch.h>
#include <gtkmm/window.h>
#include <sigc++/signal.h>

#include <string>

namespace irvelo {
class TrackerStore;
struct Settings;
}  // namespace irvelo

namespace irvelo::ui {

class SettingsWindow : public Gtk::Window {
 public:
  SettingsWindow(TrackerStore& store, Settings& settings);
  ~SettingsWindow() override;

  // Re-reads the account part from the store.
  void sync();

  // Shows where idle time comes from on this desktop ("Idle time: GNOME").
  void set_idle_source(const Glib::ustring& line);

  // Emitted after the user changed a setting (already saved).
  sigc::signal<void()>& signal_settings_changed() { return signal_settings_changed_; }

 protected:
  // A titled group appended to the content; `list` receives its list box.
  void group(const Glib::ustring& title, Gtk::ListBox*& list);
  // One row: the title at the start, the widget at the end.
  Gtk::ListBoxRow* row(Gtk::ListBox& list, const Glib::ustring& title, Gtk::Widget& widget);
  // A row holding only `widget`.
  Gtk::ListBoxRow* lone_row(Gtk::ListBox& list, Gtk::Widget& widget);

  void on_autostart_toggled();
  void on_tray_toggled();
  void on_workspace_selected();
  void build_away();
  void build_reminders();
  // A row with a switch bound to `value`, and one with an entry bound to it.
  void switch_row(Gtk::ListBox& list, Gtk::Switch& control, bool& value, const Glib::ustring& title);
  void number_row(Gtk::ListBox& list, Gtk::SpinButton& spin, int& value, int high, const Glib::ustring& title);
  void text_row(Gtk::ListBox& list, Gtk::Entry& entry, std::string& value, bool (*valid)(const std::string&),
                const Glib::ustring& title);
  // Saves the settings and tells the application.
  void settings_changed();
  // A text setting from `entry`: saved when `valid` accepts it, else marked
  // as wrong and left as it was in the file.
  void commit_text(Gtk::Entry& entry, std::string& value, bool (*valid)(const std::string&));

  sigc::signal<void()> signal_settings_changed_;
  TrackerStore& store;
  Settings& settings;
  // Set while the window changes its own widgets, so that their handlers do
  // not act on the store or the autostart entry.
  bool updating = false;
  std::string workspace_key;
  Gtk::ScrolledWindow scroller;
  Gtk::Box content{Gtk::Orientation::VERTICAL, 18};
  Gtk::Switch autostart_switch;
  Gtk::Label error_label;
  Gtk::Switch tray_switch;
  Gtk::Switch lock_switch;
  Gtk::Switch sleep_switch;
  Gtk::SpinButton idle_minutes;
  Gtk::Label idle_source;
  Gtk::SpinButton long_hours;
  Gtk::Switch remind_switch;
  Gtk::Entry work_hours;
  Gtk::Entry work_days;
  Gtk::ListBox* account_list = nullptr;
  Gtk::Label user_label;
  Gtk::Label server_label;
  Gtk::Label key_place_label;
  Gtk::DropDown workspace_dropdown;
  Gtk::Label workspace_name_label;
  Gtk::Button sign_out_button;
  Gtk::Label signed_out_hint;
  Gtk::ListBoxRow* user_row = nullptr;
  Gtk::ListBoxRow* server_row = nullptr;
  Gtk::ListBoxRow* key_place_row = nullptr;
  Gtk::ListBoxRow* workspace_row = nullptr;
  Gtk::ListBoxRow* sign_out_row = nullptr;
  Gtk::ListBoxRow* hint_row = nullptr;
  Gtk::ListBoxRow* idle_source_row = nullptr;
  Gtk::Box workspace_box{Gtk::Orientation::HORIZONTAL, 0};
};

}  // namespace irvelo::ui
