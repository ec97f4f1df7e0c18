// The timer readable from anywhere: --status and --status --follow through
// the real executable, the status interface read with GIO, and the options
// that start from the command line (--continue, --description).

#include <gio/gio.h>
#include <glib-unix.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "app_fixture.hpp"
#include "config.hpp"
#include "core/owned.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

class StatusTest : public AppSession {
 protected:
  nlohmann::json status() {
    const auto text = output_of({"--status"});
    if (!text) {
      ADD_FAILURE() << "--status failed";
      return {};
    }
    EXPECT_EQ(std::count(text->begin(), text->end(), '\n'), 1) << *text;
    return nlohmann::json::parse(*text);
  }

  bool icon_is(const char* name) { return host_->string_property(item(), "IconName") == name; }

  // A connection of the test's own to the private session bus (up only once SetUp ran).
  GDBusConnection* bus() {
    if (!connection_) {
      connection_.reset(g_dbus_connection_new_for_address_sync(
          g_test_dbus_get_bus_address(bus_),
          static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                            G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
          nullptr, nullptr, nullptr));
    }
    return connection_.get();
  }

  void TearDown() override {
    connection_.reset();
    AppSession::TearDown();
  }

  ObjectPtr<GDBusConnection> connection_;
};

TEST_F(StatusTest, WithoutAnInstanceSaysSoAndStartsNone) {
  const auto s = status();
  EXPECT_EQ(s.at("alt"), "not-running");
  EXPECT_EQ(s.at("class"), nlohmann::json::array({"not-running"}));
  EXPECT_EQ(s.at("text"), "");
  EXPECT_FALSE(s.at("tracking").get<bool>());
  VariantPtr owner(g_dbus_connection_call_sync(bus(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                               "org.freedesktop.DBus", "NameHasOwner",
                                               g_variant_new("(s)", config::kApplicationId), G_VARIANT_TYPE("(b)"),
                                               G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  ASSERT_TRUE(owner);
  gboolean has = TRUE;
  g_variant_get(owner.get(), "(b)", &has);
  EXPECT_FALSE(has);
}

TEST_F(StatusTest, SignedOutInstance) {
  primary_ = spawn({"--background"}, {{"IRVELO_API_KEY", ""}});
  ASSERT_TRUE(run_until([&] { return host_->sync(item()) && icon_is("com.larkspan.Irvelo-signedout-symbolic"); }));
  const auto s = status();
  EXPECT_EQ(s.at("alt"), "signed-out");
  EXPECT_EQ(s.at("phase"), "signed-out");
  EXPECT_EQ(s.at("tooltip"), "Not signed in");
}

TEST_F(StatusTest, LoadingIdleAndTrackingMatchTheService) {
  devserver::Fault slow;
  slow.status = 0;
  slow.delay_ms = 3000;
  server_->inject_fault("/api/v1/me", slow);
  ASSERT_TRUE(start_primary());
  auto s = status();
  EXPECT_EQ(s.at("phase"), "loading");
  EXPECT_EQ(s.at("alt"), "idle");

  ASSERT_TRUE(run_until([&] { return icon_is(kIdle) && count("GET", "/bootstrap") > 0; }));
  ASSERT_TRUE(run_until([&] { return status().at("phase") == "ready"; }));
  s = status();
  EXPECT_EQ(s.at("alt"), "idle");
  EXPECT_EQ(s.at("tooltip"), "Not tracking");
  EXPECT_NE(s.at("workspace"), "");
  EXPECT_TRUE(s.at("started_at").is_null());

  ASSERT_EQ(invoke({"--start", "--description", "Quarterly report"}), 0);
  ASSERT_TRUE(run_until([&] { return icon_is(kTracking); }));
  ASSERT_EQ(count("POST", "/timer/start"), 1);
  for (const auto& r : server_->requests()) {
    if (r.method == "POST" && r.path.ends_with("/timer/start")) {
      EXPECT_EQ(nlohmann::json::parse(r.body).at("description"), "Quarterly report");
    }
  }
  s = status();
  EXPECT_EQ(s.at("alt"), "tracking");
  EXPECT_EQ(s.at("class"), nlohmann::json::array({"tracking"}));
  EXPECT_TRUE(std::regex_match(s.at("text").get<std::string>(), std::regex("0:00:0[0-9]"))) << s;
  EXPECT_TRUE(
      std::regex_match(s.at("tooltip").get<std::string>(), std::regex("Tracking 0:00:0[0-9] \u00b7 Quarterly report")))
      << s;
  EXPECT_EQ(s.at("description"), "Quarterly report");
  EXPECT_TRUE(s.at("tracking").get<bool>());
  EXPECT_LE(s.at("elapsed").get<int>(), 9);
  EXPECT_TRUE(std::regex_match(s.at("started_at").get<std::string>(),
                               std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")));
  EXPECT_GE(s.at("today_seconds").get<int>(), s.at("elapsed").get<int>());
  EXPECT_GE(s.at("week_seconds").get<int>(), s.at("today_seconds").get<int>());
}

// Read with GIO directly; the clock's ticks are not announced, only changes.
TEST_F(StatusTest, PropertiesChangeWithTheStoreNotWithTheClock) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return icon_is(kIdle); }));
  int announced = 0;
  const guint subscription = g_dbus_connection_signal_subscribe(
      bus(), config::kApplicationId, "org.freedesktop.DBus.Properties", "PropertiesChanged", "/com/larkspan/Irvelo",
      "com.larkspan.Irvelo.Status", G_DBUS_SIGNAL_FLAGS_NONE,
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant*, gpointer count) {
        ++*static_cast<int*>(count);
      },
      &announced, nullptr);
  // The match rule is in place once a call sent after it is answered.
  VariantPtr ping(g_dbus_connection_call_sync(bus(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                              "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr,
                                              G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  ASSERT_TRUE(ping);
  ASSERT_EQ(invoke({"--start"}), 0);
  ASSERT_TRUE(run_until([&] { return icon_is(kTracking) && announced > 0; }));
  ASSERT_TRUE(settle());

  VariantPtr all(g_dbus_connection_call_sync(
      bus(), config::kApplicationId, "/com/larkspan/Irvelo", "org.freedesktop.DBus.Properties", "GetAll",
      g_variant_new("(s)", "com.larkspan.Irvelo.Status"), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
  ASSERT_TRUE(all);
  VariantPtr dict(g_variant_get_child_value(all.get(), 0));
  gboolean tracking = FALSE;
  gint64 started = 0;
  const gchar* phase = nullptr;
  EXPECT_TRUE(g_variant_lookup(dict.get(), "Tracking", "b", &tracking));
  EXPECT_TRUE(g_variant_lookup(dict.get(), "StartedAt", "x", &started));
  EXPECT_TRUE(g_variant_lookup(dict.get(), "Phase", "&s", &phase));
  EXPECT_TRUE(tracking);
  EXPECT_NEAR(static_cast<double>(started), static_cast<double>(g_get_real_time() / G_USEC_PER_SEC), 30);
  EXPECT_STREQ(phase, "ready");
  EXPECT_EQ(g_variant_n_children(dict.get()), 14u);

  // Three ticks of the tray's clock, and not one announcement.
  const int before = announced;
  std::string label = host_->string_property(item(), "XAyatanaLabel");
  for (int tick = 0; tick < 3; ++tick) {
    ASSERT_TRUE(run_until([&] { return host_->string_property(item(), "XAyatanaLabel") != label; }));
    label = host_->string_property(item(), "XAyatanaLabel");
  }
  EXPECT_EQ(announced, before);
  g_dbus_connection_signal_unsubscribe(bus(), subscription);
}

TEST_F(StatusTest, FollowSeesStartStopQuitAndReturn) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return icon_is(kIdle) && status().at("phase") == "ready"; }));
  int out = -1;
  const int follower = spawn_command({IRVELO_DESKTOP_EXE, "--status", "--follow"}, {}, &out);
  ASSERT_NE(follower, 0);
  std::vector<nlohmann::json> lines;
  std::string pending;
  const auto read_lines = [&] {
    char buffer[4096];
    const ssize_t n = read(out, buffer, sizeof buffer);
    if (n > 0) pending.append(buffer, static_cast<std::size_t>(n));
    for (auto end = pending.find('\n'); end != std::string::npos; end = pending.find('\n')) {
      lines.push_back(nlohmann::json::parse(pending.substr(0, end)));
      pending.erase(0, end + 1);
    }
  };
  const auto seen = [&](const char* alt) {
    return run_until([&] {
      read_lines();
      return !lines.empty() && lines.back().at("alt") == alt;
    });
  };
  ASSERT_TRUE(g_unix_set_fd_nonblocking(out, TRUE, nullptr));

  ASSERT_TRUE(seen("idle"));
  ASSERT_EQ(invoke({"--start"}), 0);
  ASSERT_TRUE(seen("tracking"));
  // The clock moves on its own, once a second.
  const std::size_t at = lines.size();
  ASSERT_TRUE(run_until([&] {
    read_lines();
    return lines.size() >= at + 2;
  }));
  EXPECT_NE(lines[at].at("text"), lines[at + 1].at("text"));
  ASSERT_EQ(invoke({"--stop"}), 0);
  ASSERT_TRUE(seen("idle"));

  kill(primary_, SIGTERM);
  ASSERT_TRUE(wait_exit(primary_));
  ASSERT_TRUE(seen("not-running"));
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] {
    read_lines();
    return !lines.empty() && lines.back().at("alt") == "idle" && lines.back().at("phase") == "ready";
  }));
  EXPECT_TRUE(alive(follower));

  // The bar goes away: the follower ends.
  close(out);
  EXPECT_EQ(wait_exit(follower), 0);
}

