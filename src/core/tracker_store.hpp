#pragma once

// The one object that owns the session, the client, the downloaded data, the
// running timer and the user's choices for the next entry. Views read its
// members, call its operations and re-read everything on `changed`.

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
#include "core/time_format.hpp"

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

  Settings& settings;
  bool persist = true;
  Phase phase = Phase::SignedOut;
  std::string server;
  std::string api_key;
  // How the key in use was obtained ("personal" or "connect"); sign-out
  // revokes only browser-issued keys.
  std::string key_origin;
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
  void dismiss_error();

  [[nodiscard]] const api::PickerProject* selected_project() const;
  [[nodiscard]] const api::TaskRef* selected_task() const;
  [[nodiscard]] DurationFormat duration_format() const;
  [[nodiscard]] bool can_change_billable() const;
  [[nodiscard]] std::int64_t elapsed_seconds() const;
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
  void stop();
  void discard();
  void continue_entry(const api::TimeEntry& entry);
  void patch_running(nlohmann::json body, FollowUp follow_up, Steps steps = Steps::Last);
  void commit_description(FollowUp follow_up);
  void select_project(const std::optional<std::string>& id);
  void select_task(const std::optional<std::string>& id);
  void set_billable(bool value);
  void set_tracking(bool on);

 private:
  void stop_running();
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
  Glib::RefPtr<Gio::DBus::Connection> system_bus_;
  LocalDate loaded_date_;
  LocalDate reload_date_;
  // Counts operations, so that an answer to a refresh sent before one of them
  // does not undo what it did.
  int operations_ = 0;
};

}  // namespace irvelo
