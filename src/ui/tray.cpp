#include "ui/tray.hpp"
#include "config.hpp"

#include <glib.h>
#include <unistd.h>

#include <cstdlib>
#include <iterator>
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
    <property name="IconAccessibleDesc" type="s" access="read"/>
    <property name="AttentionAccessibleDesc" type="s" access="read"/>
    <property name="XAyatanaLabel" type="s" access="read"/>
    <property name="XAyatanaLabelGuide" type="s" access="read"/>@MENU@
    <method name="ProvideXdgActivationToken">
      <arg name="token" type="s" direction="in"/>
    </method>
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

// Pauses before each new registration after the host lost the item.
constexpr guint kRetryMs[] = {250, 1000, 3000};

void handle_method_call(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method_name,
                        GVariant* parameters, GDBusMethodInvocation* invocation, gpointer user_data) {
  static_cast<Tray*>(user_data)->method(method_name, parameters, invocation);
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

void watcher_appeared(GDBusConnection*, const gchar*, const gchar* owner, gpointer user_data) {
  static_cast<Tray*>(user_data)->on_watcher_appeared(owner);
}

bool cancelled(const ErrorPtr& error) {
  return error != nullptr && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// argv[0]'s base name of a process, from /proc; empty when unreadable.
std::string program_of(guint32 pid) {
  const std::string path = "/proc/" + std::to_string(pid) + "/cmdline";
  gchar* raw = nullptr;
  gsize length = 0;
  if (!g_file_get_contents(path.c_str(), &raw, &length, nullptr)) return {};
  const CharPtr contents(raw);
  if (length == 0) return {};
  // The arguments are separated by NULs: the first ends at the first.
  const CharPtr base(g_path_get_basename(contents.get()));
  return base.get();
}

void host_identified(GObject* source, GAsyncResult* result, gpointer user_data) {
  ErrorPtr error;
  const VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, out(error)));
  if (cancelled(error)) return;
  guint32 pid = 0;
  if (reply) g_variant_get(reply.get(), "(u)", &pid);
  static_cast<Tray*>(user_data)->on_host_identified(pid != 0 ? program_of(pid) : std::string());
}

void listed(GObject* source, GAsyncResult* result, gpointer user_data) {
  ErrorPtr error;
  const VariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, out(error)));
  if (cancelled(error)) return;
  auto* tray = static_cast<Tray*>(user_data);
  // A watcher that keeps no list cannot be checked: it is taken at its word.
  if (!reply) {
    tray->on_listed(true);
    return;
  }
  GVariant* raw = nullptr;  // variadic: no owner can stand in for the pointer
  g_variant_get(reply.get(), "(v)", &raw);
  const VariantPtr value(raw);
  if (!g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING_ARRAY)) {
    tray->on_listed(true);
    return;
  }
  bool found = false;
  GVariantIter iter;
  g_variant_iter_init(&iter, value.get());
  const gchar* entry = nullptr;
  while (g_variant_iter_next(&iter, "&s", &entry)) found = found || tray->names_this_item(entry);
  tray->on_listed(found);
}