// A stop the service did not receive: frozen and said in --status, on the bus
// and in the tooltip, kept in a private file without the key, and sent once
// by the next run.
TEST_F(StatusTest, APendingStopIsToldEverywhereAndTheNextRunSendsItOnce) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return icon_is(kIdle) && status().at("phase") == "ready"; }));
  ASSERT_EQ(invoke({"--start", "--description", "R&D <x>"}), 0);
  ASSERT_TRUE(run_until([&] { return icon_is(kTracking); }));
  const std::string entry = running_id();
  ASSERT_FALSE(entry.empty());

  server_->refuse_connections();
  ASSERT_EQ(invoke({"--stop"}), 0);
  ASSERT_TRUE(run_until([&] { return status().at("alt") == "pending"; }));
  auto s = status();
  EXPECT_EQ(s.at("class"), nlohmann::json::array({"pending"}));
  EXPECT_EQ(s.at("pending"), "stop");
  EXPECT_TRUE(std::regex_match(s.at("pending_since").get<std::string>(),
                               std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z")))
      << s;
  EXPECT_FALSE(s.at("tracking").get<bool>());
  EXPECT_TRUE(std::regex_match(s.at("tooltip").get<std::string>(),
                               std::regex("Not stopped yet 0:00:[0-9]{2} \u00b7 R&amp;D &lt;x&gt;")))
      << s;
  const std::string frozen = s.at("text");
  EXPECT_TRUE(run_until([&] { return tooltip_text().rfind("Not stopped yet " + frozen, 0) == 0; })) << tooltip_text();

  const std::string file = std::string(g_get_user_state_dir()) + "/irvelo-desktop/pending.json";
  GStatBuf info;
  ASSERT_EQ(g_stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  gchar* raw = nullptr;
  ASSERT_TRUE(g_file_get_contents(file.c_str(), &raw, nullptr, nullptr));
  const CharPtr contents(raw);
  EXPECT_NE(std::string(contents.get()).find(entry), std::string::npos);
  EXPECT_EQ(std::string(contents.get()).find(server_->api_key()), std::string::npos) << "the key never goes there";
  // The clock stays where it was stopped.
  ASSERT_TRUE(run_until([&] { return status().at("text") == frozen; }));

  // Quit with the stop unsent; the service comes back; the next run sends it.
  kill(primary_, SIGTERM);
  ASSERT_TRUE(wait_exit(primary_));
  server_->accept_connections();
  server_->clear_requests();
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return count("POST", "/timer/stop") == 1 && status().at("alt") == "idle"; }));
  EXPECT_LT(index_of("GET", "/time-entries/running"), index_of("POST", "/timer/stop"));
  ASSERT_TRUE(settle());
  EXPECT_EQ(count("POST", "/timer/stop"), 1);
  EXPECT_EQ(running_id(), "");
  EXPECT_FALSE(g_file_test(file.c_str(), G_FILE_TEST_EXISTS));
}

