#include <glib.h>
#include <glib/gi18n-lib.h>

#include <algorithm>

#include "api/text.hpp"
#include "core/aggregates.hpp"
#include "core/owned.hpp"
#include "core/tracker_store.hpp"

namespace irvelo {
namespace {

nlohmann::json id_or_null(const std::optional<std::string>& id) {
  return id ? nlohmann::json(*id) : nlohmann::json();
}

// A failure that may leave the user unsure whether it happened says that it
// did not: without a connection, the message alone does not.
api::Error not_done(api::Error failure, const char* what) {
  if (failure.kind != api::Error::Kind::Network) return failure;
  if (!failure.message.empty() && failure.message.back() != '.') failure.message += '.';
  failure.message += std::string(failure.message.empty() ? "" : " ") + what;
  return failure;
}

}  // namespace

void TrackerStore::perform(Operation operation, FollowUp follow_up, Steps steps) {
  ++operations_;
  busy = true;
  error.reset();
  emit_safely(changed);
  const int started = generation;
  Finish finish = [this, started, steps, follow_up = std::move(follow_up)](std::optional<api::Error> failure) {
    // The flag is cleared before anyone hears of the outcome, so that nothing
    // a handler of `changed` does can leave the controls locked.
    if (generation == started && steps == Steps::Last) busy = false;
    if (failure) handle(*failure);
    emit_safely(changed);
    if (follow_up) follow_up();
  };
  operation(std::move(finish));
}

void TrackerStore::start() {
  // A new timer waits until the old one is known to have stopped.
  if (busy || pending_action || api_key.empty() || !client || workspace_id.empty()) return;
  away_notice.clear();
  const api::TrackingRules rules = bootstrap ? bootstrap->rules : api::TrackingRules{};
  const api::PickerProject* project = selected_project();
  const std::string missing = missing_required_fields(rules, description, project_id.has_value(), task_id.has_value(),
                                                      project && !project->tasks.empty());
  if (!missing.empty()) {
    const CharPtr text(g_strdup_printf(_("Required before starting: %s"), missing.c_str()));
    error = text.get();
    changed.emit();
    return;
  }

  nlohmann::json body = {
      {"description", trimmed(description)},
      {"projectId", id_or_null(project_id)},
      {"taskId", id_or_null(task_id)},
      {"tagIds", nlohmann::json::array()},
  };
  if (can_change_billable()) body["isBillable"] = billable;

  perform(
      [this, body](Finish finish) {
        client->start_timer(workspace_id, body, [this, finish](api::Result<std::optional<api::TimeEntry>> answer) {
          // Never sent again: a start that arrives late would record time
          // nobody tracked. The description stays in the field.
          if (!answer.ok()) return finish(not_done(*answer.error, _("Nothing was started.")));
          apply_running(*answer.value);
          finish(std::nullopt);
        });
      },
      [this] { refresh_all(); });
}

TrackerStore::StopRequest TrackerStore::request_for(PendingAction::Kind kind, PendingAction::Reason reason) const {
  StopRequest request;
  request.kind = kind;
  request.entry_id = running->id;
  request.entry_start = running->start_unix;
  request.requested_at = clock_source();
  request.reason = reason;
  request.description = trimmed(description);
  return request;
}

bool TrackerStore::stop(PendingAction::Reason reason, Finish done) {
  if (busy || pending_action || api_key.empty() || !running || workspace_id.empty()) return false;
  away_notice.clear();
  const StopRequest request = request_for(PendingAction::Kind::Stop, reason);
  // A changed description is saved first; the stop that follows belongs to
  // the same operation, so the store stays busy in between.
  if (request.description != running->description) {
    patch_running(
        {{"description", request.description}},
        [this, request, done = std::move(done)] { stop_running(request, done); }, Steps::More);
    return true;
  }
  stop_running(request, std::move(done));
  return true;
}

void TrackerStore::stop_running(const StopRequest& request, Finish done) {
  if (!client || workspace_id.empty()) {
    busy = false;
    changed.emit();
    return;
  }
  perform(
      [this, request, done = std::move(done)](Finish finish) {
        const auto answered = [this, request, finish, done](api::Result<api::Empty> answer) {
          if (!answer.ok()) {
            if (worth_keeping(*answer.error)) {
              keep_pending(request, *answer.error);
              finish(std::nullopt);
            } else {
              finish(*answer.error);
            }
            if (done) done(*answer.error);
            return;
          }
          apply_running(std::nullopt);
          finish(std::nullopt);
          if (done) done(std::nullopt);
        };
        if (request.kind == PendingAction::Kind::Discard) {
          client->discard_timer(workspace_id, answered);
        } else {
          client->stop_timer(workspace_id, answered);
        }
      },
      [this] {
        // While the stop waits, the service is not reachable anyway.
        if (!pending_action) refresh_all();
      });
}

void TrackerStore::discard() {
  if (busy || pending_action || api_key.empty() || !running || !client || workspace_id.empty()) return;
  away_notice.clear();
  stop_running(request_for(PendingAction::Kind::Discard, PendingAction::Reason::User), nullptr);
}

void TrackerStore::continue_entry(const api::TimeEntry& entry) {
  if (busy || pending_action || api_key.empty() || !client || workspace_id.empty()) return;
  away_notice.clear();
  perform(
      [this, id = entry.id](Finish finish) {
        client->continue_entry(workspace_id, id, [this, finish](api::Result<std::optional<api::TimeEntry>> answer) {
          if (!answer.ok()) return finish(not_done(*answer.error, _("Nothing was started.")));
          apply_running(*answer.value);
          finish(std::nullopt);
        });
      },
      [this] { refresh_all(); });
}

void TrackerStore::patch_running(nlohmann::json body, FollowUp follow_up, Steps steps) {
  if (busy && steps == Steps::Last) return;
  if (api_key.empty() || !running || !client) {
    if (follow_up) follow_up();
    return;
  }
  const std::string entry_id = running->id;
  const int sent = generation;
  perform(
      [this, entry_id, body = std::move(body)](Finish finish) {
        client->update_entry(workspace_id, entry_id, body, [finish](api::Result<api::Empty> answer) {
          finish(answer.ok() ? std::nullopt : std::optional(not_done(*answer.error, _("The change was not saved."))));
        });
      },
      [this, sent, follow_up = std::move(follow_up)] {
        // A follow-up such as the stop of `stop` belongs to the workspace the
        // edit was made in; after a switch or a sign-out it must not run.
        if (generation != sent) return;
        if (!client || workspace_id.empty()) {
          if (follow_up) follow_up();
          return;
        }
        client->running(workspace_id, [this, sent, follow_up](api::Result<std::optional<api::TimeEntry>> answer) {
          if (generation != sent) return;
          if (answer.ok()) {
            apply_running(*answer.value);
            changed.emit();
          }
          if (follow_up) follow_up();
        });
      },
      steps);
}

void TrackerStore::commit_description(FollowUp follow_up) {
  if (busy) return;
  const std::string text = trimmed(description);
  if (running && text != running->description) {
    patch_running({{"description", text}}, std::move(follow_up));
    return;
  }
  if (follow_up) follow_up();
}

void TrackerStore::select_project(const std::optional<std::string>& id) {
  if (busy || id == project_id) return;
  project_id = id;
  task_id.reset();
  if (project_id && !running) {
    if (const api::PickerProject* project = selected_project()) billable = project->billable_by_default;
  }
  changed.emit();
  patch_running({{"projectId", id_or_null(id)}, {"taskId", nullptr}}, nullptr);
}

void TrackerStore::select_task(const std::optional<std::string>& id) {
  if (busy || id == task_id) return;
  task_id = id;
  changed.emit();
  patch_running({{"taskId", id_or_null(id)}}, nullptr);
}

void TrackerStore::set_billable(bool value) {
  if (busy) return;
  billable = value;
  changed.emit();
  patch_running({{"isBillable", value}}, nullptr);
}

void TrackerStore::set_tracking(bool on) {
  if (busy) return;
  if (on && !running)
    start();
  else if (!on && running)
    (void)stop();
}

}  // namespace irvelo