void item_unregistered(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                       gpointer user_data) {
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(s)"))) return;
  const gchar* item = nullptr;
  g_variant_get(parameters, "(&s)", &item);
  static_cast<Tray*>(user_data)->on_unregistered(item);
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
  if (cancelled(error)) return;
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

Tray::Tray(std::string menu_path) : menu_path_(std::move(menu_path)), cancellable_(g_cancellable_new()) {
  ErrorPtr error;
  std::string xml = kIntrospection;
  const std::string menu = menu_path_.empty() ? "" : "\n    <property name=\"Menu\" type=\"o\" access=\"read\"/>";
  xml.replace(xml.find("@MENU@"), 6, menu);
  node_info_.reset(g_dbus_node_info_new_for_xml(xml.c_str(), out(error)));
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
  // A host that drops the item says so here, if it says so at all.
  unregistered_id_ = g_dbus_connection_signal_subscribe(connection_.get(), nullptr, kWatcherName,
                                                        "StatusNotifierItemUnregistered", kWatcherPath, nullptr,
                                                        G_DBUS_SIGNAL_FLAGS_NONE, item_unregistered, this, nullptr);
  watcher_id_ = g_bus_watch_name_on_connection(connection_.get(), kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                               watcher_appeared, watcher_vanished, this, nullptr);
}

Tray::~Tray() {
  g_cancellable_cancel(cancellable_.get());
  if (retry_source_ != 0) g_source_remove(retry_source_);
  if (unregistered_id_ != 0) g_dbus_connection_signal_unsubscribe(connection_.get(), unregistered_id_);
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

Tray::Activation Tray::take_activation() {
  Activation taken = activation_;
  activation_.token.clear();
  return taken;
}

void Tray::on_watcher_appeared(const char* owner) {
  watcher_present_ = true;
  tries_ = 0;
  // Who the host is decides how the time is best shown: asked before the
  // item registers, so that the first texts the host reads already fit it.
  g_dbus_connection_call(connection_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "GetConnectionUnixProcessID", g_variant_new("(s)", owner), G_VARIANT_TYPE("(u)"),
                         G_DBUS_CALL_FLAGS_NONE, -1, cancellable_.get(), host_identified, this);
}

void Tray::on_host_identified(std::string program) {
  host_program_ = std::move(program);
  register_item();
}

void Tray::register_item() {
  if (!watcher_present_) return;
  g_dbus_connection_call(connection_.get(), kWatcherName, kWatcherPath, kWatcherName, "RegisterStatusNotifierItem",
                         g_variant_new("(s)", bus_name_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
                         cancellable_.get(), registration_done, this);
}

void Tray::on_watcher_vanished() {
  watcher_present_ = false;
  if (retry_source_ != 0) g_source_remove(retry_source_);
  retry_source_ = 0;
  if (!available_) return;
  available_ = false;
  availability_.emit(false);
}

void Tray::on_registered(bool ok) {
  if (!ok) {
    if (available_) {
      available_ = false;
      availability_.emit(false);
    }
    return;
  }
  // An accepted registration is not yet a shown item: a host can drop it
  // after an error of its own. Its list says whether it kept it.
  g_dbus_connection_call(connection_.get(), kWatcherName, kWatcherPath, "org.freedesktop.DBus.Properties", "Get",
                         g_variant_new("(ss)", kWatcherName, "RegisteredStatusNotifierItems"), G_VARIANT_TYPE("(v)"),
                         G_DBUS_CALL_FLAGS_NONE, -1, cancellable_.get(), listed, this);
}

void Tray::on_listed(bool listed) {
  if (!listed) {
    g_info("the tray host accepted the item but does not list it");
    register_again();
    return;
  }
  tries_ = 0;
  if (available_) return;
  available_ = true;
  availability_.emit(true);
}

void Tray::on_unregistered(const char* item) {
  if (!watcher_present_ || !names_this_item(item)) return;
  g_info("the tray host dropped the item");
  register_again();
}

void Tray::register_again() {
  if (retry_source_ != 0) return;
  if (tries_ >= static_cast<int>(std::size(kRetryMs))) {
    // Given up: as without a host, until a watcher appears anew.
    if (available_) {
      available_ = false;
      availability_.emit(false);
    }
    return;
  }
  retry_source_ = g_timeout_add(
      kRetryMs[tries_++],
      [](gpointer self) {
        auto* tray = static_cast<Tray*>(self);
        tray->retry_source_ = 0;
        tray->register_item();
        return G_SOURCE_REMOVE;
      },
      this);
}

bool Tray::names_this_item(std::string_view entry) const {
  // Hosts list an item as its service name or its connection's unique name,
  // with or without the object path after it ("name/path", or "name@/path"
  // where GNOME's extension found the item on the bus itself).
  const auto named = [entry](std::string_view name) {
    return !name.empty() && entry.substr(0, name.size()) == name &&
           (entry.size() == name.size() || entry[name.size()] == '/' || entry[name.size()] == '@');
  };
  const char* unique = connection_ ? g_dbus_connection_get_unique_name(connection_.get()) : nullptr;
  return named(bus_name_) || (unique != nullptr && named(unique));
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
  // What a screen reader says of the icon: the same as the tooltip.
  if (key == "IconAccessibleDesc") return plain_string(tooltip_.empty() ? title() : "Irvelo: " + tooltip_);
  if (key == "AttentionAccessibleDesc") return g_variant_new_string("");
  if (key == "XAyatanaLabel") return plain_string(label_);
  if (key == "XAyatanaLabelGuide") return g_variant_new_string(kLabelGuide);
  if (key == "Menu" && !menu_path_.empty()) return g_variant_new_object_path(menu_path_.c_str());
  return nullptr;
}

void Tray::method(const char* name, GVariant* parameters, GDBusMethodInvocation* invocation) {
  const std::string_view key(name);
  if (key == "ProvideXdgActivationToken") {
    // Sent just before Activate by hosts whose window manager keeps new
    // windows behind the focused one without it.
    const gchar* token = nullptr;
    g_variant_get(parameters, "(&s)", &token);
    activation_.token = token;
  } else if (key == "Activate" || key == "SecondaryActivate" || key == "ContextMenu") {
    g_variant_get(parameters, "(ii)", &activation_.x, &activation_.y);
    activate_.emit();
  }
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