// Nowhere to write at launch: the follower ends at once, with nothing written
// anywhere else (a closed standard output would hand its number to the bus).
TEST_F(StatusTest, FollowEndsWhenItsOutputIsClosedOrFullAtLaunch) {
  ASSERT_TRUE(start_primary());
  for (const char* redirect : {">&-", ">/dev/full"}) {
    SCOPED_TRACE(redirect);
    const int follower = spawn_command(
        {"/bin/sh", "-c", std::string("exec \"$0\" --status --follow ") + redirect, IRVELO_DESKTOP_EXE}, {});
    ASSERT_NE(follower, 0);
    EXPECT_EQ(wait_exit(follower), 0);
  }
  EXPECT_EQ(status().at("phase"), "ready") << "the instance and the bus are unharmed";
}

// The word after -d is the description, whatever it looks like.
TEST_F(StatusTest, DescriptionsThatLookLikeOptionsAreDescriptions) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return icon_is(kIdle); }));
  int stops = 0;
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--start", "-d", "--status"}, std::vector<std::string>{"-s", "-d", "-v"}}) {
    SCOPED_TRACE(arguments.back());
    const std::optional<std::string> printed = output_of(arguments);
    ASSERT_TRUE(printed);
    EXPECT_EQ(*printed, "") << "nothing answered in place of the instance";
    ASSERT_TRUE(run_until([&] { return icon_is(kTracking); }));
    EXPECT_EQ(status().at("description"), arguments.back());
    ASSERT_EQ(invoke({"--stop"}), 0);
    ++stops;
    ASSERT_TRUE(run_until([&] { return icon_is(kIdle) && count("POST", "/timer/stop") == stops; }));
  }
}

