#pragma once

// The one object that owns the session, the client, the downloaded data, the
// running timer and the user's choices for the next entry. Views read its
// members, call its operations and re-read everything on `changed`.

#include <gio/gio.h>
#include <giomm/dbusconnection.h>
#include <glibmm/refptr.h>
#include <sigc++/connection.h>
#include <sigc++/signal.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "api/client.hpp"
#include "api/records.hpp"
#include "core/owned.hpp"
#include "core/time_format.hpp"
#include "storage/credentials.hpp"
#include "storage/pending.hpp"

namespace irvelo {

struct Settings;

class TrackerStore {
 public:
  enum class Phase { SignedOut = 0, Loading = 1, Ready = 2 };

  struct Ephemeral {
    std::string server;
    std::string api_key;
  };

  struct PendingConnect {
    std::string verifier;
    std::string challenge;
    std::string state;
    std::string server;
  };

  // What became of a stop or discard that had to wait for the service.
  struct PendingOutcome {
    enum class Kind { Stopped, Discarded, AlreadyStopped, OtherRunning, NotSent };
    Kind kind = Kind::Stopped;
    // The sentence the panel shows and the notification carries.
    std::string line;
  };

  // An operation's completion: no error on success.
  using Finish = std::function<void(std::optional<api::Error>)>;
  using Operation = std::function<void(Finish)>;
  using FollowUp = std::function<void()>;
  // Whether an operation's completion ends it (clearing `busy`) or a further
  // step of the same operation follows.
  enum class Steps { Last, More };

  TrackerStore(Settings& settings, std::optional<Ephemeral> ephemeral);
  ~TrackerStore();
  TrackerStore(const TrackerStore&) = delete;
  TrackerStore& operator=(const TrackerStore&) = delete;

  sigc::signal<void()> changed;
  sigc::signal<void()> tick;
  // After each poll for the running timer (every 30 seconds).
  sigc::signal<void()> polled;
  // A pending stop or discard was sent late, or given up.
  sigc::signal<void(const PendingOutcome&)> pending_resolved;

  Settings& settings;
  bool persist = true;
  Phase phase = Phase::SignedOut;
  std::string server;
  std::string api_key;
  // How the key in use was obtained ("personal" or "connect"); sign-out
  // revokes only browser-issued keys.
  std::string key_origin;
  // Where the key is kept between runs; Nowhere for one from the environment.
  KeyPlace key_place = KeyPlace::Nowhere;
  // The stored key is being read (the keyring may be asking for its
  // password), or it could not be because the keyring stayed locked. Either
  // way the phase is Loading: nobody signed out.
  enum class Keyring { Idle, Waiting, Locked };
  Keyring keyring = Keyring::Idle;
  std::optional<api::Me> me;
  std::string workspace_id;
  std::optional<api::Bootstrap> bootstrap;
  std::vector<api::PickerProject> projects;
  std::optional<api::TimeEntry> running;
  std::string description;
  std::optional<std::string> project_id;
  std::optional<std::string> task_id;
  bool billable = false;
  bool editing_description = false;
  bool busy = false;
  std::optional<std::string> error;
  // What stopped the timer on its own ("Stopped at 12:03 — ..."), shown until
  // the next timer action.
  std::string away_notice;
  // A stop or discard the service has not received yet. While it waits, the
  // entry is shown stopped at the instant asked for, and nothing new starts.
  std::optional<PendingAction> pending_action;
  // A try of the pending action is on its way.
  bool pending_trying = false;
  // A sign-out asked while a stop was pending, and the one try failed: the
  // panel asks whether to sign out anyway.
  bool sign_out_question = false;
  // The network monitor says there is no network: nothing is polled.
  bool offline = false;
  std::int64_t now = 0;
  // Where the store reads the time (Unix seconds); tests move it across midnight.
  std::function<std::int64_t()> clock_source = now_unix;
  std::unique_ptr<api::Client> client;
  std::unique_ptr<api::Client> probe;
  std::unique_ptr<PendingConnect> pending;
  Finish connect_done;
  int generation = 0;
  sigc::connection poll_timer;
  sigc::connection clock_timer;
  unsigned int sleep_watch = 0;

  // Session (store_session.cpp).
  void make_client();
  void adopt(const std::string& server, const std::string& api_key, const std::string& key_origin, const api::Me& me);
  void clear_session();
  void handle(const api::Error& error);
  void sign_out();
  // Signs out although a stop could not be sent; the pending file goes too.
  void sign_out_anyway();
  void keep_signed_in();
  // Reads the stored key again, after the keyring stayed locked.
  void read_stored_key();
  void dismiss_error();

  [[nodiscard]] const api::PickerProject* selected_project() const;
  [[nodiscard]] const api::TaskRef* selected_task() const;
  [[nodiscard]] DurationFormat duration_format() const;
  [[nodiscard]] bool can_change_billable() const;
  // The running entry's time, or the pending one's, frozen when it was stopped.
  [[nodiscard]] std::int64_t elapsed_seconds() const;
  // The running entry as the totals count it: a pending stop's entry ends
  // where the stop was asked for.
  [[nodiscard]] std::optional<api::TimeEntry> counted_running() const;
  [[nodiscard]] std::string time_zone() const;
  [[nodiscard]] bool h12() const;
  [[nodiscard]] std::vector<api::TimeEntry> recent_entries() const;
  [[nodiscard]] std::int64_t today_seconds() const;
  [[nodiscard]] std::int64_t week_seconds() const;
  [[nodiscard]] std::vector<api::Membership> workspaces() const;
  [[nodiscard]] std::optional<api::Membership> current_workspace() const;
  [[nodiscard]] std::string web_app_url() const;

