#pragma once

// The application's place in the desktop's system tray: a StatusNotifierItem
// published on the session bus and registered with whichever tray host owns
// "org.kde.StatusNotifierWatcher". A click asks the application to toggle
// its panel; a menu, when the application serves one, is named to the host.
// Plain GDBus, no widgets.

#include <gio/gio.h>
#include <sigc++/signal.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/owned.hpp"
#include "ui/tray_clock_icon.hpp"

namespace irvelo::ui {

class Tray {
 public:
  enum class Icon { SignedOut = 0, Idle = 1, Tracking = 2 };

  // Where a click was and the host's activation token, for presenting the
  // panel in front and beside the icon. x and y are 0 when the host gave none.
  struct Activation {
    int x = 0;
    int y = 0;
    std::string token;
  };

  // `menu_path`: the object path of a com.canonical.dbusmenu menu on the
  // same connection; empty: the item names none.
  explicit Tray(std::string menu_path = {});
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

  // The program that owns the watcher (argv[0]'s base name), known from
  // before the first registration; empty when it cannot be read.
  [[nodiscard]] const std::string& host_program() const { return host_program_; }
  // The last click's place and token; the token is handed out once.
  [[nodiscard]] Activation take_activation();

  // Every click (left, middle, right) of the host.
  sigc::signal<void()>& signal_activate() { return activate_; }
  // Whether a host has accepted the icon; emitted on every change.
  sigc::signal<void(bool)>& signal_available() { return availability_; }

  static std::string icon_name(Icon icon);

  // Handlers and helpers called through the bus library's plain functions.
  void on_watcher_appeared(const char* owner);
  void on_watcher_vanished();
  void on_host_identified(std::string program);
  void on_registered(bool ok);
  void on_listed(bool listed);
  void on_unregistered(const char* item);
  // Whether an entry of the watcher's list, or of its signals, is this item.
  [[nodiscard]] bool names_this_item(std::string_view entry) const;
  // A new reference to the property's value, or null for an unknown name.
  [[nodiscard]] GVariant* property(const char* name) const;
  void method(const char* name, GVariant* parameters, GDBusMethodInvocation* invocation);
  // Takes ownership of `parameters` (which may be floating or null).
  void emit(const char* signal, GVariant* parameters);

 private:
  std::string title() const;
  void register_item();
  // Registers again after a host lost the item, a few times with a growing
  // pause; then counts as without a host.
  void register_again();

  sigc::signal<void()> activate_;
  sigc::signal<void(bool)> availability_;
  ObjectPtr<GDBusConnection> connection_;
  NodeInfoPtr node_info_;
  guint registration_id_ = 0;
  guint owner_id_ = 0;
  guint watcher_id_ = 0;
  guint unregistered_id_ = 0;
  guint retry_source_ = 0;
  int tries_ = 0;
  bool watcher_present_ = false;
  std::string bus_name_;
  std::string menu_path_;
  std::string host_program_;
  Activation activation_;
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
