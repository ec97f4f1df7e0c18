// Away from the desk, through the real executable: a stand-in login manager
// on a private system bus, stand-in desktop services on the session bus, and
// the stops and continues observed at the development service.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <regex>
#include <string>

#include "app_fixture.hpp"
#include "away_stand_ins.hpp"
#include "support/main_loop.hpp"

namespace irvelo::test {
namespace {

using namespace std::chrono_literals;

class AwayTest : public AppSession {
 protected:
  void SetUp() override {
    AppSession::SetUp();
    login_ = std::make_unique<StandInLogin>(system_bus_);
  }

  void TearDown() override {
    AppSession::TearDown();
    desktop_.reset();
    login_.reset();
  }

  // The settings file of the instance to come: group "main" with `lines`.
  static void write_settings(const std::string& lines) {
    const std::string dir = std::string(g_get_user_config_dir()) + "/irvelo-desktop";
    g_mkdir_with_parents(dir.c_str(), 0700);
    const std::string text = "[main]\n" + lines;
    ASSERT_TRUE(g_file_set_contents((dir + "/settings.ini").c_str(), text.c_str(), -1, nullptr));
  }

  void desktop(StandInDesktop::Parts parts) {
    desktop_ = std::make_unique<StandInDesktop>(g_test_dbus_get_bus_address(bus_), parts);
  }

  // The primary instance on the stand-in system bus; `extra` may shorten its poll.
  bool start_app(std::map<std::string, std::string> extra = {}) {
    extra.emplace("DBUS_SYSTEM_BUS_ADDRESS", system_bus_.address());
    if (!start_primary({"--background"}, extra)) return false;
    return run_until([&] { return host_->string_property(item(), "IconName") == kIdle; });
  }

  bool tracking() { return host_->string_property(item(), "IconName") == kTracking; }

  // Starts a timer from the command line; the running entry's id, as the service has it.
  std::string start_timer() {
    const int starts = count("POST", "/timer/start");
    EXPECT_EQ(invoke({"--start"}), 0);
    EXPECT_TRUE(run_until([&] { return count("POST", "/timer/start") == starts + 1 && tracking(); }));
    return running_id();
  }

  int stops() const { return count("POST", "/timer/stop"); }

  // The newest notification with this summary, once there are more than `seen`.
  std::optional<Notification> await_notification(const std::string& summary, std::size_t seen = 0) {
    std::optional<Notification> found;
    run_until([&] {
      std::size_t matching = 0;
      for (const auto& n : desktop_->notifications) {
        if (n.summary == summary && ++matching > seen) found = n;
      }
      return found.has_value();
    });
    return found;
  }

  // Presses "Continue" on `notification` and checks that `entry` runs again.
  void continue_from(const Notification& notification, const std::string& entry) {
    desktop_->invoke(notification, "Continue");
    EXPECT_TRUE(run_until([&] { return count("POST", "/time-entries/" + entry + "/continue") == 1 && tracking(); }));
  }

  // Activates an action of the instance over the bus, as a notification
  // server or any other client could: the application's own (`window` 0) or
  // one of a window's.
  void activate(int window, const char* action, GVariant* target) {
    const std::string path = "/com/larkspan/Irvelo" + (window > 0 ? "/window/" + std::to_string(window) : "");
    GVariantBuilder targets;
    g_variant_builder_init(&targets, G_VARIANT_TYPE("av"));
    if (target != nullptr) g_variant_builder_add(&targets, "v", target);
    ErrorPtr error;
    const ObjectPtr<GDBusConnection> client(g_dbus_connection_new_for_address_sync(
        g_test_dbus_get_bus_address(bus_),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, out(error)));
    ASSERT_TRUE(client) << (error ? error->message : "");
    const VariantPtr reply(g_dbus_connection_call_sync(client.get(), "com.larkspan.Irvelo", path.c_str(),
                                                       "org.gtk.Actions", "Activate",
                                                       g_variant_new("(sava{sv})", action, &targets, nullptr), nullptr,
                                                       G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, out(error)));
    EXPECT_TRUE(reply) << action << ": " << (error ? error->message : "");
  }

