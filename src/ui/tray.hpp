#pragma once

// The application's place in the desktop's system tray: a StatusNotifierItem
// published on the session bus and registered with whichever tray host owns
// "org.kde.StatusNotifierWatcher". It has no menu: every click asks the
// application to toggle its panel. Plain GDBus, no widgets.

#include <gio/gio.h>
#include <sigc++/signal.h>

#include <string>
#include <vector>

#include "core/owned.hpp"
#include "ui/tray_clock_icon.hpp"

namespace irvelo::ui {

class Tray {
 public:
  enum class Icon { SignedOut = 0, Idle = 1, Tracking = 2 };

  Tray();
  ~Tray();
  // The bus library holds this object's address as user data.
  Tray(const Tray&) = delete;
  Tray& operator=(const Tray&) = delete;
  Tray(Tray&&) = delete;
  Tray& operator=(Tray&&) = delete;

  // Stores the three values and tells the host what changed. The tooltip is
  // plain text; it is escaped for the host's markup when read.
  void set(Icon icon, const std::string& label, const std::string& tooltip);

  // The running time drawn into the icon, for hosts that ignore the label;
  // empty: none. While there is one, the item names no icon, as hosts prefer
  // a name to a pixmap. Tells the host when it changed.
  void set_pixmaps(std::vector<IconPixmap> pixmaps);

  [[nodiscard]] std::string icon_name() const;
  [[nodiscard]] bool available() const { return available_; }
  [[nodiscard]] const std::string& bus_name() const { return bus_name_; }
  [[nodiscard]] Icon icon() const { return icon_; }
  [[nodiscard]] const std::string& label() const { return label_; }
  [[nodiscard]] const std::string& tooltip() const { return tooltip_; }

  // Every click (left, middle, right) of the host.
  sigc::signal<void()>& signal_activate() { return activate_; }
  // Whether a host has accepted the icon; emitted on every change.
  sigc::signal<void(bool)>& signal_available() { return availability_; }

  static std::string icon_name(Icon icon);

  // Handlers and helpers called through the bus library's plain functions.
  void on_watcher_appeared(GDBusConnection* connection);
  void on_watcher_vanished();
  void on_registered(bool ok);
  // A new reference to the property's value, or null for an unknown name.
  [[nodiscard]] GVariant* property(const char* name) const;
  void method(const char* name, GDBusMethodInvocation* invocation);
  // Takes ownership of `parameters` (which may be floating or null).
  void emit(const char* signal, GVariant* parameters);

 private:
  std::string title() const;

  sigc::signal<void()> activate_;
  sigc::signal<void(bool)> availability_;
  ObjectPtr<GDBusConnection> connection_;
  NodeInfoPtr node_info_;
  guint registration_id_ = 0;
  guint owner_id_ = 0;
  guint watcher_id_ = 0;
  std::string bus_name_;
  bool available_ = false;
  Icon icon_ = Icon::SignedOut;
  std::string label_;
  std::string tooltip_;
  std::vector<IconPixmap> pixmaps_;
  // Cancelled on destruction so that a registration reply arriving later
  // never reaches a destroyed tray.
  ObjectPtr<GCancellable> cancellable_;
};

}  // namespace irvelo::ui
