#pragma once

// The store's one error message, sliding in above the view's footer.

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/revealer.h>
#include <sigc++/signal.h>

#include <string>

namespace irvelo::ui {

class ErrorBanner : public Gtk::Revealer {
 public:
  ErrorBanner();

  // Shows a non-empty message; the empty text hides the banner but keeps the
  // old text in the label, so it stays readable while the banner slides away.
  void set_message(const std::string& message);

  // Emitted by the close button. The banner does not hide itself: the owning
  // view clears the store's error and passes the empty text on its next sync.
  sigc::signal<void()>& signal_dismiss() { return signal_dismiss_; }

 protected:
  sigc::signal<void()> signal_dismiss_;
  Gtk::Box box{Gtk::Orientation::HORIZONTAL, 8};
  Gtk::Image image;
  Gtk::Label label;
  Gtk::Button button;
};

}  // namespace irvelo::ui