  PrivateBus system_bus_;
  std::unique_ptr<StandInLogin> login_;
  std::unique_ptr<StandInDesktop> desktop_;
};

TEST_F(AwayTest, EachLockSignalStopsOnceAndContinueResumesThatEntry) {
  write_settings("stop_on_lock=true\n");
  desktop({.mutter = false, .screen_saver = true});
  ASSERT_TRUE(start_app());

  struct Trigger {
    const char* name;
    std::function<void()> fire;
  };
  const std::vector<Trigger> triggers = {
      {"logind Lock", [&] { login_->lock(); }},
      {"LockedHint", [&] { login_->set_locked_hint(true); }},
  };
  int expected = 0;
  for (const auto& trigger : triggers) {
    SCOPED_TRACE(trigger.name);
    const std::string entry = start_timer();
    ASSERT_FALSE(entry.empty());
    const std::size_t seen = desktop_->notifications.size();
    trigger.fire();
    // Both the lock and its hint come for one real lock: still one stop.
    login_->lock();
    ASSERT_TRUE(run_until([&] { return stops() == expected + 1 && !tracking(); }));
    ++expected;
    const std::optional<Notification> stopped = await_notification("Timer stopped", seen);
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(
        std::regex_match(stopped->body, std::regex("Stopped at [0-9]{1,2}:[0-9]{2}( [AP]M)? — the screen was locked")))
        << stopped->body;
    login_->set_locked_hint(false);
    ASSERT_TRUE(settle());
    EXPECT_EQ(stops(), expected);
    continue_from(*stopped, entry);
    ASSERT_EQ(invoke({"--stop"}), 0);
    ++expected;
    ASSERT_TRUE(run_until([&] { return stops() == expected && !tracking(); }));
  }
}

// Signed out or switched to another workspace: the notifications of before
// are withdrawn, and their Continue, sent all the same, starts nothing.
class LeftAccount : public AwayTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LeftAccount, NotificationsAreWithdrawnAndTheirContinueDoesNothing) {
  const bool sign_out = GetParam();
  write_settings("stop_on_lock=true\n");
  desktop({});
  ASSERT_TRUE(start_app());
  ASSERT_EQ(invoke({}), 0) << "the panel, whose actions switch and sign out";
  start_timer();
  login_->lock();
  const std::optional<Notification> stopped = await_notification("Timer stopped");
  ASSERT_TRUE(stopped);
  std::string key;
  for (const auto& [action, label] : stopped->actions) {
    if (label == "Continue") key = action;
  }
  CharPtr name;
  GVariant* target = nullptr;
  ASSERT_TRUE(g_action_parse_detailed_name(key.c_str(), out(name), &target, nullptr)) << key;
  const VariantPtr owned_target(target);

  if (sign_out) {
    activate(1, "sign-out", nullptr);
  } else {
    activate(1, "workspace", g_variant_new_string("ws_beta"));
  }
  ASSERT_TRUE(run_until([&] {
    return std::find(desktop_->closed.begin(), desktop_->closed.end(), stopped->id) != desktop_->closed.end();
  }));
  activate(0, "continue-entry", g_variant_ref(target));
  ASSERT_TRUE(settle());
  EXPECT_EQ(count("POST", "/continue"), 0);
  EXPECT_FALSE(tracking());
}

INSTANTIATE_TEST_SUITE_P(Leaving, LeftAccount, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "SignOut" : "WorkspaceSwitch"); });

// A screen saver's ActiveChanged may be a blank screen, and anyone can send
// it: it counts only where logind keeps no lock state, and only from the
// owner of the screen saver's name.
class ScreenSaverLock : public AwayTest, public ::testing::WithParamInterface<bool> {};

TEST_P(ScreenSaverLock, CountsOnlyWithoutLogindAndFromItsOwner) {
  const bool logind_session = GetParam();
  write_settings("stop_on_lock=true\n");
  login_ = std::make_unique<StandInLogin>(system_bus_, logind_session);
  desktop({.mutter = false, .screen_saver = true});
  ASSERT_TRUE(start_app());
  start_timer();
  desktop_->screen_saver_active_from_stranger(true);
  ASSERT_TRUE(settle());
  EXPECT_EQ(stops(), 0) << "not from the screen saver";
  desktop_->screen_saver_active(true);
  if (logind_session) {
    ASSERT_TRUE(settle());
    EXPECT_EQ(stops(), 0) << "a blank screen; logind says whether it is locked";
    login_->set_locked_hint(true);
  }
  ASSERT_TRUE(run_until([&] { return stops() == 1 && !tracking(); }));
  const std::optional<Notification> stopped = await_notification("Timer stopped");
  ASSERT_TRUE(stopped);
  EXPECT_NE(stopped->body.find("the screen was locked"), std::string::npos) << stopped->body;
}

