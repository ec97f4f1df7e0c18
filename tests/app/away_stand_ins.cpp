#include "away_stand_ins.hpp"

#include <gio/gunixfdlist.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

namespace irvelo::test {
namespace {

constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSessionPath = "/org/freedesktop/login1/session/_31";
constexpr const char* kSession = "org.freedesktop.login1.Session";
constexpr const char* kNotificationsPath = "/org/freedesktop/Notifications";
constexpr const char* kNotifications = "org.freedesktop.Notifications";
constexpr const char* kMutterPath = "/org/gnome/Mutter/IdleMonitor/Core";
constexpr const char* kMutter = "org.gnome.Mutter.IdleMonitor";
constexpr const char* kScreenSaver = "org.freedesktop.ScreenSaver";
constexpr const char* kGtkNotifications = "org.gtk.Notifications";

constexpr const char* kLoginXml = R"(<node>
  <interface name="org.freedesktop.login1.Manager">
    <method name="GetSession"><arg type="s" direction="in"/><arg type="o" direction="out"/></method>
    <method name="GetSessionByPID"><arg type="u" direction="in"/><arg type="o" direction="out"/></method>
    <method name="Inhibit">
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="h" direction="out"/>
    </method>
    <signal name="PrepareForSleep"><arg type="b"/></signal>
    <signal name="PrepareForShutdown"><arg type="b"/></signal>
  </interface>
  <interface name="org.freedesktop.login1.Session">
    <property name="LockedHint" type="b" access="read"/>
    <property name="IdleHint" type="b" access="read"/>
    <property name="IdleSinceHint" type="t" access="read"/>
    <signal name="Lock"/>
    <signal name="Unlock"/>
  </interface>
</node>)";

constexpr const char* kDesktopXml = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="CloseNotification"><arg type="u" direction="in"/></method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
    <signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
  </interface>
  <interface name="org.gtk.Notifications">
    <method name="AddNotification">
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="a{sv}" direction="in"/>
    </method>
    <method name="RemoveNotification"><arg type="s" direction="in"/><arg type="s" direction="in"/></method>
  </interface>
  <interface name="org.gnome.Mutter.IdleMonitor">
    <method name="GetIdletime"><arg type="t" direction="out"/></method>
    <method name="AddIdleWatch"><arg type="t" direction="in"/><arg type="u" direction="out"/></method>
    <method name="AddUserActiveWatch"><arg type="u" direction="out"/></method>
    <method name="RemoveWatch"><arg type="u" direction="in"/></method>
    <signal name="WatchFired"><arg type="u"/></signal>
  </interface>
  <interface name="org.freedesktop.ScreenSaver">
    <method name="GetSessionIdleTime"><arg type="u" direction="out"/></method>
    <signal name="ActiveChanged"><arg type="b"/></signal>
  </interface>
</node>)";

void method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
                 GDBusMethodInvocation* invocation, gpointer self);
GVariant* get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                       gpointer self);

const GDBusInterfaceVTable kVTable = {method_call, get_property, nullptr, {}};

}  // namespace

// The vtable's callbacks reach the protected answers through this.
struct StandInAccess {
  static GVariant* answer(StandIn& s, const std::string& m, GVariant* p, GUnixFDList** f) { return s.answer(m, p, f); }
  static GVariant* property(StandIn& s, const std::string& n) { return s.property(n); }
};

namespace {

void method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant* parameters,
                 GDBusMethodInvocation* invocation, gpointer self) {
  GUnixFDList* fds = nullptr;
  GVariant* reply = StandInAccess::answer(*static_cast<StandIn*>(self), method, parameters, &fds);
  if (reply == nullptr) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.NotSupported", method);
    return;
  }
  g_dbus_method_invocation_return_value_with_unix_fd_list(invocation, reply, fds);
  if (fds != nullptr) g_object_unref(fds);
}

GVariant* get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                       gpointer self) {
  return StandInAccess::property(*static_cast<StandIn*>(self), name);
}

}  // namespace

