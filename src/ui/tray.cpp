#include "ui/tray.hpp"
#include "config.hpp"

#include <glib.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace irvelo::ui {

namespace {

constexpr const char* kObjectPath = "/StatusNotifierItem";
constexpr const char* kInterface = "org.kde.StatusNotifierItem";
constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kLabelGuide = "0:00:00";

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="XAyatanaLabel" type="s" access="read"/>
    <property name="XAyatanaLabelGuide" type="s" access="read"/>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
    <signal name="XAyatanaNewLabel">
      <arg name="label" type="s"/>
      <arg name="guide" type="s"/>
    </signal>
  </interface>
</node>)xml";

void handle_method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method_name, GVariant*,
                        GDBusMethodInvocation* invocation, gpointer user_data) {
  static_cast<Tray*>(user_data)->method(method_name, invocation);
}

GVariant* handle_get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property_name,
                              GError** error, gpointer user_data) {
  GVariant* value = static_cast<const Tray*>(user_data)->property(property_name);
  if (value == nullptr) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No such property: %s", property_name);
  }
  return value;
}

const GDBusInterfaceVTable kVTable = {handle_method_call, handle_get_property, nullptr, {}};

void watcher_appeared(GDBusConnection* connection, const gchar*, const gchar*, gpointer user_data) {
  static_cast<Tray*>(user_data)->on_watcher_appeared(connection);
}

void watcher_vanished(GDBusConnection*, const gchar*, gpointer user_data) {
  static_cast<Tray*>(user_data)->on_watcher_vanished();
}

void registration_done(GObject* source, GAsyncResult* result, gpointer user_data) {
  ErrorPtr error;
  // The reply carries nothing; only the error counts.
  const VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, out(error)));
  // The tray may be gone: its destructor cancels the call, and then
  // user_data must not be touched.
  if (error != nullptr && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
  if (error != nullptr) g_info("tray not available: %s", error->message);
  static_cast<Tray*>(user_data)->on_registered(error == nullptr);
}

// An icon directory the host can read. A name that is not valid UTF-8 cannot
// travel as a D-Bus string, so it counts as none.
std::string icon_theme_path() {
  const char* dir = std::getenv("IRVELO_ICON_DIR");
  if (dir == nullptr || !g_utf8_validate(dir, -1, nullptr)) return {};
  return dir;
}

// Hosts render the tooltip text as markup; ours is plain text.
std::string escape_markup(const std::string& text) {
  // Invalid UTF-8 would make the variant invalid; replace it first.
  const CharPtr valid(g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size())));
  const CharPtr escaped(g_markup_escape_text(valid.get(), -1));
  return escaped.get();
}

GVariant* plain_string(const std::string& text) {
  if (g_utf8_validate(text.c_str(), static_cast<gssize>(text.size()), nullptr)) {
    return g_variant_new_string(text.c_str());
  }
  const CharPtr valid(g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size())));
  return g_variant_new_string(valid.get());
}

}  // namespace

Tray::Tray() : cancellable_(g_cancellable_new()) {
  ErrorPtr error;
  node_info_.reset(g_dbus_node_info_new_for_xml(kIntrospection, out(error)));
  if (!node_info_) {
    g_info("tray not available: cannot parse its interface: %s", error != nullptr ? error->message : "unknown error");
  }

  bus_name_ = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";

  connection_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, out(error)));
  if (!connection_) {
    g_info("tray not available: no session bus: %s", error != nullptr ? error->message : "unknown error");
  }
  if (!connection_ || !node_info_) return;

  // Publish the object and own the name before asking any host to show it;
  // without the object a host would show an item it cannot ask anything.
  registration_id_ = g_dbus_connection_register_object(connection_.get(), kObjectPath, node_info_->interfaces[0],
                                                       &kVTable, this, nullptr, out(error));
  if (registration_id_ == 0) {
    g_info("tray not available: cannot export %s: %s", kObjectPath,
           error != nullptr ? error->message : "unknown error");
    return;
  }
  owner_id_ = g_bus_own_name_on_connection(connection_.get(), bus_name_.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE, nullptr,
                                           nullptr, nullptr, nullptr);
  watcher_id_ = g_bus_watch_name_on_connection(connection_.get(), kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                               watcher_appeared, watcher_vanished, this, nullptr);
}

Tray::~Tray() {
  g_cancellable_cancel(cancellable_.get());
  if (watcher_id_ != 0) g_bus_unwatch_name(watcher_id_);
  if (owner_id_ != 0) g_bus_unown_name(owner_id_);
  if (registration_id_ != 0 && connection_) {
    g_dbus_connection_unregister_object(connection_.get(), registration_id_);
  }
}