INSTANTIATE_TEST_SUITE_P(Sessions, ScreenSaverLock, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "WithLogind" : "WithoutLogind"); });

TEST_F(AwayTest, WithTheSettingsOffNothingStopsAndNothingIsHeld) {
  desktop({.mutter = true, .screen_saver = true});
  ASSERT_TRUE(start_app());
  start_timer();
  login_->lock();
  login_->set_locked_hint(true);
  desktop_->screen_saver_active(true);
  login_->prepare_for_sleep(true);
  desktop_->fire_watch(1);
  ASSERT_TRUE(settle());
  EXPECT_EQ(stops(), 0);
  EXPECT_TRUE(tracking());
  EXPECT_EQ(login_->inhibitors_taken, 0);
  EXPECT_TRUE(desktop_->idle_watches.empty());
  EXPECT_TRUE(desktop_->notifications.empty());
}

TEST_F(AwayTest, SleepAndShutdownStopUnderAnInhibitorHeldOnlyWhileTracking) {
  write_settings("stop_on_sleep=true\n");
  desktop({});
  ASSERT_TRUE(start_app());
  ASSERT_TRUE(settle());
  EXPECT_EQ(login_->inhibitors_taken, 0) << "no timer runs";

  start_timer();
  ASSERT_TRUE(run_until([&] { return login_->inhibitors_held() == 1; }));
  EXPECT_EQ(login_->inhibit_what.front(), "sleep:shutdown");
  login_->prepare_for_sleep(true);
  ASSERT_TRUE(run_until([&] { return stops() == 1 && login_->inhibitors_held() == 0; }));
  const std::optional<Notification> slept = await_notification("Timer stopped");
  ASSERT_TRUE(slept);
  EXPECT_NE(slept->body.find("the computer went to sleep"), std::string::npos) << slept->body;
  ASSERT_TRUE(settle());
  const int loads = count("GET", "/api/v1/me");
  login_->prepare_for_sleep(false);
  ASSERT_TRUE(run_until([&] { return count("GET", "/api/v1/me") > loads; })) << "woken, everything is reloaded";

  start_timer();
  ASSERT_TRUE(run_until([&] { return login_->inhibitors_held() == 1 && login_->inhibitors_taken == 2; }));
  login_->prepare_for_shutdown();
  ASSERT_TRUE(run_until([&] { return stops() == 2 && login_->inhibitors_held() == 0; }));
  ASSERT_TRUE(settle());
  EXPECT_EQ(stops(), 2);
  EXPECT_EQ(login_->inhibitors_taken, 2);
}

// "Timer stopped" only for a stop the service made: a stop lost to the
// network waits as a pending stop, one refused with 401 ends the session;
// neither is announced. Sleep waits for whatever stop is in flight, and no longer.
TEST_F(AwayTest, OnlyAStopTheServiceMadeIsAnnouncedAndSleepWaitsOnlyForTheStopInFlight) {
  write_settings("stop_on_lock=true\nstop_on_sleep=true\n");
  desktop({});
  ASSERT_TRUE(start_app());
  const std::string stop_path = "/api/v1/workspaces/" + server_->workspace_ids().front() + "/timer/stop";
  const auto announced = [&](const char* summary) {
    int n = 0;
    for (const auto& notification : desktop_->notifications) n += notification.summary == summary ? 1 : 0;
    return n;
  };

  // A lock stop in flight when sleep comes: the inhibitor goes with its answer.
  start_timer();
  ASSERT_TRUE(run_until([&] { return login_->inhibitors_held() == 1; }));
  server_->inject_fault(stop_path, [] {
    devserver::Fault slow;
    slow.status = 0;
    slow.delay_ms = 500;
    return slow;
  }());
  login_->lock();
  ASSERT_TRUE(run_until([&] { return stops() == 1; }));
  const auto asked = std::chrono::steady_clock::now();
  login_->prepare_for_sleep(true);
  ASSERT_TRUE(run_until([&] { return login_->inhibitors_held() == 0; }));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 2500ms) << "not held for the full delay";
  ASSERT_TRUE(await_notification("Timer stopped"));
  login_->prepare_for_sleep(false);
  login_->set_locked_hint(false);
  ASSERT_TRUE(settle());

  // No connection: the panel says the stop waits; nothing says it happened.
  start_timer();
  server_->refuse_connections();
  login_->lock();
  ASSERT_TRUE(run_until([&] { return tooltip_text().rfind("Not stopped yet", 0) == 0; })) << tooltip_text();
  EXPECT_EQ(announced("Timer stopped"), 1);
  server_->accept_connections();
  // Waking is one of the moments a pending stop is tried.
  login_->prepare_for_sleep(false);
  ASSERT_TRUE(await_notification("Timer stopped late"));
  EXPECT_EQ(stops(), 2);
  EXPECT_EQ(announced("Timer stopped"), 1);
  ASSERT_TRUE(settle());

  // Refused with 401: signed out, the timer still runs at the service.
  start_timer();
  devserver::Fault refused;
  refused.status = 401;
  refused.body = R"({"error":{"code":"UNAUTHENTICATED","message":"expired"}})";
  server_->inject_fault(stop_path, refused);
  login_->lock();
  ASSERT_TRUE(run_until(
      [&] { return host_->string_property(item(), "IconName") == "com.larkspan.Irvelo-signedout-symbolic"; }));
  ASSERT_TRUE(settle());
  EXPECT_EQ(announced("Timer stopped"), 1);
  EXPECT_FALSE(running_id().empty());
}

