#include <giomm/init.h>
#include <glib/gi18n-lib.h>
#include <glibmm/main.h>

#include <memory>

#include "core/tracker_store.hpp"
#include "storage/settings.hpp"

namespace irvelo {
namespace {

// Joins the bootstrap and projects answers of one full refresh.
struct RefreshJoin {
  int generation = 0;
  int operations = 0;
  std::optional<api::Result<api::Bootstrap>> bootstrap;
  std::optional<api::Result<std::vector<api::PickerProject>>> projects;
};

std::string id_of(const std::optional<api::TimeEntry>& entry) {
  return entry ? entry->id : std::string();
}

}  // namespace

void TrackerStore::refresh_all() {
  if (!client) return;
  const int sent = generation;
  const int operations_sent = operations_;
  client->me([this, sent, operations_sent](api::Result<api::Me> answer) {
    if (generation != sent) return;
    if (!answer.ok()) {
      handle(*answer.error);
      if (phase == Phase::Loading && !api_key.empty()) phase = Phase::Ready;
      changed.emit();
      return;
    }
    me = std::move(*answer.value);
    if (!current_workspace()) {
      const auto usable = workspaces();
      select_workspace_id(usable.empty() ? std::nullopt : std::optional<std::string>(usable.front().workspace_id));
    }
    if (workspace_id.empty()) {
      // The last usable membership is gone: nothing of the old workspace may
      // stay on screen or be sent anywhere.
      forget_workspace_data();
      error = _("Your account has no workspace you can track time in.");
      phase = Phase::Ready;
      changed.emit();
      return;
    }

    auto join = std::make_shared<RefreshJoin>();
    join->generation = generation;
    join->operations = operations_sent;
    auto step = [this, join] {
      if (!join->bootstrap || !join->projects) return;
      if (generation != join->generation) return;
      const api::Error* failure = nullptr;
      if (join->bootstrap->ok()) {
        bootstrap = *join->bootstrap->value;
        if (join->projects->ok()) {
          projects = *join->projects->value;
          // A start or stop made since this refresh went out knows better
          // than its answer; the refresh that follows it brings the rest.
          if (operations_ == join->operations) apply_running(bootstrap->running);
          loaded_date_ = local_date_of(now, time_zone());
          phase = Phase::Ready;
          changed.emit();
          return;
        }
        failure = &*join->projects->error;
      } else {
        failure = &*join->bootstrap->error;
      }
      handle(*failure);
      if (phase == Phase::Loading && !api_key.empty()) phase = Phase::Ready;
      changed.emit();
    };
    client->bootstrap(workspace_id, [join, step](api::Result<api::Bootstrap> r) {
      join->bootstrap = std::move(r);
      step();
    });
    client->projects(workspace_id, [join, step](api::Result<std::vector<api::PickerProject>> r) {
      join->projects = std::move(r);
      step();
    });
  });
}

void TrackerStore::refresh_running() {
  // Offline is one state, said once, not a failed request every poll.
  if (!client || phase != Phase::Ready || offline) return;
  if (pending_action) {
    retry_pending();
    return;
  }
  if (reload_on_new_day(clock_source(), true)) return;
  if (busy) return;
  // The first load failed (the service was down at start-up, say): polling
  // the running entry alone would never bring the account and workspace in.
  if (!me) {
    refresh_all();
    return;
  }
  if (workspace_id.empty()) return;
  const int sent = generation;
  const int operations_sent = operations_;
  client->running(workspace_id, [this, sent, operations_sent](api::Result<std::optional<api::TimeEntry>> answer) {
    if (generation != sent || operations_ != operations_sent) return;
    if (!answer.ok()) {
      handle(*answer.error);
      changed.emit();
      // The workspace is gone or no longer ours to track in: the account's
      // memberships say what is left.
      if (answer.error->status == 403 || answer.error->status == 404) refresh_all();
      return;
    }
    if (id_of(*answer.value) != id_of(running)) {
      refresh_all();
      return;
    }
    apply_running(*answer.value);
    changed.emit();
  });
}

void TrackerStore::apply_running(const std::optional<api::TimeEntry>& answer) {
  // The entry of a pending stop runs on at the service, but not for the user.
  const bool stopped_here = answer && pending_action && answer->id == pending_action->entry_id;
  const std::optional<api::TimeEntry>& entry = stopped_here ? std::optional<api::TimeEntry>() : answer;
  const bool same = id_of(entry) == id_of(running);
  running = entry;
  if (entry) {
    if (!(same && editing_description)) description = entry->description;
    project_id = entry->project ? std::optional<std::string>(entry->project->id) : std::nullopt;
    task_id = entry->task ? std::optional<std::string>(entry->task->id) : std::nullopt;
    billable = entry->is_billable;
  }
  update_clock();
}

void TrackerStore::select_workspace(const std::string& id) {
  if (id == workspace_id) return;
  workspace_id = id;
  settings.workspace_id = id;
  settings.save();
  forget_workspace_data();
  changed.emit();
  refresh_all();
}

void TrackerStore::forget_workspace_data() {
  ++generation;
  // The operation in flight belonged to the old workspace; its completion can
  // no longer clear the flag, so it is cleared here.
  busy = false;
  bootstrap.reset();
  projects.clear();
  running.reset();
  project_id.reset();
  task_id.reset();
  update_clock();
}

bool TrackerStore::reload_on_new_day(std::int64_t instant, bool again) {
  if (!bootstrap || phase != Phase::Ready) return false;
  const LocalDate today = local_date_of(instant, time_zone());
  if (today == loaded_date_ || today == LocalDate{}) return false;
  // Today's and this week's entries come with the bootstrap: a new day (and
  // with it perhaps a new week) needs a new one. The clock asks once; the
  // poll asks again while a failed reload left the old day's data.
  if (today == reload_date_ && !again) return false;
  reload_date_ = today;
  refresh_all();
  return true;
}

void TrackerStore::select_workspace_id(const std::optional<std::string>& id) {
  workspace_id = id.value_or(std::string());
  settings.workspace_id = workspace_id;
  settings.save();
}

void TrackerStore::update_clock() {
  now = clock_source();
  if (!running) {
    clock_timer.disconnect();
  } else if (!clock_timer.connected()) {
    clock_timer = Glib::signal_timeout().connect_seconds(
        [this] {
          now = clock_source();
          emit_safely(tick);
          reload_on_new_day(now, false);
          return true;
        },
        1);
  }
  emit_safely(tick);
}

void TrackerStore::watch_sleep() {
  Gio::init();
  try {
    system_bus_ = Gio::DBus::Connection::get_sync(Gio::DBus::BusType::SYSTEM);
  } catch (const Glib::Error& e) {
    g_info("no system bus, sleep is not watched: %s", e.what());
    return;
  }
  if (!system_bus_) return;
  // The bus reference is kept: GLib may close a connection nobody holds, and the subscription with it.
  sleep_watch = system_bus_->signal_subscribe(
      [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&,
             const Glib::ustring&, const Glib::ustring&, const Glib::VariantContainerBase& parameters) {
        if (!parameters.is_of_type(Glib::VariantType("(b)"))) return;
        Glib::Variant<bool> going_to_sleep;
        parameters.get_child(going_to_sleep, 0);
        if (going_to_sleep.get()) return;
        // Awake: a stop that raced the network on the way to sleep goes first.
        retry_pending();
        refresh_all();
      },
      "org.freedesktop.login1", "org.freedesktop.login1.Manager", "PrepareForSleep", "/org/freedesktop/login1");
  if (sleep_watch == 0) system_bus_.reset();
}

}  // namespace irvelo
