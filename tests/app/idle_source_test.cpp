// Which idle source the settings window names, found by the real monitors on
// private buses: where only logind's idle hint answers, it is named with its
// condition (many desktops never set the hint), and where nothing answers,
// nothing is claimed.

#include <gio/gio.h>
#include <giomm/init.h>
#include <gtest/gtest.h>

#include <optional>

#include "away/idle_monitor.hpp"
#include "away/session_monitor.hpp"
#include "away_stand_ins.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

TEST(IdleSourceTest, LogindIsNamedWithItsConditionAndNothingIsClaimedWithoutIt) {
  // The monitors hold giomm objects; without it they are not wrapped (and leak).
  Gio::init();
  PrivateBus system_bus;
  // Before anything in this process asks for the system bus.
  g_setenv("DBUS_SYSTEM_BUS_ADDRESS", system_bus.address().c_str(), TRUE);
  GTestDBus* session_bus = g_test_dbus_new(G_TEST_DBUS_NONE);
  g_test_dbus_up(session_bus);  // also leaves no X display to ask
  {
    StandInLogin login(system_bus);
    struct Case {
      bool hint;
      away::IdleSource source;
      const char* name;
    };
    for (const Case& c : {Case{true, away::IdleSource::Logind, "login manager, if the desktop reports idle"},
                          Case{false, away::IdleSource::None, "not available here"}}) {
      SCOPED_TRACE(c.name);
      login.keeps_idle_hint = c.hint;
      away::SessionMonitor session;
      away::IdleMonitor idle(session);
      std::optional<away::IdleSource> found;
      idle.detect([&](away::IdleSource source) { found = source; });
      ASSERT_TRUE(run_until([&] { return found.has_value(); }));
      EXPECT_EQ(*found, c.source);
      EXPECT_EQ(away::idle_source_name(*found), c.name);
    }
  }
  g_test_dbus_down(session_bus);
  g_object_unref(session_bus);
}

}  // namespace
}  // namespace irvelo::test