TEST_F(AwayTest, ACalledOffShutdownLetsTheGuardHoldSleepAgain) {
  write_settings("stop_on_sleep=true\n");
  desktop({});
  ASSERT_TRUE(start_app());
  start_timer();
  ASSERT_TRUE(run_until([&] { return login_->inhibitors_held() == 1; }));
  login_->prepare_for_shutdown(true);
  ASSERT_TRUE(run_until([&] { return stops() == 1 && login_->inhibitors_held() == 0; }));
  // The shutdown did not happen: the next timer is guarded as before.
  login_->prepare_for_shutdown(false);
  start_timer();
  ASSERT_TRUE(run_until([&] { return login_->inhibitors_held() == 1 && login_->inhibitors_taken == 2; }));
}

TEST_F(AwayTest, GnomeIdleWatchStopsAndSaysSinceWhen) {
  write_settings("idle_stop_minutes=5\n");
  desktop({.mutter = true, .screen_saver = true});
  ASSERT_TRUE(start_app());
  const std::string entry = start_timer();
  ASSERT_TRUE(run_until([&] { return desktop_->idle_watches.size() == 1; }));
  EXPECT_EQ(desktop_->idle_watches.front(), 5u * 60 * 1000);

  desktop_->fire_watch(1);
  ASSERT_TRUE(run_until([&] { return stops() == 1 && !tracking(); }));
  const std::optional<Notification> away = await_notification("Timer stopped");
  ASSERT_TRUE(away);
  EXPECT_TRUE(
      std::regex_match(away->body, std::regex("You were away from [0-9:APM ]+; the timer stopped at [0-9:APM ]+")))
      << away->body;
  // Back at the keyboard: the same notification once more, in place of the first.
  desktop_->fire_watch(1000);
  const auto again = await_notification("Timer stopped", 1);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->id, away->id);
  EXPECT_EQ(again->body, away->body);
  // No timer, no watch.
  ASSERT_TRUE(run_until([&] { return desktop_->removed_watches.size() == 1; }));
  continue_from(*away, entry);
  ASSERT_TRUE(run_until([&] { return desktop_->idle_watches.size() == 2; }));
}

// The sources that are asked on each poll: the screen saver's idle time in
// either unit, and the X server's (Xvfb has the extension) where no desktop
// service answers.
struct PolledCase {
  const char* name;
  bool screen_saver;
  const char* desktop;  // XDG_CURRENT_DESKTOP, which tells the screen saver's unit
  bool in_seconds;
};

void PrintTo(const PolledCase& c, std::ostream* os) {
  *os << c.name;
}

class PolledIdle : public AwayTest, public ::testing::WithParamInterface<PolledCase> {};

