#pragma once

// Text from the service (an entry's description) in a notification body, as
// the notification server needs it to show it as typed: a freedesktop server
// that announces "body-markup" reads the body as markup, so "R&D <x>" is
// escaped for it; GNOME Shell's own interface (org.gtk.Notifications) shows
// bodies as plain text, and so do servers without markup.

#include <giomm/cancellable.h>
#include <giomm/dbusconnection.h>
#include <glibmm/ustring.h>

namespace irvelo {

class NotificationText {
 public:
  NotificationText() = default;
  ~NotificationText();
  NotificationText(const NotificationText&) = delete;
  NotificationText& operator=(const NotificationText&) = delete;

  // Follows the servers on the session bus; later calls do nothing.
  void start();
  // `text` made ready for a notification body.
  [[nodiscard]] Glib::ustring body(const Glib::ustring& text) const;

 private:
  Glib::RefPtr<Gio::Cancellable> cancellable_ = Gio::Cancellable::create();
  Glib::RefPtr<Gio::DBus::Connection> bus_;
  bool started_ = false;
  guint freedesktop_watch_ = 0;
  guint gtk_watch_ = 0;
  // GLib sends through org.gtk.Notifications wherever that name has an owner.
  bool gtk_server_ = false;
  bool markup_ = false;
};

}  // namespace irvelo