StandIn::StandIn(const std::string& address, const std::vector<const char*>& names, const char* xml) {
  ErrorPtr error;
  connection_.reset(g_dbus_connection_new_for_address_sync(
      address.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, out(error)));
  if (!connection_) {
    ADD_FAILURE() << "stand-in cannot connect: " << (error ? error->message : "");
    return;
  }
  node_.reset(g_dbus_node_info_new_for_xml(xml, out(error)));
  EXPECT_TRUE(node_) << (error ? error->message : "");
  for (const char* name : names) {
    VariantPtr reply(g_dbus_connection_call_sync(
        connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", name, 0u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, out(error)));
    EXPECT_TRUE(reply) << name << ": " << (error ? error->message : "");
  }
}

StandIn::~StandIn() {
  if (!connection_) return;
  for (guint id : registrations_) g_dbus_connection_unregister_object(connection_.get(), id);
  g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
}

void StandIn::serve(const char* path, const char* interface) {
  if (!connection_ || !node_) return;
  GDBusInterfaceInfo* info = g_dbus_node_info_lookup_interface(node_.get(), interface);
  ErrorPtr error;
  const guint id =
      g_dbus_connection_register_object(connection_.get(), path, info, &kVTable, this, nullptr, out(error));
  EXPECT_NE(id, 0u) << interface << ": " << (error ? error->message : "");
  registrations_.push_back(id);
}

void StandIn::emit(const char* path, const char* interface, const char* signal, GVariant* parameters) {
  if (!connection_) return;
  g_dbus_connection_emit_signal(connection_.get(), nullptr, path, interface, signal, parameters, nullptr);
  g_dbus_connection_flush_sync(connection_.get(), nullptr, nullptr);
}

GVariant* StandIn::property(const std::string&) {
  return nullptr;
}

StandInLogin::StandInLogin(const PrivateBus& bus, bool with_session)
    : StandIn(bus.address(), {"org.freedesktop.login1"}, kLoginXml), with_session_(with_session) {
  serve(kManagerPath, kManager);
  serve(kSessionPath, kSession);
}

StandInLogin::~StandInLogin() {
  for (int fd : inhibitor_ends_) close(fd);
}

GVariant* StandInLogin::answer(const std::string& method, GVariant* parameters, GUnixFDList** fds) {
  if (method == "GetSession" || method == "GetSessionByPID") {
    return with_session_ ? g_variant_new("(o)", kSessionPath) : nullptr;
  }
  if (method != "Inhibit") return nullptr;
  const gchar* what = nullptr;
  g_variant_get_child(parameters, 0, "&s", &what);
  inhibit_what.emplace_back(what);
  int ends[2];
  if (pipe(ends) != 0) return nullptr;
  // The holder gets the writing end; the reading end sees it closed.
  *fds = g_unix_fd_list_new();
  const gint index = g_unix_fd_list_append(*fds, ends[1], nullptr);
  close(ends[1]);
  inhibitor_ends_.push_back(ends[0]);
  ++inhibitors_taken;
  return g_variant_new("(h)", index);
}

GVariant* StandInLogin::property(const std::string& name) {
  if (name == "LockedHint") return g_variant_new_boolean(locked_hint_);
  // Where nothing keeps the idle hint, the properties are not there at all.
  if (name == "IdleHint" && keeps_idle_hint) return g_variant_new_boolean(FALSE);
  if (name == "IdleSinceHint" && keeps_idle_hint) return g_variant_new_uint64(0);
  return nullptr;
}

int StandInLogin::inhibitors_held() const {
  int held = 0;
  for (int fd : inhibitor_ends_) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) == 0) ++held;  // no hang-up: the writing end is still open
  }
  return held;
}

void StandInLogin::lock() {
  emit(kSessionPath, kSession, "Lock", nullptr);
}

void StandInLogin::set_locked_hint(bool locked) {
  locked_hint_ = locked;
  GVariantBuilder changed;
  g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&changed, "{sv}", "LockedHint", g_variant_new_boolean(locked));
  emit(kSessionPath, "org.freedesktop.DBus.Properties", "PropertiesChanged",
       g_variant_new("(sa{sv}as)", kSession, &changed, nullptr));
}

void StandInLogin::prepare_for_sleep(bool going) {
  emit(kManagerPath, kManager, "PrepareForSleep", g_variant_new("(b)", going));
}

void StandInLogin::prepare_for_shutdown(bool going) {
  emit(kManagerPath, kManager, "PrepareForShutdown", g_variant_new("(b)", going));
}

StandInDesktop::StandInDesktop(const std::string& address, Parts parts)
    : StandIn(
          address,
          [&parts] {
            std::vector<const char*> names = {kNotifications};
            if (parts.gtk_notifications) names.push_back(kGtkNotifications);
            if (parts.mutter) names.push_back(kMutter);
            if (parts.screen_saver) names.push_back(kScreenSaver);
            return names;
          }(),
          kDesktopXml),
      address_(address),
      body_markup_(parts.body_markup) {
  serve(kNotificationsPath, kNotifications);
  if (parts.gtk_notifications) serve("/org/gtk/Notifications", kGtkNotifications);
  if (parts.mutter) serve(kMutterPath, kMutter);
  if (parts.screen_saver) serve("/org/freedesktop/ScreenSaver", kScreenSaver);
}

StandInDesktop::~StandInDesktop() = default;