TEST_P(PolledIdle, StopsOnThePollOnceTheUserLeavesAfterTheStart) {
  const PolledCase& c = GetParam();
  write_settings("idle_stop_minutes=1\n");
  desktop({.mutter = false, .screen_saver = c.screen_saver});
  desktop_->idle_in_seconds = c.in_seconds;
  // A minute of 1.5 seconds.
  ASSERT_TRUE(start_app(
      {{"IRVELO_TEST_IDLE_MINUTE_MS", "1500"}, {"IRVELO_TEST_POLL_SECONDS", "1"}, {"XDG_CURRENT_DESKTOP", c.desktop}}));
  ASSERT_EQ(invoke({"--start"}), 0);
  ASSERT_TRUE(run_until([&] { return count("POST", "/timer/start") == 1; }));
  // The last input comes after the start: this spell is the user's own.
  desktop_->idle_since_ms = now_ms();
  if (!c.screen_saver) {
    const int pid = spawn_command({"/usr/bin/xdotool", "mousemove_relative", "--", "1", "1"}, {});
    ASSERT_EQ(wait_exit(pid), 0);
  }
  ASSERT_TRUE(run_until([&] { return stops() == 1 && !tracking(); }, 20s));
  const std::optional<Notification> away = await_notification("Timer stopped");
  ASSERT_TRUE(away);
  EXPECT_NE(away->body.find("You were away from"), std::string::npos) << away->body;
}

INSTANTIATE_TEST_SUITE_P(Sources, PolledIdle,
                         ::testing::Values(PolledCase{"ScreenSaverOfKdeInMilliseconds", true, "KDE", false},
                                           PolledCase{"ScreenSaverElsewhereInSeconds", true, "XFCE", true},
                                           PolledCase{"X11", false, "XFCE", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// Locked at the desk, then a timer started on the phone: the spell already
// under way never stops it, whether a watch fires at once (GNOME) or a poll
// sees it (a screen saver); a spell that begins later does.
class SpellBeforeTheStart : public AwayTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SpellBeforeTheStart, NeverStopsTheTimer) {
  const bool mutter = GetParam();
  write_settings("idle_stop_minutes=1\n");
  desktop({.mutter = mutter, .screen_saver = !mutter});
  desktop_->idle_since_ms = now_ms() - 40 * 60 * 1000;
  desktop_->idle_in_seconds = true;
  ASSERT_TRUE(start_app({{"IRVELO_TEST_IDLE_MINUTE_MS", "500"}, {"IRVELO_TEST_POLL_SECONDS", "1"}}));
  const std::string entry = start_timer();
  if (mutter) {
    ASSERT_TRUE(run_until([&] { return desktop_->idle_watches.size() == 1; }));
    // Mutter fires a watch added during a longer spell at once.
    desktop_->fire_watch(1);
  }
  // Polls go on well past the span of half a second.
  const int polls = count("GET", "/time-entries/running");
  ASSERT_TRUE(run_until([&] { return count("GET", "/time-entries/running") >= polls + 3; }));
  EXPECT_EQ(stops(), 0);
  EXPECT_TRUE(tracking());
  EXPECT_EQ(running_id(), entry);

  // Back at the desk, and away again.
  desktop_->idle_since_ms = now_ms();
  if (mutter) {
    desktop_->fire_watch(1000);
    desktop_->fire_watch(1);
  }
  ASSERT_TRUE(run_until([&] { return stops() == 1 && !tracking(); }, 20s));
}

INSTANTIATE_TEST_SUITE_P(Sources, SpellBeforeTheStart, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "GnomeWatch" : "ScreenSaverPoll"); });

// "now" placed in or out of working hours (09:00-17:00, Monday to Friday, UTC).
struct ReminderCase {
  const char* name;
  int weekday;  // ISO
  int hour;
  bool reminds;
};

// Logs name the case rather than dump its bytes.
void PrintTo(const ReminderCase& c, std::ostream* os) {
  *os << c.name;
}

class Reminder : public AwayTest, public ::testing::WithParamInterface<ReminderCase> {};

std::int64_t shift_to(int weekday, int hour) {
  const std::int64_t now = std::time(nullptr);
  const std::int64_t day = 24 * 3600;
  // 1970-01-01 was a Thursday (ISO 4): the coming Monday 00:00 UTC, then the wanted day and hour.
  const std::int64_t days_since_monday = (now / day + 3) % 7;
  const std::int64_t monday = (now / day - days_since_monday + 7) * day;
  return monday + (weekday - 1) * day + hour * 3600 + 60 - now;
}

