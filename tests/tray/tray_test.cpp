#include <gio/gio.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/main_loop.hpp"
#include "tray_fixture.hpp"

namespace irvelo::test {
namespace {

using Icon = ui::Tray::Icon;

std::string print(GVariant* value) {
  g_autofree gchar* text = g_variant_print(value, FALSE);
  return text;
}

TEST_F(TrayTest, RegistersWithHostRunningAtConstruction) {
  ASSERT_TRUE(host_->appear());
  auto& tray = make_tray();
  EXPECT_EQ(tray.bus_name(), "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1");
  ASSERT_TRUE(run_until([&] { return tray.available(); }));
  EXPECT_EQ(host_->registrations, std::vector<std::string>{tray.bus_name()});
  EXPECT_EQ(availability, std::vector<bool>{true});
  // The host can reach the item under the registered name.
  EXPECT_EQ(host_->string_property(tray.bus_name(), "Id"), "com.larkspan.Irvelo");
}

TEST_F(TrayTest, RegistersWhenHostAppearsLater) {
  auto& tray = make_tray();
  // Published and reachable, with no host to register with.
  ASSERT_TRUE(run_until([&] { return host_->sync(tray.bus_name()); }));
  EXPECT_FALSE(tray.available());
  EXPECT_TRUE(host_->registrations.empty());
  ASSERT_TRUE(host_->appear());
  ASSERT_TRUE(run_until([&] { return tray.available(); }));
  EXPECT_EQ(host_->registrations.size(), 1u);
  EXPECT_EQ(availability, std::vector<bool>{true});
}

TEST_F(TrayTest, NoHostNeverAvailableButSignalsStillSent) {
  auto& tray = make_tray();
  ASSERT_TRUE(run_until([&] { return host_->sync(tray.bus_name()); }));
  EXPECT_FALSE(tray.available());
  EXPECT_TRUE(availability.empty());
  tray.set(Icon::Idle, "", "Not tracking");
  ASSERT_TRUE(host_->sync(tray.bus_name()));
  EXPECT_EQ(host_->signal_names(), (std::vector<std::string>{"NewIcon", "NewTitle", "NewToolTip"}));
  EXPECT_FALSE(tray.available());
}

TEST_F(TrayTest, RefusedRegistrationStaysUnavailable) {
  ASSERT_TRUE(host_->appear(false));
  auto& tray = make_tray();
  ASSERT_TRUE(run_until([&] { return host_->registrations.size() == 1; }));
  // The refusal went to the item before this call did.
  ASSERT_TRUE(host_->sync(tray.bus_name()));
  EXPECT_FALSE(tray.available());
  EXPECT_TRUE(availability.empty());
}

TEST_F(TrayTest, HostVanishingAndReappearingRegistersAgain) {
  ASSERT_TRUE(host_->appear());
  auto& tray = make_tray();
  ASSERT_TRUE(run_until([&] { return tray.available(); }));

  host_->vanish();
  ASSERT_TRUE(run_until([&] { return !tray.available(); }));
  EXPECT_EQ(availability, (std::vector<bool>{true, false}));

  ASSERT_TRUE(host_->appear());
  ASSERT_TRUE(run_until([&] { return tray.available(); }));
  EXPECT_EQ(host_->registrations, (std::vector<std::string>{tray.bus_name(), tray.bus_name()}));
  EXPECT_EQ(availability, (std::vector<bool>{true, false, true}));
}

TEST_F(TrayTest, DestroyedWhileRegistrationPendingIsHarmless) {
  ASSERT_TRUE(host_->appear());
  make_tray();
  // The host has answered, and the answer is dispatched at the earliest in
  // the next iteration: the tray goes while it is on its way.
  ASSERT_TRUE(run_until([&] { return !host_->registrations.empty(); }));
  tray_.reset();
  // The cancelled call completes from idle callbacks of default priority.
  ASSERT_TRUE(run_until_idle());
  EXPECT_TRUE(availability.empty());
}

struct PropertyRow {
  const char* name;
  const char* type;
  const char* printed;
};

TEST_F(TrayTest, EveryPropertyReadsAsTheHostExpects) {
  ASSERT_TRUE(host_->appear());
  auto& tray = make_tray();
  ASSERT_TRUE(run_until([&] { return tray.available(); }));
  g_unsetenv("IRVELO_ICON_DIR");
  tray.set(Icon::Tracking, "0:05:09", "Tracking 0:05:09");

  const std::vector<PropertyRow> rows = {
      {"Category", "s", "'ApplicationStatus'"},
      {"Id", "s", "'com.larkspan.Irvelo'"},
      {"Title", "s", "'Irvelo 0:05:09'"},
      {"Status", "s", "'Active'"},
      {"WindowId", "i", "0"},
      {"IconName", "s", "'com.larkspan.Irvelo-tracking-symbolic'"},
      {"IconThemePath", "s", "''"},
      {"OverlayIconName", "s", "''"},
      {"AttentionIconName", "s", "''"},
      {"ToolTip", "(sa(iiay)ss)", "('com.larkspan.Irvelo-tracking-symbolic', [], 'Irvelo', 'Tracking 0:05:09')"},
      {"ItemIsMenu", "b", "false"},
      {"IconAccessibleDesc", "s", "'Irvelo: Tracking 0:05:09'"},
      {"AttentionAccessibleDesc", "s", "''"},
      {"XAyatanaLabel", "s", "'0:05:09'"},
      {"XAyatanaLabelGuide", "s", "'0:00:00'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::string error;
    VariantPtr value = host_->property(tray.bus_name(), row.name, &error);
    ASSERT_TRUE(value) << error;
    EXPECT_STREQ(g_variant_get_type_string(value.get()), row.type);
    EXPECT_EQ(print(value.get()), row.printed);
  }

  std::string error;
  EXPECT_FALSE(host_->property(tray.bus_name(), "Nonsense", &error));
  EXPECT_NE(error.find("Nonsense"), std::string::npos) << error;
  // No menu is named without one: a host would open an empty one on a right
  // click, and that empty menu would swallow the next click.
  EXPECT_FALSE(host_->property(tray.bus_name(), "Menu", &error));
  tray_.reset();
  ui::Tray with_menu("/MenuBar");
  ASSERT_TRUE(run_until([&] { return host_->sync(with_menu.bus_name()); }));
  VariantPtr menu = host_->property(with_menu.bus_name(), "Menu", &error);
  ASSERT_TRUE(menu) << error;
  EXPECT_EQ(print(menu.get()), "'/MenuBar'");
  EXPECT_STREQ(g_variant_get_type_string(menu.get()), "o");
}

// A host that accepts the item and then drops it, with or without a word, is
// asked again a few times; one that never keeps it counts as none.
TEST_F(TrayTest, AnItemTheHostLosesIsRegisteredAgainUntilItStays) {
  struct Row {
    const char* what;
    int lost;
    bool dropped_after_shown;
    bool by_connection;
    std::size_t registrations;
    std::vector<bool> availability;
  };
  const Row rows[] = {
      {"kept, listed by the item's connection", 0, false, true, 1, {true}},
      {"lost once, silently", 1, false, false, 2, {true}},
      {"dropped with a word after being shown", 0, true, false, 2, {true}},
      {"never kept", 100, false, false, 4, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    host_->vanish();
    host_->registrations.clear();
    host_->list_reads = 0;
    availability.clear();
    host_->lose_silently = row.lost;
    host_->list_by_connection = row.by_connection;
    ASSERT_TRUE(host_->appear());
    auto& tray = make_tray();
    if (row.dropped_after_shown) {
      ASSERT_TRUE(run_until([&] { return tray.available(); }));
      host_->drop(host_->listed.front());
    }
    // Each registration is followed by a look at the list; what the last
    // look led to is decided once the item has answered the host after it.
    ASSERT_TRUE(
        run_until([&] { return host_->list_reads == static_cast<int>(row.registrations); }, std::chrono::seconds(10)));
    ASSERT_TRUE(host_->sync(tray.bus_name()));
    EXPECT_EQ(host_->registrations.size(), row.registrations);
    EXPECT_EQ(availability, row.availability);
    tray_.reset();
  }
}

TEST_F(TrayTest, TitleAndIconFollowTheStoredValues) {
  struct Row {
    Icon icon;
    std::string label;
    std::string title;
    std::string icon_name;
  };
  const std::vector<Row> rows = {
      {Icon::SignedOut, "", "Irvelo", "com.larkspan.Irvelo-signedout-symbolic"},
      {Icon::Idle, "", "Irvelo", "com.larkspan.Irvelo-idle-symbolic"},
      {Icon::Tracking, "1:02:03", "Irvelo 1:02:03", "com.larkspan.Irvelo-tracking-symbolic"},
      {static_cast<Icon>(7), "", "Irvelo", "com.larkspan.Irvelo-signedout-symbolic"},
  };
  auto& tray = make_tray();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.title + " " + row.icon_name);
    tray.set(row.icon, row.label, "tip");
    EXPECT_EQ(tray.icon_name(), row.icon_name);
    EXPECT_EQ(host_->string_property(tray.bus_name(), "Title"), row.title);
    EXPECT_EQ(host_->string_property(tray.bus_name(), "IconName"), row.icon_name);
    EXPECT_EQ(host_->string_property(tray.bus_name(), "XAyatanaLabel"), row.label);
  }
}

// Hosts render the tooltip text as markup: a description must show as typed
// and never be taken for tags. The label and the title stay plain text.
TEST_F(TrayTest, TooltipTextIsEscapedForMarkup) {
  auto& tray = make_tray();
  const std::string tooltip = "Tracking 0:00:01 \u00b7 R&D <b>bold</b> 'quoted' \"x\"";
  tray.set(Icon::Tracking, "a<b>&", tooltip);
  VariantPtr value = host_->property(tray.bus_name(), "ToolTip");
  ASSERT_TRUE(value);
  const gchar* text = nullptr;
  g_variant_get_child(value.get(), 3, "&s", &text);
  EXPECT_STREQ(text, "Tracking 0:00:01 \u00b7 R&amp;D &lt;b&gt;bold&lt;/b&gt; &apos;quoted&apos; &quot;x&quot;");
  EXPECT_EQ(tray.tooltip(), tooltip);
  EXPECT_EQ(host_->string_property(tray.bus_name(), "XAyatanaLabel"), "a<b>&");
  EXPECT_EQ(host_->string_property(tray.bus_name(), "Title"), "Irvelo a<b>&");
}

TEST_F(TrayTest, IconThemePathComesFromTheEnvironment) {
  struct Row {
    const char* value;  // null: unset
    std::string expected;
  };
  const std::vector<Row> rows = {
      {nullptr, ""},
      {"/opt/irvelo/icons", "/opt/irvelo/icons"},
      {"/home/zo\u00eb/icons", "/home/zo\u00eb/icons"},
      // Not valid UTF-8: cannot travel as a D-Bus string, so it counts as none
      // instead of failing the whole property read.
      {"/tmp/\xff\xfe/icons", ""},
  };
  auto& tray = make_tray();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.expected);
    if (row.value == nullptr) {
      g_unsetenv("IRVELO_ICON_DIR");
    } else {
      g_setenv("IRVELO_ICON_DIR", row.value, TRUE);
    }
    std::string error;
    VariantPtr value = host_->property(tray.bus_name(), "IconThemePath", &error);
    ASSERT_TRUE(value) << error;
    EXPECT_EQ(g_variant_get_string(value.get(), nullptr), row.expected);
  }
  g_unsetenv("IRVELO_ICON_DIR");
}