GVariant* StandInDesktop::answer(const std::string& method, GVariant* parameters, GUnixFDList**) {
  if (method == "Notify") {
    guint32 replaces = 0;
    const gchar* summary = nullptr;
    const gchar* body = nullptr;
    g_variant_get_child(parameters, 1, "u", &replaces);
    g_variant_get_child(parameters, 3, "&s", &summary);
    g_variant_get_child(parameters, 4, "&s", &body);
    const VariantPtr actions(g_variant_get_child_value(parameters, 5));
    Notification n{summary, body, {}, replaces != 0 ? replaces : next_id_++};
    gsize count = 0;
    const gchar** flat = g_variant_get_strv(actions.get(), &count);
    for (gsize i = 0; i + 1 < count; i += 2) n.actions.emplace_back(flat[i], flat[i + 1]);
    g_free(flat);
    notifications.push_back(n);
    return g_variant_new("(u)", n.id);
  }
  if (method == "AddNotification") {
    // Recorded as the other server's are: title, body and buttons' labels.
    const VariantPtr fields(g_variant_get_child_value(parameters, 2));
    const gchar* title = "";
    const gchar* body = "";
    g_variant_lookup(fields.get(), "title", "&s", &title);
    g_variant_lookup(fields.get(), "body", "&s", &body);
    Notification n{title, body, {}, next_id_++};
    const VariantPtr buttons(g_variant_lookup_value(fields.get(), "buttons", G_VARIANT_TYPE("aa{sv}")));
    for (gsize i = 0; buttons && i < g_variant_n_children(buttons.get()); ++i) {
      const VariantPtr button(g_variant_get_child_value(buttons.get(), i));
      const gchar* label = "";
      const gchar* action = "";
      g_variant_lookup(button.get(), "label", "&s", &label);
      g_variant_lookup(button.get(), "action", "&s", &action);
      n.actions.emplace_back(action, label);
    }
    notifications.push_back(n);
    return g_variant_new("()");
  }
  if (method == "RemoveNotification") return g_variant_new("()");
  if (method == "CloseNotification") {
    guint32 id = 0;
    g_variant_get(parameters, "(u)", &id);
    closed.push_back(id);
    return g_variant_new("()");
  }
  if (method == "GetCapabilities") {
    const gchar* with_markup[] = {"actions", "body", "body-markup", nullptr};
    const gchar* plain[] = {"actions", "body", nullptr};
    return g_variant_new("(^as)", body_markup_ ? with_markup : plain);
  }
  const std::int64_t idle_ms = idle_since_ms > 0 ? std::max<std::int64_t>(now_ms() - idle_since_ms, 0) : 0;
  if (method == "GetIdletime") return g_variant_new("(t)", static_cast<guint64>(idle_ms));
  if (method == "AddIdleWatch") {
    guint64 interval = 0;
    g_variant_get(parameters, "(t)", &interval);
    idle_watches.push_back(interval);
    return g_variant_new("(u)", static_cast<guint32>(idle_watches.size()));
  }
  if (method == "AddUserActiveWatch") return g_variant_new("(u)", 1000u);
  if (method == "RemoveWatch") {
    guint32 id = 0;
    g_variant_get(parameters, "(u)", &id);
    removed_watches.push_back(id);
    return g_variant_new("()");
  }
  if (method == "GetSessionIdleTime") {
    return g_variant_new("(u)", static_cast<guint32>(idle_in_seconds ? idle_ms / 1000 : idle_ms));
  }
  return nullptr;
}

void StandInDesktop::invoke(const Notification& notification, const std::string& label) {
  std::string key = "default";
  for (const auto& [action, text] : notification.actions) {
    if (text == label) key = action;
  }
  emit(kNotificationsPath, kNotifications, "ActionInvoked", g_variant_new("(us)", notification.id, key.c_str()));
}

void StandInDesktop::fire_watch(std::uint32_t id) {
  emit(kMutterPath, kMutter, "WatchFired", g_variant_new("(u)", id));
}

void StandInDesktop::screen_saver_active(bool active) {
  emit("/org/freedesktop/ScreenSaver", kScreenSaver, "ActiveChanged", g_variant_new("(b)", active));
}

void StandInDesktop::screen_saver_active_from_stranger(bool active) {
  ErrorPtr error;
  const ObjectPtr<GDBusConnection> stranger(g_dbus_connection_new_for_address_sync(
      address_.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, out(error)));
  ASSERT_TRUE(stranger) << (error ? error->message : "");
  g_dbus_connection_emit_signal(stranger.get(), nullptr, "/org/freedesktop/ScreenSaver", kScreenSaver, "ActiveChanged",
                                g_variant_new("(b)", active), nullptr);
  g_dbus_connection_flush_sync(stranger.get(), nullptr, nullptr);
  g_dbus_connection_close_sync(stranger.get(), nullptr, nullptr);
}

std::int64_t now_ms() {
  return g_get_real_time() / 1000;
}

}  // namespace irvelo::test
