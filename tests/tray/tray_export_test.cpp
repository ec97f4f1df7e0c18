// An item whose object cannot be exported must not be offered to a host: it
// would show an icon that answers nothing.

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "tray_fixture.hpp"

namespace irvelo::test {
namespace {

TEST_F(TrayTest, AnItemThatCannotBeExportedIsNeverOffered) {
  ASSERT_TRUE(host_->appear());
  // Something else already holds the item's path on this connection.
  g_autoptr(GDBusConnection) bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  g_autoptr(GDBusNodeInfo) node =
      g_dbus_node_info_new_for_xml("<node><interface name='org.kde.StatusNotifierItem'/></node>", nullptr);
  const GDBusInterfaceVTable none = {};
  const guint taken = g_dbus_connection_register_object(bus, "/StatusNotifierItem", node->interfaces[0], &none, nullptr,
                                                        nullptr, nullptr);
  ASSERT_NE(taken, 0u);

  auto& tray = make_tray();
  // A round trip on the item's connection: whatever it asked of the bus at
  // construction (its name above all) has been done by now.
  g_autoptr(GVariant) id =
      g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId",
                                  nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
  ASSERT_NE(id, nullptr);
  EXPECT_FALSE(host_->sync(tray.bus_name())) << "the name of an item without an object is owned";
  EXPECT_FALSE(tray.available());
  EXPECT_TRUE(host_->registrations.empty());
  EXPECT_TRUE(availability.empty());
  g_dbus_connection_unregister_object(bus, taken);
}

}  // namespace
}  // namespace irvelo::test