std::string Tray::icon_name(Icon icon) {
  switch (icon) {
    case Icon::Idle:
      return "com.larkspan.Irvelo-idle-symbolic";
    case Icon::Tracking:
      return "com.larkspan.Irvelo-tracking-symbolic";
    default:
      return "com.larkspan.Irvelo-signedout-symbolic";
  }
}

std::string Tray::icon_name() const {
  return icon_name(icon_);
}

std::string Tray::title() const {
  return label_.empty() ? std::string("Irvelo") : "Irvelo " + label_;
}

void Tray::set(Icon icon, const std::string& label, const std::string& tooltip) {
  const bool label_changed = label != label_;
  const bool tooltip_changed = tooltip != tooltip_;
  const Icon old_icon = icon_;
  icon_ = icon;
  label_ = label;
  tooltip_ = tooltip;

  if (old_icon != icon_) emit("NewIcon", nullptr);
  if (label_changed) {
    emit("XAyatanaNewLabel", g_variant_new("(@ss)", plain_string(label_), kLabelGuide));
    emit("NewTitle", nullptr);
    emit("NewToolTip", nullptr);
  } else if (tooltip_changed) {
    emit("NewTitle", nullptr);
    emit("NewToolTip", nullptr);
  }
}

void Tray::set_pixmaps(std::vector<IconPixmap> pixmaps) {
  if (pixmaps.empty() && pixmaps_.empty()) return;
  pixmaps_ = std::move(pixmaps);
  emit("NewIcon", nullptr);
}

void Tray::on_watcher_appeared(GDBusConnection* connection) {
  g_dbus_connection_call(connection, kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
                         g_variant_new("(s)", bus_name_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                         cancellable_.get(), registration_done, this);
}

void Tray::on_watcher_vanished() {
  if (!available_) return;
  available_ = false;
  availability_.emit(false);
}

void Tray::on_registered(bool ok) {
  if (ok == available_) return;
  available_ = ok;
  availability_.emit(ok);
}

GVariant* Tray::property(const char* name) const {
  const std::string_view key(name);
  if (key == "Category") return g_variant_new_string("ApplicationStatus");
  if (key == "Id") return g_variant_new_string(config::kApplicationId);
  if (key == "Title") return plain_string(title());
  if (key == "Status") return g_variant_new_string("Active");
  if (key == "WindowId") return g_variant_new_int32(0);
  // xfce4-panel and Plasma draw a named icon whenever there is one: the
  // drawn time shows only in its place.
  if (key == "IconName") return g_variant_new_string(pixmaps_.empty() ? icon_name().c_str() : "");
  if (key == "IconThemePath") return g_variant_new_string(icon_theme_path().c_str());
  if (key == "IconPixmap") {
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
    for (const auto& pixmap : pixmaps_) {
      g_variant_builder_add(&builder, "(ii@ay)", pixmap.size, pixmap.size,
                            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, pixmap.argb.data(), pixmap.argb.size(), 1));
    }
    return g_variant_builder_end(&builder);
  }
  if (key == "OverlayIconName" || key == "AttentionIconName") return g_variant_new_string("");
  if (key == "ToolTip") {
    const std::string text = escape_markup(tooltip_);
    return g_variant_new("(s@a(iiay)ss)", icon_name().c_str(),
                         g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0), "Irvelo", text.c_str());
  }
  if (key == "ItemIsMenu") return g_variant_new_boolean(FALSE);
  if (key == "XAyatanaLabel") return plain_string(label_);
  if (key == "XAyatanaLabelGuide") return g_variant_new_string(kLabelGuide);
  return nullptr;
}

void Tray::method(const char* name, GDBusMethodInvocation* invocation) {
  const std::string_view key(name);
  if (key == "Activate" || key == "SecondaryActivate" || key == "ContextMenu") activate_.emit();
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

void Tray::emit(const char* signal, GVariant* parameters) {
  if (!connection_ || registration_id_ == 0) {
    // Nobody takes the value: sunk into an owner, it is released here.
    const VariantPtr unsent(parameters != nullptr ? g_variant_ref_sink(parameters) : nullptr);
    return;
  }
  g_dbus_connection_emit_signal(connection_.get(), nullptr, kObjectPath, kInterface, signal, parameters, nullptr);
}

}  // namespace irvelo::ui