TEST_P(Reminder, ToTrackOnlyInWorkingHours) {
  const ReminderCase& c = GetParam();
  write_settings("remind_to_track=true\nwork_hours=09:00-17:00\nwork_days=1-5\n");
  // GNOME's monitor says the user is at the keyboard.
  desktop({.mutter = true});
  ASSERT_TRUE(start_app({{"TZ", "UTC"},
                         {"IRVELO_TEST_CLOCK_SHIFT", std::to_string(shift_to(c.weekday, c.hour))},
                         {"IRVELO_TEST_REMIND_QUIET_SECONDS", "1"},
                         {"IRVELO_TEST_POLL_SECONDS", "1"}}));
  // Enough polls for a reminder to be due: each asks the service for the running timer.
  const int polls = count("GET", "/time-entries/running");
  ASSERT_TRUE(run_until([&] { return count("GET", "/time-entries/running") >= polls + 4; }));
  if (!c.reminds) {
    EXPECT_TRUE(desktop_->notifications.empty());
    return;
  }
  std::optional<Notification> reminder = await_notification("Not tracking");
  ASSERT_TRUE(reminder);
  const int later = count("GET", "/time-entries/running");
  ASSERT_TRUE(run_until([&] { return count("GET", "/time-entries/running") >= later + 3; }));
  ASSERT_EQ(desktop_->notifications.size(), 1u) << "at most one an hour";
  reminder = desktop_->notifications.front();
  desktop_->invoke(*reminder, "Start");
  ASSERT_TRUE(run_until([&] { return count("POST", "/timer/start") == 1 && tracking(); }));
}

INSTANTIATE_TEST_SUITE_P(Hours, Reminder,
                         ::testing::Values(ReminderCase{"WednesdayMorning", 3, 10, true},
                                           ReminderCase{"WednesdayNight", 3, 20, false},
                                           ReminderCase{"SaturdayMorning", 6, 10, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AwayTest, LongTimerRemindsOnceAndItsStopButtonStops) {
  write_settings("long_timer_hours=2\n");
  desktop({});
  // The reminders' clock runs two hours and a minute ahead of the timer's start.
  ASSERT_TRUE(start_app({{"IRVELO_TEST_CLOCK_SHIFT", std::to_string(2 * 3600 + 60)}}));
  start_timer();
  const std::optional<Notification> still = await_notification("Still tracking?");
  ASSERT_TRUE(still);
  EXPECT_EQ(still->body, "The timer has run for 2 hours");
  ASSERT_TRUE(settle());
  EXPECT_EQ(desktop_->notifications.size(), 1u);
  desktop_->invoke(*still, "Stop");
  ASSERT_TRUE(run_until([&] { return stops() == 1 && !tracking(); }));
}

// A description with markup characters, shown as typed: escaped for a
// freedesktop server that reads bodies as markup, as it is for one that does
// not and for GNOME Shell's own interface (whose bodies are plain text, and
// which GLib prefers wherever it is).
struct MarkupCase {
  const char* name;
  StandInDesktop::Parts parts;
  const char* body;
};

void PrintTo(const MarkupCase& c, std::ostream* os) {
  *os << c.name;
}

class MarkupServer : public AwayTest, public ::testing::WithParamInterface<MarkupCase> {};

TEST_P(MarkupServer, ShowsTheDescriptionAsTyped) {
  write_settings("long_timer_hours=2\n");
  desktop(GetParam().parts);
  ASSERT_TRUE(start_app({{"IRVELO_TEST_CLOCK_SHIFT", std::to_string(2 * 3600 + 60)}}));
  ASSERT_EQ(invoke({"--start", "-d", "R&D <x>"}), 0);
  const std::optional<Notification> still = await_notification("Still tracking?");
  ASSERT_TRUE(still);
  EXPECT_EQ(still->body, GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, MarkupServer,
    ::testing::Values(
        MarkupCase{"BodyMarkup", {.body_markup = true}, "'R&amp;D &lt;x&gt;' has run for 2 hours"},
        MarkupCase{"PlainBody", {}, "'R&D <x>' has run for 2 hours"},
        MarkupCase{"GnomeShell", {.body_markup = true, .gtk_notifications = true}, "'R&D <x>' has run for 2 hours"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace irvelo::test
