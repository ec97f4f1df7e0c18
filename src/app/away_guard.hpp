#pragma once

// Acts for a user who has left the desk: stops the running timer when the
// session locks, before the computer sleeps or shuts down, or after a spell
// without input, as the settings ask; says so in a notification and the
// panel; reminds of a long-running timer and of working time with nothing
// tracked; and tells what became of a stop that had to wait for the service.
// With every setting off and no stop waiting it touches no bus and adds no
// wake-up.

#include <giomm/application.h>
#include <giomm/notification.h>
#include <sigc++/connection.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "api/records.hpp"
#include "app/notification_text.hpp"
#include "away/idle_monitor.hpp"
#include "away/reminders.hpp"
#include "away/session_monitor.hpp"
#include "core/tracker_store.hpp"

namespace irvelo {

struct Settings;

class AwayGuard {
 public:
  // `when_ready` runs an action once the store can take it (the
  // application's run_when_ready); `show_panel` presents the panel.
  AwayGuard(Gio::Application& application, TrackerStore& store, Settings& settings,
            std::function<void(std::function<void()>)> when_ready, std::function<void()> show_panel);
  ~AwayGuard();
  AwayGuard(const AwayGuard&) = delete;
  AwayGuard& operator=(const AwayGuard&) = delete;

  // Follows the settings anew (after the settings window changed them).
  void configure();
  // Finds out where idle time comes from on this desktop and hands the
  // settings window its line ("Idle time: GNOME").
  void describe_idle(std::function<void(const Glib::ustring&)> done);

 private:
  enum class Reason { Lock, Sleep, Shutdown, Idle };
  struct Stopping {
    Reason reason;
    std::string entry_id;
    std::int64_t away_since = 0;
    std::int64_t sent_at = 0;
    bool sent = false;
    // The store's generation when sent: a sign-out drops the stop unanswered.
    int generation = 0;
  };

  void add_actions();
  void on_changed();
  void on_tick();
  void on_poll();
  void on_preparing(bool shutdown);
  void stop_for(Reason reason, std::int64_t away_since);
  void send_stop();
  // The stop's own outcome: announced only when the service stopped the entry.
  void finished(const Stopping& stopping, const std::optional<api::Error>& failure);
  void stopped(const Stopping& stopping);
  // What became of a stop that had to wait for the service, as a notification.
  void tell_pending_outcome(const TrackerStore::PendingOutcome& outcome);
  void update_watches();
  void release_inhibitor();
  void remind_to_track(std::optional<std::int64_t> idle_ms);
  [[nodiscard]] std::string clock_text(std::int64_t instant) const;
  // Who is signed in where ("" when nobody), and a Continue button's target
  // for one of their entries.
  [[nodiscard]] std::string account_key() const;
  [[nodiscard]] Glib::VariantBase entry_target(const std::string& entry_id) const;
  // The reminders' clock: now, moved by IRVELO_TEST_CLOCK_SHIFT in tests.
  [[nodiscard]] std::int64_t reminder_now() const;

  Gio::Application& application_;
  TrackerStore& store_;
  Settings& settings_;
  std::function<void(std::function<void()>)> when_ready_;
  std::function<void()> show_panel_;
  away::SessionMonitor session_;
  away::IdleMonitor idle_;
  std::int64_t clock_shift_ = 0;
  away::Reminders reminders_;
  NotificationText notification_text_;
  std::optional<Stopping> stopping_;
  // The computer is on its way to sleep or shutdown: no new inhibitor until
  // it wakes or the shutdown is called off.
  bool preparing_ = false;
  std::string last_running_id_;
  // The account and workspace the notifications shown belong to.
  std::string last_owner_;
  // The notification of an idle stop, shown again when the user comes back
  // (where the idle source tells), unless a timer action came first.
  Glib::RefPtr<Gio::Notification> idle_stop_notice_;
  sigc::connection inhibitor_timeout_;
  std::vector<sigc::connection> connections_;
};

}  // namespace irvelo
