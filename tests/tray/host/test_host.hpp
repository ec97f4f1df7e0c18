#pragma once

// A small tray host for tests: owns "org.kde.StatusNotifierWatcher" on its own
// connection to the session bus, records every registration, can refuse
// them, vanish and come back; and, as a host does, reads an item's
// properties, calls its methods and records its signals.

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

namespace irvelo::test {

struct GVariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
using VariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

class TestHost {
 public:
  // Connects to the bus at `address` (the session bus when empty); does not
  // own the watcher name yet.
  explicit TestHost(const std::string& address = {});
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Owns the watcher name and waits until the bus confirms it; returns
  // whether it did. With `accept` false, registrations are answered with an
  // error.
  bool appear(bool accept = true);
  // Gives the name up, as a host that exits.
  void vanish();
  // Drops the item from the list and says so, as a host after an error of its own.
  void drop(const std::string& entry);

  struct Signal {
    std::string name;
    std::string parameters;  // g_variant_print of the parameters, "()" for none
  };

  // Service names passed to RegisterStatusNotifierItem, oldest first.
  std::vector<std::string> registrations;
  // RegisteredStatusNotifierItems: what the host shows.
  std::vector<std::string> listed;
  // How many of the next registrations are accepted and then silently
  // dropped, never listed.
  int lose_silently = 0;
  // Lists an item by its connection ("unique@/path") rather than by the
  // service name it registered with.
  bool list_by_connection = false;
  // How often an item read that list.
  int list_reads = 0;
  // Signals of the StatusNotifierItem interface from any sender, oldest first.
  std::vector<Signal> signals;

  // The property's value (unwrapped from its variant), or null with the
  // error message in `error`.
  VariantPtr property(const std::string& item, const char* name, std::string* error = nullptr);
  std::string string_property(const std::string& item, const char* name);
  // Calls a method of the item; returns the reply (null on error).
  VariantPtr call(const std::string& item, const char* method, GVariant* parameters);
  std::vector<std::string> signal_names() const;

  // The item's menu as a host reads it (com.canonical.dbusmenu GetLayout):
  // the top level's entries, separators left out.
  struct MenuEntry {
    int id = 0;
    std::string label;
    bool enabled = true;
  };
  std::vector<MenuEntry> menu(const std::string& item);
  // Clicks the entry whose label is `label`; false if there is none.
  bool click_menu(const std::string& item, const std::string& label);
  // A round trip to the item through its main loop: once it returns true,
  // every signal the item sent before it answered has been recorded (one
  // sender's messages arrive in order, and are dispatched here in order), and
  // every method reply this host sent it before has been handled by it.
  bool sync(const std::string& item);

 private:
  struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
  };
  struct NodeInfoUnref {
    void operator()(GDBusNodeInfo* info) const { g_dbus_node_info_unref(info); }
  };
  VariantPtr call_and_wait(const std::string& item, const char* interface, const char* method, GVariant* parameters,
                           std::string* error_text, const char* path = "/StatusNotifierItem");
  static GVariant* on_get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                                   GError** error, gpointer self);
  static void on_method(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                        GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);
  static void on_signal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
                        GVariant* parameters, gpointer self);

  std::unique_ptr<GDBusConnection, ObjectUnref> connection_;
  std::unique_ptr<GDBusNodeInfo, NodeInfoUnref> node_info_;
  guint registration_id_ = 0;
  guint owner_id_ = 0;
  guint subscription_id_ = 0;
  bool accept_ = true;
  bool owned_ = false;
};

}  // namespace irvelo::test
