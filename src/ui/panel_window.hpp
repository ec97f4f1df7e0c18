#pragma once

// The compact main window the tray toggles: a header with the workspace, the
// user and the "More" menu, and a stack that follows the store's phase (sign
// in, loading, tracker). Built when first shown, and built again from the
// store after the application gave a long-hidden panel back.

#include <giomm/simpleaction.h>
#include <gtkmm/applicationwindow.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/headerbar.h>
#include <gtkmm/label.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/spinner.h>
#include <gtkmm/stack.h>
#include <sigc++/signal.h>

#include <string>

#include "ui/panel_placement.hpp"
#include "ui/sign_in_view.hpp"
#include "ui/tracker_view.hpp"

namespace irvelo {
class TrackerStore;
}

namespace irvelo::ui {

class PanelWindow : public Gtk::ApplicationWindow {
 public:
  explicit PanelWindow(TrackerStore& store);

  // Re-reads everything from the store, on every change of it.
  void sync();
  // Re-reads only the running time, on every clock tick.
  void sync_clock();
  // Where typing goes when the panel opens: the description while signed in.
  void focus_first_field();
  // Shown next beside a tray icon clicked at root coordinates (x, y), where
  // the session lets an application place its windows (X11).
  void place_beside(int x, int y) { placement.place_at(x, y); }
  // Opens a URL in the user's default browser; the outcome is not reported.
  void open_url(const std::string& url);
  // Replaces the "More" menu's model when its contents would change.
  void rebuild_menu();

  // Asks the application to show the settings window.
  sigc::signal<void()>& signal_settings() { return signal_settings_; }
  // Asks the application to quit.
  sigc::signal<void()>& signal_quit() { return signal_quit_; }

 protected:
  sigc::signal<void()> signal_settings_;
  sigc::signal<void()> signal_quit_;
  TrackerStore& store;
  Glib::RefPtr<Gio::SimpleAction> workspace_action;
  std::string menu_key;
  Gtk::HeaderBar header;
  Gtk::Box left_box{Gtk::Orientation::VERTICAL, 1};
  Gtk::Label workspace_label;
  Gtk::Label user_label;
  Gtk::Label title_label;
  Gtk::Spinner header_spinner;
  Gtk::MenuButton more_button;
  Gtk::Stack stack;
  SignInView sign_in_view;
  Gtk::Box loading_page{Gtk::Orientation::VERTICAL, 0};
  Gtk::Box loading_content{Gtk::Orientation::VERTICAL, 12};
  Gtk::Spinner loading_spinner;
  Gtk::Label loading_label;
  Gtk::Button keyring_retry;
  TrackerView tracker_view;
  PanelPlacement placement{*this};
};

}  // namespace irvelo::ui
