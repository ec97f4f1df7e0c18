#include "test_host.hpp"

#include <algorithm>
#include <memory>

#include "support/main_loop.hpp"

namespace irvelo::test {

namespace {

constexpr const char* kWatcherXml = R"xml(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem">
      <arg name="service" type="s" direction="in"/>
    </method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <signal name="StatusNotifierItemUnregistered">
      <arg name="service" type="s"/>
    </signal>
  </interface>
</node>)xml";

}  // namespace

TestHost::TestHost(const std::string& address) {
  GError* error = nullptr;
  if (address.empty()) {
    g_autofree gchar* session = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    g_clear_error(&error);
    connection_.reset(g_dbus_connection_new_for_address_sync(
        session,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error));
  } else {
    connection_.reset(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error));
  }
  if (error != nullptr) {
    g_warning("test host cannot connect: %s", error->message);
    g_clear_error(&error);
    return;
  }
  node_info_.reset(g_dbus_node_info_new_for_xml(kWatcherXml, nullptr));
  subscription_id_ =
      g_dbus_connection_signal_subscribe(connection_.get(), nullptr, "org.kde.StatusNotifierItem", nullptr, nullptr,
                                         nullptr, G_DBUS_SIGNAL_FLAGS_NONE, &TestHost::on_signal, this, nullptr);
}

TestHost::~TestHost() {
  vanish();
  if (connection_ && subscription_id_ != 0) g_dbus_connection_signal_unsubscribe(connection_.get(), subscription_id_);
  if (connection_) g_dbus_connection_close_sync(connection_.get(), nullptr, nullptr);
}

bool TestHost::appear(bool accept) {
  accept_ = accept;
  if (!connection_) return false;
  if (registration_id_ == 0) {
    static const GDBusInterfaceVTable vtable = {&TestHost::on_method, &TestHost::on_get_property, nullptr, {}};
    registration_id_ = g_dbus_connection_register_object(connection_.get(), "/StatusNotifierWatcher",
                                                         node_info_->interfaces[0], &vtable, this, nullptr, nullptr);
  }
  if (owner_id_ == 0) {
    owned_ = false;
    owner_id_ = g_bus_own_name_on_connection(
        connection_.get(), "org.kde.StatusNotifierWatcher", G_BUS_NAME_OWNER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, gpointer self) { static_cast<TestHost*>(self)->owned_ = true; }, nullptr,
        this, nullptr);
  }
  return run_until([this] { return owned_; });
}

void TestHost::vanish() {
  if (owner_id_ != 0) g_bus_unown_name(owner_id_);
  owner_id_ = 0;
  owned_ = false;
  if (registration_id_ != 0) g_dbus_connection_unregister_object(connection_.get(), registration_id_);
  registration_id_ = 0;
  listed.clear();
}

void TestHost::drop(const std::string& entry) {
  // A copy: `entry` may be one of the list's own.
  const std::string item = entry;
  std::erase(listed, item);
  g_dbus_connection_emit_signal(connection_.get(), nullptr, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                                "StatusNotifierItemUnregistered", g_variant_new("(s)", item.c_str()), nullptr);
}

GVariant* TestHost::on_get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                                    GError** error, gpointer self) {
  if (g_strcmp0(name, "RegisteredStatusNotifierItems") != 0) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No such property: %s", name);
    return nullptr;
  }
  auto* host = static_cast<TestHost*>(self);
  ++host->list_reads;
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE_STRING_ARRAY);
  for (const auto& item : host->listed) g_variant_builder_add(&builder, "s", item.c_str());
  return g_variant_builder_end(&builder);
}

void TestHost::on_method(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
  auto* host = static_cast<TestHost*>(self);
  if (g_strcmp0(method, "RegisterStatusNotifierItem") != 0) {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod", method);
    return;
  }
  const gchar* service = nullptr;
  g_variant_get(parameters, "(&s)", &service);
  host->registrations.emplace_back(service);
  if (host->accept_) {
    if (host->lose_silently > 0) {
      --host->lose_silently;
    } else {
      const std::string entry =
          host->list_by_connection
              ? std::string(g_dbus_method_invocation_get_sender(invocation)) + "@/StatusNotifierItem"
              : std::string(service);
      if (std::find(host->listed.begin(), host->listed.end(), entry) == host->listed.end()) {
        host->listed.push_back(entry);
      }
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
  } else {
    g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.Failed", "refused by test host");
  }
}

void TestHost::on_signal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* signal,
                         GVariant* parameters, gpointer self) {
  g_autofree gchar* printed = g_variant_print(parameters, FALSE);
  static_cast<TestHost*>(self)->signals.push_back({signal, printed});
}

