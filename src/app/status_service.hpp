#pragma once

// The running instance's status interface, com.larkspan.Irvelo.Status, on the
// application's object path beside GApplication's own interfaces: the store's
// state as read-only properties, and PropertiesChanged when the store
// changes (never on the clock's ticks).

#include <giomm/dbusconnection.h>
#include <giomm/dbusintrospection.h>
#include <glibmm/variant.h>
#include <sigc++/connection.h>

#include <map>
#include <memory>
#include <string>

namespace irvelo {

class TrackerStore;

class StatusService {
 public:
  StatusService();
  ~StatusService();
  StatusService(const StatusService&) = delete;
  StatusService& operator=(const StatusService&) = delete;

  // Exports the interface; false (logged) when it cannot be.
  bool export_on(const Glib::RefPtr<Gio::DBus::Connection>& connection, const std::string& path);
  void unexport();
  // Reads `store` from now on (before this, the properties say "loading").
  void attach(TrackerStore& store);

 private:
  using Values = std::map<Glib::ustring, Glib::VariantBase>;
  [[nodiscard]] Values values() const;
  void announce();

  TrackerStore* store_ = nullptr;
  Glib::RefPtr<Gio::DBus::Connection> connection_;
  Glib::RefPtr<Gio::DBus::NodeInfo> node_;
  std::unique_ptr<Gio::DBus::InterfaceVTable> vtable_;
  std::string path_;
  guint registration_ = 0;
  Values announced_;
  sigc::connection changed_;
};

}  // namespace irvelo
