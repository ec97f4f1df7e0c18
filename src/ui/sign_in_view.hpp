#pragma once

// What the panel shows while signed out: the browser sign-in, an API key
// tucked into an expander, the server address, progress, the store's error
// and a Quit button. It keeps no sign-in state of its own; it calls the store
// and re-reads it in sync().

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/expander.h>
#include <gtkmm/passwordentry.h>
#include <gtkmm/spinner.h>
#include <sigc++/signal.h>

#include <string>

#include "ui/error_banner.hpp"

namespace irvelo {
class TrackerStore;
}

namespace irvelo::ui {

class SignInView : public Gtk::Box {
 public:
  explicit SignInView(TrackerStore& store);

  // Re-reads the store; the panel calls it on every change of the store.
  void sync();
  void connect_with_key();
  void sign_in_with_browser();

  // A URL to open in the browser (the service's connect page).
  sigc::signal<void(std::string)>& signal_open_url() { return signal_open_url_; }
  sigc::signal<void()>& signal_quit() { return signal_quit_; }

 protected:
  sigc::signal<void(std::string)> signal_open_url_;
  sigc::signal<void()> signal_quit_;
  TrackerStore& store;
  Gtk::Entry server_entry;
  Gtk::Button browser_button;
  Gtk::Button cancel_button;
  Gtk::Expander expander;
  Gtk::PasswordEntry key_entry;
  Gtk::Button connect_button;
  Gtk::Spinner spinner;
  ErrorBanner banner;
};

}  // namespace irvelo::ui
