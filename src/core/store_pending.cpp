#include <glib/gi18n-lib.h>
#include <glibmm/main.h>
#include <glibmm/ustring.h>

#include "api/intervals.hpp"
#include "core/time_format.hpp"
#include "core/tracker_store.hpp"

namespace irvelo {
namespace {

using Kind = PendingAction::Kind;
using Cause = PendingAction::Cause;
using Outcome = TrackerStore::PendingOutcome;

Cause cause_of(const api::Error& failure) {
  return failure.kind == api::Error::Kind::Network ? Cause::Network : Cause::Unavailable;
}

}  // namespace

bool TrackerStore::worth_keeping(const api::Error& failure) {
  if (failure.kind == api::Error::Kind::Network) return true;
  // A gateway or an overloaded service may or may not have passed it on.
  const bool gateway = failure.status == 502 || failure.status == 503 || failure.status == 504;
  return gateway && (failure.kind == api::Error::Kind::Http || failure.kind == api::Error::Kind::Api);
}

void TrackerStore::keep_pending(const StopRequest& request, const api::Error& failure) {
  PendingAction action;
  action.kind = request.kind;
  action.server = server;
  action.workspace_id = workspace_id;
  action.entry_id = request.entry_id;
  action.entry_start = request.entry_start;
  action.requested_at = request.requested_at;
  action.reason = request.reason;
  action.cause = cause_of(failure);
  action.description = request.description;
  pending_action = action;
  // Written at once: a quit, a crash or a reboot before the next try must not lose it.
  (void)PendingFile::save(action);
  running.reset();
  error.reset();
  update_clock();
  pending_retry_.disconnect();
  pending_retry_ = Glib::signal_timeout().connect(
      [this] {
        // Forgotten, not disconnected: this callback must not destroy itself.
        pending_retry_ = sigc::connection();
        retry_pending();
        return false;
      },
      api::pending_retry_ms());
}

void TrackerStore::adopt_pending_file() {
  if (pending_action || api_key.empty()) return;
  auto action = PendingFile::load();
  // Another server's stop is not ours to send with this key.
  if (!action || action->server != server) return;
  pending_action = std::move(*action);
  description = pending_action->description;
  update_clock();
}

void TrackerStore::retry_pending() {
  if (!pending_action || pending_trying || !client || offline) return;
  pending_retry_.disconnect();
  pending_trying = true;
  emit_safely(changed);
  const int sent = pending_generation_;
  const PendingAction action = *pending_action;
  client->running(action.workspace_id, [this, sent, action](api::Result<std::optional<api::TimeEntry>> answer) {
    if (sent != pending_generation_) return;
    if (!answer.ok()) return pending_failed(*answer.error);
    const std::optional<api::TimeEntry>& current = *answer.value;
    const bool stop = action.kind == Kind::Stop;
    if (!current) {
      // Perhaps our own earlier try that timed out, perhaps the
      // web app: either way there is nothing left to stop.
      resolve_pending(
          {Outcome::Kind::AlreadyStopped, stop ? _("The timer was no longer running at the service, so no stop was "
                                                   "sent. Check the entry in the web app.")
                                               : _("The timer was no longer running at the service, so nothing was "
                                                   "discarded. Check the entry in the web app.")});
      return;
    }
    if (current->id != action.entry_id) {
      const std::string name = current->description;
      std::string line;
      if (name.empty()) {
        line = stop ? _("Not stopped: another timer was started elsewhere in the meantime and "
                        "keeps running; nothing was sent.")
                    : _("Not discarded: another timer was started elsewhere in the meantime and "
                        "keeps running; nothing was sent.");
      } else {
        line = Glib::ustring::compose(
            stop ? _("Not stopped: '%1' was started elsewhere in the meantime and keeps running; "
                     "nothing was sent.")
                 : _("Not discarded: '%1' was started elsewhere in the meantime and keeps "
                     "running; nothing was sent."),
            name);
      }
      resolve_pending({Outcome::Kind::OtherRunning, line});
      return;
    }
    send_pending(action, *current);
  });
}

void TrackerStore::send_pending(const PendingAction& action, const api::TimeEntry& entry) {
  // The description typed before the stop goes with it, as it would have then.
  if (action.kind == Kind::Stop && action.description != entry.description) {
    const int sent = pending_generation_;
    client->update_entry(action.workspace_id, action.entry_id, {{"description", action.description}},
                         [this, sent, action, entry](api::Result<api::Empty> answer) {
                           if (sent != pending_generation_) return;
                           if (!answer.ok() && worth_keeping(*answer.error)) return pending_failed(*answer.error);
                           send_pending_now(action, entry);
                         });
    return;
  }
  send_pending_now(action, entry);
}

void TrackerStore::send_pending_now(const PendingAction& action, const api::TimeEntry& entry) {
  const int sent = pending_generation_;
  auto answered = [this, sent, action, entry](api::Result<api::Empty> answer) {
    if (sent != pending_generation_) return;
    if (!answer.ok()) return pending_failed(*answer.error);
    if (action.kind == Kind::Discard) {
      resolve_pending({Outcome::Kind::Discarded, action.cause == Cause::Network
                                                     ? _("Discarded once the connection was back.")
                                                     : _("Discarded once the service answered again.")});
      return;
    }
    const std::int64_t stopped_at = clock_source();
    const auto at = [this](std::int64_t instant) {
      return format_clock_time(clock_time_of(instant, time_zone()), h12());
    };
    const std::string length = format_duration(entry.seconds_at(stopped_at), duration_format());
    std::string line;
    if (at(stopped_at) == at(action.requested_at)) {
      line = Glib::ustring::compose(_("Stopped at %1; the entry is %2 long."), at(stopped_at), length);
    } else {
      line = Glib::ustring::compose(action.cause == Cause::Network
                                        ? _("Stopped at %1, not at %2: there was no connection. The entry is %3 "
                                            "long; correct it in the web app.")
                                        : _("Stopped at %1, not at %2: the service was unavailable. The entry is %3 "
                                            "long; correct it in the web app."),
                                    at(stopped_at), at(action.requested_at), length);
    }
    resolve_pending({Outcome::Kind::Stopped, line});
  };
  if (action.kind == Kind::Discard) {
    client->discard_timer(action.workspace_id, answered);
  } else {
    client->stop_timer(action.workspace_id, answered);
  }
}

void TrackerStore::pending_failed(const api::Error& failure) {
  pending_trying = false;
  if (worth_keeping(failure)) {
    if (pending_action->cause != cause_of(failure)) {
      pending_action->cause = cause_of(failure);
      (void)PendingFile::save(*pending_action);
    }
    if (sign_out_after_try_) {
      sign_out_after_try_ = false;
      sign_out_question = true;
    }
    emit_safely(changed);
    return;
  }
  if (failure.kind == api::Error::Kind::Unauthenticated) {
    // The file stays: signed in again, the stop is tried with the new key.
    handle(failure);
    emit_safely(changed);
    return;
  }
  resolve_pending({Outcome::Kind::NotSent,
                   Glib::ustring::compose(pending_action->kind == Kind::Stop ? _("The stop could not be sent: %1")
                                                                             : _("The discard could not be sent: %1"),
                                          failure.describe())});
}

void TrackerStore::resolve_pending(PendingOutcome outcome) {
  const bool then_sign_out = sign_out_after_try_;
  drop_pending();
  away_notice = outcome.line;
  update_clock();
  emit_safely(changed);
  pending_resolved.emit(outcome);
  if (then_sign_out) {
    sign_out();
    return;
  }
  refresh_all();
}

void TrackerStore::drop_pending() {
  if (pending_action) PendingFile::remove();
  pending_action.reset();
  ++pending_generation_;
  pending_trying = false;
  sign_out_question = false;
  sign_out_after_try_ = false;
  pending_retry_.disconnect();
}

std::string TrackerStore::pending_line() const {
  if (!pending_action) return {};
  const bool network = pending_action->cause == Cause::Network;
  std::string line;
  if (pending_action->kind == Kind::Stop) {
    line = network ? _("Not stopped yet: no connection. The service is still counting; trying again…")
                   : _("Not stopped yet: the service is unavailable. It is still counting; trying again…");
  } else {
    line = network ? _("Not discarded yet: no connection. The entry is still running at the service; trying again…")
                   : _("Not discarded yet: the service is unavailable. The entry is still running there; trying "
                       "again…");
  }
  return line + "\n" + _("A new timer can start once this is settled.");
}

void TrackerStore::on_network_changed(bool available) {
  if (available != offline) return;
  offline = !available;
  emit_safely(changed);
  if (offline || !client) return;
  // Back: everything at once rather than at the next poll.
  retry_pending();
  refresh_all();
}

}  // namespace irvelo