TEST_F(TrayTest, ClicksActivateAndScrollDoesNothing) {
  struct Row {
    const char* method;
    GVariant* (*parameters)();
    int activations;
  };
  const std::vector<Row> rows = {
      {"Activate", [] { return g_variant_new("(ii)", 10, 20); }, 1},
      {"SecondaryActivate", [] { return g_variant_new("(ii)", 0, 0); }, 1},
      {"ContextMenu", [] { return g_variant_new("(ii)", 5, 5); }, 1},
      {"Scroll", [] { return g_variant_new("(is)", 120, "vertical"); }, 0},
  };
  auto& tray = make_tray();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.method);
    activations = 0;
    VariantPtr reply = host_->call(tray.bus_name(), row.method, row.parameters());
    ASSERT_TRUE(reply);
    EXPECT_STREQ(g_variant_get_type_string(reply.get()), "()");
    EXPECT_EQ(activations, row.activations);
  }
  // A host's activation token goes with the next click, once.
  ASSERT_TRUE(host_->call(tray.bus_name(), "ProvideXdgActivationToken", g_variant_new("(s)", "token-1")));
  ASSERT_TRUE(host_->call(tray.bus_name(), "Activate", g_variant_new("(ii)", 640, 12)));
  const auto click = tray.take_activation();
  EXPECT_EQ(click.x, 640);
  EXPECT_EQ(click.y, 12);
  EXPECT_EQ(click.token, "token-1");
  EXPECT_EQ(tray.take_activation().token, "");
}