  // Sign-in (store_sign_in.cpp).
  [[nodiscard]] static std::optional<std::string> normalized_server(const std::string& text);
  void sign_in(const std::string& server_text, const std::string& key_text);
  void sign_in_with_browser(const std::string& server_text, std::function<void(const std::string&)> open_url);
  bool handle_callback(const std::string& uri);
  void cancel_browser_sign_in();

  // Refresh (store_refresh.cpp).
  void refresh_all();
  void refresh_running();
  void apply_running(const std::optional<api::TimeEntry>& entry);
  void select_workspace(const std::string& id);
  void select_workspace_id(const std::optional<std::string>& id);
  void update_clock();
  void watch_sleep();

  // Timer operations (store_timer.cpp). Those that change something at the
  // service do nothing while `busy`: a second Enter, a switch flipped back and
  // forth or a queued shortcut must not act twice.
  void perform(Operation operation, FollowUp follow_up, Steps steps = Steps::Last);
  void start();
  // True when the stop was sent; `done` then hears its outcome: no error when
  // the service stopped the entry, else the failure (after which the stop may
  // be pending). It is not called when a sign-out or a workspace switch drops
  // the operation.
  bool stop(PendingAction::Reason reason = PendingAction::Reason::User, Finish done = nullptr);
  void discard();
  void continue_entry(const api::TimeEntry& entry);
  void patch_running(nlohmann::json body, FollowUp follow_up, Steps steps = Steps::Last);
  void commit_description(FollowUp follow_up);
  void select_project(const std::optional<std::string>& id);
  void select_task(const std::optional<std::string>& id);
  void set_billable(bool value);
  void set_tracking(bool on);

  // Pending stops (store_pending.cpp). A try reads the running entry first
  // and sends the stop only while that same entry still runs.
  void retry_pending();
  // The pending line for the panel ("Not stopped yet: no connection. ..."), or "".
  [[nodiscard]] std::string pending_line() const;

 private:
  // What a stop or discard was asked for with, kept should it have to wait.
  struct StopRequest {
    PendingAction::Kind kind = PendingAction::Kind::Stop;
    std::string entry_id;
    std::int64_t entry_start = 0;
    std::int64_t requested_at = 0;
    PendingAction::Reason reason = PendingAction::Reason::User;
    std::string description;
  };
  [[nodiscard]] StopRequest request_for(PendingAction::Kind kind, PendingAction::Reason reason) const;
  void stop_running(const StopRequest& request, Finish done);
  // Whether a failed stop may have been lost on the way and must be kept.
  [[nodiscard]] static bool worth_keeping(const api::Error& failure);
  void keep_pending(const StopRequest& request, const api::Error& failure);
  void adopt_pending_file();
  void send_pending(const PendingAction& action, const api::TimeEntry& entry);
  void send_pending_now(const PendingAction& action, const api::TimeEntry& entry);
  void pending_failed(const api::Error& failure);
  void resolve_pending(PendingOutcome outcome);
  void drop_pending();
  void on_network_changed(bool available);
  // Drops the workspace's data and every answer still on its way for it.
  void forget_workspace_data();
  // Reloads everything when `instant` falls on another local day than the
  // loaded data (`again`: also when a reload for that day was asked for
  // already); true when it did.
  bool reload_on_new_day(std::int64_t instant, bool again);
  // Emits without letting a handler's exception through: whatever a view
  // does, the store's state (busy above all) stays consistent.
  static void emit_safely(sigc::signal<void()>& signal);

  // A client may be in the middle of its own completion when the session
  // changes; it is cancelled at once and destroyed from an idle callback.
  void retire(std::unique_ptr<api::Client> old);
  void schedule_probe_destruction();
  void finish_browser_sign_in(const std::string& code, const std::string& state);

  std::vector<std::unique_ptr<api::Client>> retired_;
  sigc::connection retire_idle_;
  sigc::connection startup_idle_;
  // Cancels the keyring calls of a store that goes, and a key lookup that a
  // sign-in made moot.
  ObjectPtr<GCancellable> keyring_calls_;
  void cancel_key_lookup();
  // A sign-in makes the stored key moot: its lookup ends, signed out.
  void drop_key_lookup();
  // Loads the account with the key in hand, as at start-up.
  void start_loading();
  Glib::RefPtr<Gio::DBus::Connection> system_bus_;
  // GIO's own, never freed; only the handler is ours.
  GNetworkMonitor* network_ = nullptr;
  gulong network_changed_ = 0;
  gulong network_changed_too_ = 0;
  sigc::connection pending_retry_;
  // Counts sign-outs and pending actions given up, so that the answer to a
  // try made before one of them is dropped.
  int pending_generation_ = 0;
  // A sign-out waits for one more try of the pending stop.
  bool sign_out_after_try_ = false;
  LocalDate loaded_date_;
  LocalDate reload_date_;
  // Counts operations, so that an answer to a refresh sent before one of them
  // does not undo what it did.
  int operations_ = 0;
};

}  // namespace irvelo
