#include "app/notification_text.hpp"

#include <giomm/dbuswatchname.h>

#include <string>
#include <vector>

#include "away/bus_call.hpp"

namespace irvelo {

NotificationText::~NotificationText() {
  cancellable_->cancel();
  if (freedesktop_watch_ != 0) Gio::DBus::unwatch_name(freedesktop_watch_);
  if (gtk_watch_ != 0) Gio::DBus::unwatch_name(gtk_watch_);
}

void NotificationText::start() {
  if (started_) return;
  started_ = true;
  bus_ = away::bus(Gio::DBus::BusType::SESSION);
  if (!bus_) return;
  freedesktop_watch_ = Gio::DBus::watch_name(
      bus_, "org.freedesktop.Notifications",
      [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&) {
        away::call(bus_,
                   {"org.freedesktop.Notifications", "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                    "GetCapabilities"},
                   Glib::VariantContainerBase(), cancellable_, [this](away::Reply reply) {
                     const auto capabilities = away::first<std::vector<Glib::ustring>>(reply);
                     markup_ = false;
                     if (!capabilities) return;
                     for (const auto& capability : *capabilities) markup_ = markup_ || capability == "body-markup";
                   });
      },
      [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&) { markup_ = false; });
  gtk_watch_ = Gio::DBus::watch_name(
      bus_, "org.gtk.Notifications",
      [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&) {
        gtk_server_ = true;
      },
      [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&) { gtk_server_ = false; });
}

Glib::ustring NotificationText::body(const Glib::ustring& text) const {
  if (!markup_ || gtk_server_) return text;
  // Only what starts markup: servers differ in the entities they know (GNOME
  // Shell's would show "&#39;" as it is).
  std::string escaped;
  for (const char c : text.raw()) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace irvelo