struct SetCase {
  const char* what;
  Icon icon;
  std::string label;
  std::string tooltip;
  std::vector<std::string> signals;
};

// Each kind of change announces exactly what a host must re-read.
TEST_F(TrayTest, EachKindOfSetEmitsItsSignals) {
  const std::vector<SetCase> cases = {
      {"same values again", Icon::Idle, "0:00:01", "Tracking", {}},
      {"only the tooltip", Icon::Idle, "0:00:01", "Tracking more", {"NewTitle", "NewToolTip"}},
      {"only the icon", Icon::Tracking, "0:00:01", "Tracking", {"NewIcon"}},
      {"only the label", Icon::Idle, "0:00:02", "Tracking", {"XAyatanaNewLabel", "NewTitle", "NewToolTip"}},
      {"label and tooltip", Icon::Idle, "0:00:02", "other", {"XAyatanaNewLabel", "NewTitle", "NewToolTip"}},
      {"icon and tooltip", Icon::SignedOut, "0:00:01", "other", {"NewIcon", "NewTitle", "NewToolTip"}},
      {"everything", Icon::Tracking, "", "", {"NewIcon", "XAyatanaNewLabel", "NewTitle", "NewToolTip"}},
  };
  auto& tray = make_tray();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    tray.set(Icon::Idle, "0:00:01", "Tracking");
    ASSERT_TRUE(host_->sync(tray.bus_name()));
    host_->signals.clear();

    tray.set(c.icon, c.label, c.tooltip);
    ASSERT_TRUE(host_->sync(tray.bus_name()));
    EXPECT_EQ(host_->signal_names(), c.signals);
    for (const auto& s : host_->signals) {
      if (s.name == "XAyatanaNewLabel") {
        EXPECT_EQ(s.parameters, "('" + c.label + "', '0:00:00')");
      }
    }
  }
}

TEST(TrayWithoutBus, StaysUnavailableAndKeepsValues) {
  const char* saved = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  const std::string restore = saved != nullptr ? saved : "";
  g_setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/irvelo-test-bus", TRUE);
  {
    ui::Tray tray;
    // Without a connection nothing is waiting to happen on the main loop.
    tray.set(Icon::Tracking, "0:00:03", "Tracking 0:00:03");
    EXPECT_FALSE(tray.available());
    EXPECT_EQ(tray.icon_name(), "com.larkspan.Irvelo-tracking-symbolic");
    EXPECT_EQ(tray.label(), "0:00:03");
  }
  if (saved != nullptr) g_setenv("DBUS_SESSION_BUS_ADDRESS", restore.c_str(), TRUE);
}

}  // namespace
}  // namespace irvelo::test