VariantPtr TestHost::property(const std::string& item, const char* name, std::string* error_text) {
  std::string error;
  VariantPtr reply = call_and_wait(item, "org.freedesktop.DBus.Properties", "Get",
                                   g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), &error);
  if (!reply) {
    if (error_text != nullptr) *error_text = error;
    return nullptr;
  }
  GVariant* value = nullptr;
  g_variant_get(reply.get(), "(v)", &value);
  return VariantPtr(value);
}

std::string TestHost::string_property(const std::string& item, const char* name) {
  VariantPtr value = property(item, name);
  if (!value || !g_variant_is_of_type(value.get(), G_VARIANT_TYPE_STRING)) return "<no string>";
  return g_variant_get_string(value.get(), nullptr);
}

VariantPtr TestHost::call(const std::string& item, const char* method, GVariant* parameters) {
  return call_and_wait(item, "org.kde.StatusNotifierItem", method, parameters, nullptr);
}

// Asynchronous with a wait on the default main context, so that an item
// living in this same process can answer.
VariantPtr TestHost::call_and_wait(const std::string& item, const char* interface, const char* method,
                                   GVariant* parameters, std::string* error_text, const char* path) {
  struct Pending {
    bool done = false;
    GVariant* reply = nullptr;
    std::string error;
  };
  auto pending = std::make_shared<Pending>();
  auto* keep = new std::shared_ptr<Pending>(pending);
  g_dbus_connection_call(
      connection_.get(), item.c_str(), path, interface, method, parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000,
      nullptr,
      [](GObject* source, GAsyncResult* result, gpointer data) {
        std::unique_ptr<std::shared_ptr<Pending>> owned(static_cast<std::shared_ptr<Pending>*>(data));
        GError* error = nullptr;
        (*owned)->reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (error != nullptr) (*owned)->error = error->message;
        g_clear_error(&error);
        (*owned)->done = true;
      },
      keep);
  if (!run_until([&] { return pending->done; })) {
    if (error_text != nullptr) *error_text = "no reply in time";
    return nullptr;
  }
  if (error_text != nullptr) *error_text = pending->error;
  return VariantPtr(pending->reply);
}

bool TestHost::sync(const std::string& item) {
  return static_cast<bool>(property(item, "Id"));
}

std::vector<TestHost::MenuEntry> TestHost::menu(const std::string& item) {
  std::vector<MenuEntry> entries;
  VariantPtr path = property(item, "Menu");
  if (!path || !g_variant_is_of_type(path.get(), G_VARIANT_TYPE_OBJECT_PATH)) return entries;
  VariantPtr layout = call_and_wait(item, "com.canonical.dbusmenu", "GetLayout",
                                    g_variant_new("(ii@as)", 0, 1, g_variant_new_strv(nullptr, 0)), nullptr,
                                    g_variant_get_string(path.get(), nullptr));
  if (!layout) return entries;
  // (u(ia{sv}av)): a revision, then the root with its children as variants.
  VariantPtr root(g_variant_get_child_value(layout.get(), 1));
  VariantPtr children(g_variant_get_child_value(root.get(), 2));
  for (gsize i = 0; i < g_variant_n_children(children.get()); ++i) {
    VariantPtr boxed(g_variant_get_child_value(children.get(), i));
    VariantPtr child(g_variant_get_variant(boxed.get()));
    MenuEntry entry;
    g_variant_get_child(child.get(), 0, "i", &entry.id);
    VariantPtr properties(g_variant_get_child_value(child.get(), 1));
    const gchar* type = nullptr;
    if (g_variant_lookup(properties.get(), "type", "&s", &type) && g_strcmp0(type, "separator") == 0) continue;
    const gchar* label = nullptr;
    if (g_variant_lookup(properties.get(), "label", "&s", &label)) entry.label = label;
    gboolean enabled = TRUE;
    if (g_variant_lookup(properties.get(), "enabled", "b", &enabled)) entry.enabled = enabled;
    entries.push_back(entry);
  }
  return entries;
}

bool TestHost::click_menu(const std::string& item, const std::string& label) {
  VariantPtr path = property(item, "Menu");
  if (!path) return false;
  for (const auto& entry : menu(item)) {
    if (entry.label != label) continue;
    return static_cast<bool>(call_and_wait(item, "com.canonical.dbusmenu", "Event",
                                           g_variant_new("(isvu)", entry.id, "clicked", g_variant_new_int32(0), 0u),
                                           nullptr, g_variant_get_string(path.get(), nullptr)));
  }
  return false;
}

std::vector<std::string> TestHost::signal_names() const {
  std::vector<std::string> names;
  for (const auto& s : signals) names.push_back(s.name);
  return names;
}

}  // namespace irvelo::test
