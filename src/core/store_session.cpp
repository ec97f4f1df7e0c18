#include <gio/gio.h>
#include <glib/gi18n-lib.h>
#include <glibmm/main.h>

#include <algorithm>

#include "api/intervals.hpp"
#include "core/aggregates.hpp"
#include "core/tracker_store.hpp"
#include "storage/credentials.hpp"
#include "storage/settings.hpp"

namespace irvelo {

TrackerStore::TrackerStore(Settings& settings_ref, std::optional<Ephemeral> ephemeral)
    : settings(settings_ref), persist(!ephemeral.has_value()) {
  if (ephemeral) {
    server = ephemeral->server;
    api_key = ephemeral->api_key;
    key_origin = "personal";
  } else {
    server = settings.server_url;
  }
  workspace_id = settings.workspace_id;
  now = clock_source();
  make_client();
  // A stop that could not be sent before the last quit is sent first thing.
  adopt_pending_file();

  network_ = g_network_monitor_get_default();
  if (network_ != nullptr) {
    offline = g_network_monitor_get_network_available(network_) == FALSE;
    // Some monitors (NetworkManager's) only notify the property.
    const auto follow = +[](GObject* monitor, GParamSpec*, gpointer self) {
      static_cast<TrackerStore*>(self)->on_network_changed(
          g_network_monitor_get_network_available(G_NETWORK_MONITOR(monitor)) != FALSE);
    };
    network_changed_ = g_signal_connect(network_, "notify::network-available", G_CALLBACK(follow), this);
    network_changed_too_ = g_signal_connect(network_, "network-changed",
                                            G_CALLBACK(+[](GNetworkMonitor* monitor, gboolean, gpointer self) {
                                              static_cast<TrackerStore*>(self)->on_network_changed(
                                                  g_network_monitor_get_network_available(monitor) != FALSE);
                                            }),
                                            this);
  }

  if (persist) {
    read_stored_key();
  } else if (!api_key.empty()) {
    start_loading();
  }
  poll_timer = Glib::signal_timeout().connect_seconds(
      [this] {
        refresh_running();
        emit_safely(polled);
        return true;
      },
      api::poll_interval_seconds());
  watch_sleep();
}

void TrackerStore::start_loading() {
  phase = Phase::Loading;
  startup_idle_ = Glib::signal_idle().connect([this] {
    retry_pending();
    refresh_all();
    return false;
  });
}

void TrackerStore::read_stored_key() {
  cancel_key_lookup();
  keyring = Keyring::Waiting;
  phase = Phase::Loading;
  emit_safely(changed);
  Credentials::lookup(server, keyring_calls_.get(), [this](KeyLookup found) {
    if (found.locked) {
      keyring = Keyring::Locked;
      emit_safely(changed);
      return;
    }
    keyring = Keyring::Idle;
    if (found.key) {
      api_key = std::move(*found.key);
      key_place = found.place;
      key_origin = settings.key_origin;
      make_client();
      start_loading();
    } else {
      phase = Phase::SignedOut;
    }
    emit_safely(changed);
  });
}

void TrackerStore::cancel_key_lookup() {
  if (keyring_calls_) g_cancellable_cancel(keyring_calls_.get());
  keyring_calls_.reset(g_cancellable_new());
  keyring = Keyring::Idle;
}

void TrackerStore::drop_key_lookup() {
  if (keyring == Keyring::Idle) return;
  cancel_key_lookup();
  if (api_key.empty()) phase = Phase::SignedOut;
}

TrackerStore::~TrackerStore() {
  if (keyring_calls_) g_cancellable_cancel(keyring_calls_.get());
  startup_idle_.disconnect();
  retire_idle_.disconnect();
  poll_timer.disconnect();
  clock_timer.disconnect();
  pending_retry_.disconnect();
  if (network_changed_ != 0) g_signal_handler_disconnect(network_, network_changed_);
  if (network_changed_too_ != 0) g_signal_handler_disconnect(network_, network_changed_too_);
  if (sleep_watch != 0 && system_bus_) system_bus_->signal_unsubscribe(sleep_watch);
  sleep_watch = 0;
}

void TrackerStore::emit_safely(sigc::signal<void()>& signal) {
  try {
    signal.emit();
  } catch (const std::exception& e) {
    g_warning("a view failed to follow the store: %s", e.what());
  } catch (...) {
    g_warning("a view failed to follow the store");
  }
}

void TrackerStore::retire(std::unique_ptr<api::Client> old) {
  if (!old) return;
  old->cancel_all();
  retired_.push_back(std::move(old));
  if (!retire_idle_.connected()) {
    retire_idle_ = Glib::signal_idle().connect([this] {
      retired_.clear();
      return false;
    });
  }
}

void TrackerStore::make_client() {
  retire(std::move(client));
  if (!api_key.empty()) client = std::make_unique<api::Client>(server, api_key);
}

void TrackerStore::adopt(const std::string& server_url, const std::string& key, const std::string& origin,
                         const api::Me& account) {
  server = server_url;
  api_key = key;
  me = account;
  key_origin = origin;
  make_client();
  if (persist) {
    // Saved beside the loading: a keyring that asks for its password (or
    // to create a wallet) holds up nothing.
    cancel_key_lookup();
    Credentials::save(server, api_key, keyring_calls_.get(),
                      [this, sent = generation, server_url = server, origin](bool kept, KeyPlace place) {
                        if (sent != generation) return;
                        key_place = place;
                        if (kept) {
                          settings.server_url = server_url;
                          // The setting describes the stored key, so it changes only with it.
                          settings.key_origin = origin;
                          settings.save();
                        } else {
                          // The session works; only the next start would find no key.
                          error =
                              _("Signed in, but your API key could not be saved. You will need to sign in again after "
                                "a restart.");
                        }
                        emit_safely(changed);
                      });
  }
  settings.save();
  if (!current_workspace()) {
    const auto usable = workspaces();
    select_workspace_id(usable.empty() ? std::nullopt : std::optional<std::string>(usable.front().workspace_id));
  }
  phase = Phase::Loading;
  adopt_pending_file();
  retry_pending();
}

void TrackerStore::clear_session() {
  if (persist) {
    cancel_key_lookup();
    Credentials::forget(server);
  }
  ++generation;
  api_key.clear();
  key_origin.clear();
  key_place = KeyPlace::Nowhere;
  retire(std::move(client));
  // The file stays unless the user chose to give it up: signed in again to
  // the same server, the stop is still sent.
  pending_action.reset();
  ++pending_generation_;
  pending_trying = false;
  pending_retry_.disconnect();
  sign_out_question = false;
  sign_out_after_try_ = false;
  pending.reset();
  connect_done = nullptr;
  me.reset();
  bootstrap.reset();
  running.reset();
  project_id.reset();
  task_id.reset();
  projects.clear();
  description.clear();
  away_notice.clear();
  busy = false;
  phase = Phase::SignedOut;
  update_clock();
  changed.emit();
}

void TrackerStore::handle(const api::Error& failure) {
  if (failure.kind == api::Error::Kind::Unauthenticated && !api_key.empty()) clear_session();
  error = failure.describe();
}

void TrackerStore::sign_out() {
  if (pending_action) {
    // The question is open; its buttons decide.
    if (sign_out_question || sign_out_after_try_) return;
    // One more try first; only if that fails too is the user asked.
    sign_out_after_try_ = true;
    retry_pending();
    if (!pending_trying) {
      sign_out_after_try_ = false;
      sign_out_question = true;
      changed.emit();
    }
    return;
  }
  if (client && key_origin == "connect") {
    const int sent = generation;
    client->revoke_key([this, sent](api::Result<api::Empty>) {
      if (generation == sent) clear_session();
    });
    return;
  }
  clear_session();
}

void TrackerStore::sign_out_anyway() {
  if (!pending_action) return;
  drop_pending();
  sign_out();
  // After the sign-out, which keeps the message: the signed-out page shows it.
  error = _("Signed out. The timer may still be running at the service; check it in the web app.");
  changed.emit();
}

void TrackerStore::keep_signed_in() {
  sign_out_question = false;
  sign_out_after_try_ = false;
  changed.emit();
}

void TrackerStore::dismiss_error() {
  error.reset();
  changed.emit();
}

const api::PickerProject* TrackerStore::selected_project() const {
  if (!project_id) return nullptr;
  auto it = std::find_if(projects.begin(), projects.end(),
                         [this](const api::PickerProject& p) { return p.id == *project_id; });
  return it == projects.end() ? nullptr : &*it;
}

const api::TaskRef* TrackerStore::selected_task() const {
  const api::PickerProject* project = selected_project();
  if (!project || !task_id) return nullptr;
  auto it = std::find_if(project->tasks.begin(), project->tasks.end(),
                         [this](const api::TaskRef& t) { return t.id == *task_id; });
  return it == project->tasks.end() ? nullptr : &*it;
}

DurationFormat TrackerStore::duration_format() const {
  return bootstrap ? parse_duration_format(bootstrap->duration_format) : DurationFormat::Full;
}

bool TrackerStore::can_change_billable() const {
  return bootstrap && bootstrap->can_change_billable;
}

std::int64_t TrackerStore::elapsed_seconds() const {
  if (running) return running->seconds_at(now);
  if (pending_action) return saturating_sub(pending_action->requested_at, pending_action->entry_start);
  return 0;
}

std::optional<api::TimeEntry> TrackerStore::counted_running() const {
  if (running || !pending_action) return running;
  // A pending stop's entry counts up to the instant the stop was asked for;
  // a pending discard's not at all.
  api::TimeEntry frozen;
  frozen.id = pending_action->entry_id;
  frozen.start_unix = pending_action->entry_start;
  frozen.end_at = "";
  frozen.end_unix =
      pending_action->kind == PendingAction::Kind::Stop ? pending_action->requested_at : pending_action->entry_start;
  return frozen;
}

std::string TrackerStore::time_zone() const {
  if (bootstrap && !bootstrap->time_zone.empty()) return bootstrap->time_zone;
  if (me) return me->user.time_zone;
  return {};
}

bool TrackerStore::h12() const {
  if (bootstrap) return bootstrap->time_format == "h12";
  if (me) return me->user.time_format == "h12";
  return false;
}

std::vector<api::TimeEntry> TrackerStore::recent_entries() const {
  if (!bootstrap) return {};
  return irvelo::recent_entries(bootstrap->entries, 5);
}

std::int64_t TrackerStore::today_seconds() const {
  const std::vector<api::TimeEntry> none;
  return irvelo::today_seconds(bootstrap ? bootstrap->entries : none, counted_running(), now, time_zone());
}

std::int64_t TrackerStore::week_seconds() const {
  const std::vector<api::TimeEntry> none;
  return irvelo::week_seconds(bootstrap ? bootstrap->entries : none, counted_running(), now);
}

std::vector<api::Membership> TrackerStore::workspaces() const {
  std::vector<api::Membership> out;
  if (!me) return out;
  for (const auto& m : me->workspaces) {
    if (m.role != "client") out.push_back(m);
  }
  return out;
}

std::optional<api::Membership> TrackerStore::current_workspace() const {
  for (auto& m : workspaces()) {
    if (m.workspace_id == workspace_id) return m;
  }
  return std::nullopt;
}

std::string TrackerStore::web_app_url() const {
  if (auto m = current_workspace()) return server + "/" + m->slug + "/tracker";
  return server;
}

}  // namespace irvelo
