#include "app/away_guard.hpp"

#include <giomm/notification.h>
#include <giomm/simpleaction.h>
#include <glib/gi18n-lib.h>
#include <glibmm/main.h>

#include <tuple>
#include <utility>

#include "api/intervals.hpp"
#include "core/time_format.hpp"
#include "core/tracker_store.hpp"
#include "core/work_hours.hpp"
#include "storage/settings.hpp"

namespace irvelo {
namespace {

// The target of a Continue button: account, workspace and entry id.
using EntryTarget = Glib::Variant<std::tuple<Glib::ustring, Glib::ustring, Glib::ustring>>;

// Notification ids: a newer one of a kind replaces the older.
constexpr const char* kStoppedId = "timer-stopped";
constexpr const char* kLongTimerId = "long-timer";
constexpr const char* kNotTrackingId = "not-tracking";
constexpr const char* kPendingId = "pending-stop";

// logind waits for a delay inhibitor at most InhibitDelayMaxSec (5 s unless
// configured otherwise); the stop gets 3 s, well within that.
constexpr unsigned kInhibitorHoldMs = 3000;

// A timer started from this desk begins a moment after the last input (the
// click or shortcut), on the service's clock: a spell that began this much
// before the start still counts as the user's own.
constexpr std::int64_t kStartLeewaySeconds = 30;

std::int64_t now_seconds() {
  return g_get_real_time() / G_USEC_PER_SEC;
}

std::int64_t clock_shift() {
  const char* text = g_getenv("IRVELO_TEST_CLOCK_SHIFT");
  return text != nullptr ? g_ascii_strtoll(text, nullptr, 10) : 0;
}

}  // namespace

AwayGuard::AwayGuard(Gio::Application& application, TrackerStore& store, Settings& settings,
                     std::function<void(std::function<void()>)> when_ready, std::function<void()> show_panel)
    : application_(application),
      store_(store),
      settings_(settings),
      when_ready_(std::move(when_ready)),
      show_panel_(std::move(show_panel)),
      idle_(session_),
      clock_shift_(clock_shift()),
      reminders_(reminder_now()) {
  add_actions();
  connections_.push_back(store_.changed.connect(sigc::mem_fun(*this, &AwayGuard::on_changed)));
  connections_.push_back(store_.tick.connect(sigc::mem_fun(*this, &AwayGuard::on_tick)));
  connections_.push_back(store_.polled.connect(sigc::mem_fun(*this, &AwayGuard::on_poll)));
  connections_.push_back(store_.pending_resolved.connect(sigc::mem_fun(*this, &AwayGuard::tell_pending_outcome)));
  connections_.push_back(session_.locked.connect([this] {
    if (settings_.stop_on_lock) stop_for(Reason::Lock, now_seconds());
  }));
  connections_.push_back(session_.preparing.connect(sigc::mem_fun(*this, &AwayGuard::on_preparing)));
  connections_.push_back(session_.resumed.connect([this] {
    preparing_ = false;
    update_watches();
  }));
  connections_.push_back(idle_.idle.connect([this](std::int64_t since) {
    // Only the user's own absence stops a timer: a spell that began before
    // the timer did (locked, then started on the phone or the web) does not.
    if (!store_.running || since + kStartLeewaySeconds < store_.running->start_unix) return;
    if (settings_.idle_stop_minutes > 0) stop_for(Reason::Idle, since);
  }));
  connections_.push_back(idle_.active.connect([this] {
    if (idle_stop_notice_ && !store_.away_notice.empty()) application_.send_notification(kStoppedId, idle_stop_notice_);
    idle_stop_notice_.reset();
  }));
  configure();
}

AwayGuard::~AwayGuard() {
  for (auto& connection : connections_) connection.disconnect();
  inhibitor_timeout_.disconnect();
}

void AwayGuard::add_actions() {
  // Application actions: the notifications' buttons reach them, and so can
  // anyone on the session bus. A Continue button's target names the account
  // and workspace with the entry: one left over from another of them
  // continues nothing.
  application_.add_action_with_parameter(
      "continue-entry", EntryTarget::variant_type(), [this](const Glib::VariantBase& parameter) {
        if (!parameter.is_of_type(EntryTarget::variant_type())) return;
        const auto target = Glib::VariantBase::cast_dynamic<EntryTarget>(parameter).get();
        const std::string account = std::get<0>(target).raw();
        const std::string workspace = std::get<1>(target).raw();
        api::TimeEntry entry;
        entry.id = std::get<2>(target).raw();
        if (entry.id.empty() || account != account_key()) return;
        when_ready_([this, entry, account, workspace] {
          // Never a second timer beside the running one, nor one elsewhere.
          if (!store_.running && account == account_key() && workspace == store_.workspace_id) {
            store_.continue_entry(entry);
          }
        });
      });
  application_.add_action("start-timer", [this] { when_ready_([this] { store_.set_tracking(true); }); });
  application_.add_action("stop-timer", [this] { when_ready_([this] { store_.set_tracking(false); }); });
  application_.add_action("keep-going", [this] { application_.withdraw_notification(kLongTimerId); });
  application_.add_action("show-panel", [this] { show_panel_(); });
}

void AwayGuard::configure() {
  if (settings_.stop_on_lock || settings_.stop_on_sleep || settings_.idle_stop_minutes > 0 ||
      settings_.long_timer_hours > 0 || settings_.remind_to_track) {
    notification_text_.start();
  }
  // Where the compositor only says when input stops, the user's input is
  // followed from now on, so that a later spell's start is known.
  if (settings_.idle_stop_minutes > 0) idle_.detect([](away::IdleSource) {});
  if (settings_.stop_on_lock || settings_.stop_on_sleep) session_.start();
  update_watches();
}

void AwayGuard::describe_idle(std::function<void(const Glib::ustring&)> done) {
  idle_.detect([done = std::move(done)](away::IdleSource source) {
    done(Glib::ustring::compose(_("Idle time: %1"), away::idle_source_name(source)));
  });
}

void AwayGuard::update_watches() {
  const bool running = store_.running.has_value();
  if (running && settings_.idle_stop_minutes > 0) {
    idle_.watch(static_cast<std::int64_t>(settings_.idle_stop_minutes) * api::idle_minute_ms());
  } else if (idle_.watching()) {
    idle_.unwatch();
  }
  const bool want_inhibitor = running && settings_.stop_on_sleep && !preparing_;
  if (want_inhibitor && !session_.holding_inhibitor()) {
    session_.hold_inhibitor(_("Stopping the timer before the computer sleeps"));
  } else if (!want_inhibitor && !preparing_ && session_.holding_inhibitor()) {
    session_.release_inhibitor();
  }
}

std::string AwayGuard::account_key() const {
  return store_.me ? store_.server + " " + store_.me->user.id : std::string();
}

Glib::VariantBase AwayGuard::entry_target(const std::string& entry_id) const {
  return EntryTarget::create({account_key(), store_.workspace_id, entry_id});
}

void AwayGuard::on_changed() {
  // Its outcome will be told: the body must suit the notification server by then.
  if (store_.pending_action) notification_text_.start();
  const std::string owner = account_key() + "\n" + store_.workspace_id;
  if (owner != last_owner_) {
    // Signed out or switched: what was said about the old account or
    // workspace goes, buttons and all.
    if (!last_owner_.empty()) {
      application_.withdraw_notification(kStoppedId);
      application_.withdraw_notification(kNotTrackingId);
      application_.withdraw_notification(kLongTimerId);
      application_.withdraw_notification(kPendingId);
      idle_stop_notice_.reset();
    }
    last_owner_ = owner;
  }
  const std::string running_id = store_.running ? store_.running->id : std::string();
  if (running_id != last_running_id_) {
    // A timer started or stopped: reminders of the old state are out of date.
    if (!running_id.empty()) application_.withdraw_notification(kNotTrackingId);
    if (!last_running_id_.empty()) application_.withdraw_notification(kLongTimerId);
    last_running_id_ = running_id;
  }
  if (store_.running) reminders_.tracking_seen(reminder_now());

  if (stopping_ && stopping_->sent && stopping_->generation != store_.generation && !store_.busy) {
    // Signed out or switched away while it was on its way: its answer may
    // never come, and must not hold sleep or the next stop.
    stopping_.reset();
    if (preparing_) release_inhibitor();
  }
  if (stopping_ && !stopping_->sent && !store_.busy) send_stop();
  update_watches();
}

void AwayGuard::on_tick() {
  if (!store_.running || settings_.long_timer_hours <= 0) return;
  const std::int64_t now = reminder_now();
  reminders_.tracking_seen(now);
  const auto hours =
      reminders_.long_timer_due(store_.running->id, store_.running->start_unix, now, settings_.long_timer_hours);
  if (!hours) return;
  const int count = static_cast<int>(*hours);
  const std::string& description = store_.running->description;
  const Glib::ustring body =
      description.empty()
          ? Glib::ustring::compose(ngettext("The timer has run for %1 hour", "The timer has run for %1 hours", count),
                                   count)
          : Glib::ustring::compose(ngettext("'%1' has run for %2 hour", "'%1' has run for %2 hours", count),
                                   description, count);
  auto notification = Gio::Notification::create(_("Still tracking?"));
  notification->set_body(notification_text_.body(body));
  notification->set_default_action("app.show-panel");
  notification->add_button(_("Stop"), "app.stop-timer");
  notification->add_button(_("Keep going"), "app.keep-going");
  application_.send_notification(kLongTimerId, notification);
}

void AwayGuard::on_poll() {
  idle_.poll();
  // A stop still waiting for the service is no time to say nothing is tracked.
  if (!settings_.remind_to_track || store_.running || store_.pending_action || store_.busy || store_.api_key.empty() ||
      store_.phase != TrackerStore::Phase::Ready) {
    return;
  }
  const auto hours = parse_work_hours(settings_.work_hours);
  const auto days = parse_work_days(settings_.work_days);
  if (!hours || !days) return;
  const DateTimePtr local(g_date_time_new_from_unix_local(reminder_now()));
  if (!local || !within_work_time(*hours, *days, g_date_time_get_day_of_week(local.get()),
                                  g_date_time_get_hour(local.get()) * 60 + g_date_time_get_minute(local.get()))) {
    return;
  }
  idle_.detect([this](away::IdleSource) {
    idle_.query([this](std::optional<std::int64_t> idle_ms) { remind_to_track(idle_ms); });
  });
}

void AwayGuard::remind_to_track(std::optional<std::int64_t> idle_ms) {
  // Asked again: things may have changed while the idle time was on its way.
  if (store_.running || store_.api_key.empty() || store_.phase != TrackerStore::Phase::Ready) return;
  if (!reminders_.track_reminder_due(reminder_now(), true, idle_ms, api::remind_quiet_seconds())) return;
  auto notification = Gio::Notification::create(_("Not tracking"));
  notification->set_body(notification_text_.body(_("It is working time and no timer runs.")));
  notification->set_default_action("app.show-panel");
  notification->add_button(_("Start"), "app.start-timer");
  const auto recent = store_.recent_entries();
  if (!recent.empty()) {
    const api::TimeEntry& last = recent.front();
    const Glib::ustring label = last.description.empty() ? Glib::ustring(_("Continue the last entry"))
                                                         : Glib::ustring::compose(_("Continue '%1'"), last.description);
    notification->add_button_variant(label, "app.continue-entry", entry_target(last.id));
  }
  application_.send_notification(kNotTrackingId, notification);
}

void AwayGuard::on_preparing(bool shutdown) {
  if (!settings_.stop_on_sleep) return;
  preparing_ = true;
  if (!store_.running) {
    release_inhibitor();
    return;
  }
  stop_for(shutdown ? Reason::Shutdown : Reason::Sleep, now_seconds());
  // Sleep waits for the stop's answer (or that of a stop already on its way), but not for ever.
  inhibitor_timeout_.disconnect();
  inhibitor_timeout_ = Glib::signal_timeout().connect(
      [this] {
        inhibitor_timeout_ = sigc::connection();
        release_inhibitor();
        return false;
      },
      kInhibitorHoldMs);
  // A stop that could not even be sent holds nothing back.
  if (!stopping_) release_inhibitor();
}

void AwayGuard::release_inhibitor() {
  inhibitor_timeout_.disconnect();
  session_.release_inhibitor();
}

void AwayGuard::stop_for(Reason reason, std::int64_t away_since) {
  if (!store_.running || stopping_ || store_.api_key.empty()) return;
  stopping_ = Stopping{reason, store_.running->id, away_since, 0, false};
  // Another operation (a description being saved, say) goes first; on_changed
  // sends the stop once it is over.
  if (!store_.busy) send_stop();
}

void AwayGuard::send_stop() {
  if (!store_.running || store_.running->id != stopping_->entry_id) {
    // Stopped or replaced in the meantime: nothing of ours to stop.
    stopping_.reset();
    if (preparing_) release_inhibitor();
    return;
  }
  stopping_->sent = true;
  stopping_->sent_at = now_seconds();
  stopping_->generation = store_.generation;
  const Stopping stopping = *stopping_;
  PendingAction::Reason reason = PendingAction::Reason::Idle;
  switch (stopping.reason) {
    case Reason::Lock:
      reason = PendingAction::Reason::Lock;
      break;
    case Reason::Sleep:
      reason = PendingAction::Reason::Sleep;
      break;
    case Reason::Shutdown:
      reason = PendingAction::Reason::Shutdown;
      break;
    case Reason::Idle:
      break;
  }
  // The store may answer at once (a stop it cannot send), so this guard's
  // state is set before it is asked.
  const bool sent =
      store_.stop(reason, [this, stopping](std::optional<api::Error> failure) { finished(stopping, failure); });
  if (!sent && stopping_ && stopping_->sent_at == stopping.sent_at) {
    stopping_.reset();
    if (preparing_) release_inhibitor();
  }
}

void AwayGuard::finished(const Stopping& stopping, const std::optional<api::Error>& failure) {
  if (stopping_ && stopping_->sent && stopping_->entry_id == stopping.entry_id) stopping_.reset();
  // A stop that failed (or waits for the network as a pending stop) is not
  // announced as done: the panel shows what is true instead.
  if (!failure) stopped(stopping);
  // Sleep waits for whatever stop was in flight, however it ended; a pending
  // stop is sent first thing after waking.
  if (preparing_) release_inhibitor();
}

void AwayGuard::stopped(const Stopping& stopping) {
  const std::string at = clock_text(stopping.sent_at);
  Glib::ustring line;
  switch (stopping.reason) {
    case Reason::Lock:
      line = Glib::ustring::compose(_("Stopped at %1 — the screen was locked"), at);
      break;
    case Reason::Sleep:
      line = Glib::ustring::compose(_("Stopped at %1 — the computer went to sleep"), at);
      break;
    case Reason::Shutdown:
      line = Glib::ustring::compose(_("Stopped at %1 — the computer shut down"), at);
      break;
    case Reason::Idle:
      line = Glib::ustring::compose(_("You were away from %1; the timer stopped at %2"),
                                    clock_text(stopping.away_since), at);
      break;
  }
  store_.away_notice = line;
  store_.changed.emit();

  auto notification = Gio::Notification::create(_("Timer stopped"));
  notification->set_body(notification_text_.body(line));
  notification->set_default_action("app.show-panel");
  notification->add_button_variant(_("Continue"), "app.continue-entry", entry_target(stopping.entry_id));
  application_.send_notification(kStoppedId, notification);
  idle_stop_notice_ = stopping.reason == Reason::Idle ? notification : Glib::RefPtr<Gio::Notification>();
}

void AwayGuard::tell_pending_outcome(const TrackerStore::PendingOutcome& outcome) {
  using Kind = TrackerStore::PendingOutcome::Kind;
  Glib::ustring title;
  switch (outcome.kind) {
    case Kind::Stopped:
      title = _("Timer stopped late");
      break;
    case Kind::Discarded:
      title = _("Timer discarded late");
      break;
    case Kind::AlreadyStopped:
      title = _("Timer already stopped");
      break;
    case Kind::OtherRunning:
    case Kind::NotSent:
      title = _("Stop not sent");
      break;
  }
  auto notification = Gio::Notification::create(title);
  notification->set_body(notification_text_.body(outcome.line));
  notification->set_default_action("app.show-panel");
  if (outcome.kind != Kind::Discarded) notification->add_button(_("Open in Browser"), "app.open-web-app");
  application_.send_notification(kPendingId, notification);
}

std::string AwayGuard::clock_text(std::int64_t instant) const {
  return format_clock_time(clock_time_of(instant, store_.time_zone()), store_.h12());
}

std::int64_t AwayGuard::reminder_now() const {
  return now_seconds() + clock_shift_;
}

}  // namespace irvelo