TEST_F(StatusTest, ContinueResumesTheMostRecentEntryOnlyWhenIdle) {
  ASSERT_TRUE(start_primary());
  ASSERT_TRUE(run_until([&] { return icon_is(kIdle); }));
  ASSERT_EQ(invoke({"--start", "--description", "Newest"}), 0);
  ASSERT_TRUE(run_until([&] { return icon_is(kTracking); }));
  const std::string newest = running_id();
  ASSERT_FALSE(newest.empty());

  ASSERT_EQ(invoke({"--continue"}), 0);
  ASSERT_TRUE(settle());
  EXPECT_EQ(count("POST", "/continue"), 0) << "a timer runs";

  ASSERT_EQ(invoke({"--stop"}), 0);
  ASSERT_TRUE(run_until([&] { return icon_is(kIdle) && count("POST", "/timer/stop") == 1; }));
  ASSERT_TRUE(settle());
  ASSERT_EQ(invoke({"--continue"}), 0);
  ASSERT_TRUE(
      run_until([&] { return count("POST", "/time-entries/" + newest + "/continue") == 1 && icon_is(kTracking); }));
  EXPECT_EQ(status().at("description"), "Newest");
}

// Where the tray host ignores the label (sway's bars, XFCE, KDE), "auto" draws
// the time into the icon; on GNOME the label carries it and the icon stays the
// named one.
TEST_F(StatusTest, TrayTimeGoesIntoTheIconWhereHostsIgnoreTheLabel) {
  for (const char* desktop : {"sway", "GNOME"}) {
    SCOPED_TRACE(desktop);
    const bool in_icon = std::string(desktop) == "sway";
    ASSERT_TRUE(start_primary({"--background"}, {{"XDG_CURRENT_DESKTOP", desktop}}));
    ASSERT_TRUE(run_until([&] { return icon_is(kIdle); }));
    ASSERT_EQ(invoke({"--start"}), 0);
    ASSERT_TRUE(run_until([&] { return icon_is(in_icon ? "" : kTracking); }));
    const auto pixmaps = [&] {
      VariantPtr value = host_->property(item(), "IconPixmap");
      return value ? g_variant_n_children(value.get()) : 0;
    };
    ASSERT_TRUE(run_until([&] { return pixmaps() == (in_icon ? 6u : 0u); }));
    // Hosts draw a named icon in preference to the pixmap.
    EXPECT_EQ(host_->string_property(item(), "IconName"), in_icon ? "" : kTracking);
    if (in_icon) {
      VariantPtr value = host_->property(item(), "IconPixmap");
      for (gsize i = 0; i < g_variant_n_children(value.get()); ++i) {
        gint32 width = 0;
        gint32 height = 0;
        GVariant* raw = nullptr;  // variadic: no owner can stand in for the pointer
        g_variant_get_child(value.get(), i, "(ii@ay)", &width, &height, &raw);
        const VariantPtr bytes(raw);
        EXPECT_EQ(width, height);
        EXPECT_EQ(g_variant_n_children(bytes.get()), static_cast<gsize>(width * height * 4));
      }
      EXPECT_EQ(host_->string_property(item(), "XAyatanaLabel"), "");
    } else {
      EXPECT_NE(host_->string_property(item(), "XAyatanaLabel"), "");
    }
    ASSERT_EQ(invoke({"--stop"}), 0);
    ASSERT_TRUE(run_until([&] { return icon_is(kIdle) && pixmaps() == 0; }));
    kill(primary_, SIGTERM);
    ASSERT_TRUE(wait_exit(primary_));
  }
}

}  // namespace
}  // namespace irvelo::test
