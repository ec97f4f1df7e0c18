#pragma once

// api::Client: the only door to the service. One libsoup
// session per client; every call is one asynchronous request whose outcome
// reaches its completion `done` on the main loop as an api::Result<T>. No call
// raises. Redirects are never followed (a 3xx answer is an Http failure), and
// an answer over 16 MiB is a BadResponse, read no further than that. Destroying the client cancels every request in
// flight, and their completions are then destroyed without being called.

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/records.hpp"

namespace irvelo::api {

// Completion of a call: owned by its request, run at most once, always from
// the main loop (never before the call returns, also for a request that
// cannot be built).
template <typename T>
using Done = std::function<void(Result<T>)>;

class Client {
 public:
  Client(std::string base_url, std::string api_key);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  Client(Client&&) = delete;
  Client& operator=(Client&&) = delete;

  // Ends every request in flight without calling its completion; later
  // requests of this client end the same way. For a client about to be
  // destroyed from outside its own completions.
  void cancel_all();

  [[nodiscard]] const std::string& base_url() const;
  // The "X-Client" value: "linux/<version> (<sysname> <release>)", built once per process.
  [[nodiscard]] static const std::string& client_header();

  // GET api/health, without the key; succeeds only for the service named "irvelo".
  void health(Done<Health> done);
  // GET api/v1/me.
  void me(Done<Me> done);
  // POST api/v1/extension/token {"code","verifier"}, without the key.
  void exchange_connect_code(const std::string& code, const std::string& verifier, Done<TokenResponse> done);
  // DELETE api/v1/extension/token: revokes the calling key.
  void revoke_key(Done<Empty> done);
  // GET api/v1/workspaces/W/bootstrap.
  void bootstrap(const std::string& workspace_id, Done<Bootstrap> done);
  // GET api/v1/workspaces/W/projects.
  void projects(const std::string& workspace_id, Done<std::vector<PickerProject>> done);
  // GET api/v1/workspaces/W/time-entries/running.
  void running(const std::string& workspace_id, Done<std::optional<TimeEntry>> done);
  // POST api/v1/workspaces/W/timer/start with the given object.
  void start_timer(const std::string& workspace_id, const nlohmann::json& body, Done<std::optional<TimeEntry>> done);
  // POST api/v1/workspaces/W/timer/stop with {}.
  void stop_timer(const std::string& workspace_id, Done<Empty> done);
  // DELETE api/v1/workspaces/W/timer.
  void discard_timer(const std::string& workspace_id, Done<Empty> done);
  // PATCH api/v1/workspaces/W/time-entries/E with the given object.
  void update_entry(const std::string& workspace_id, const std::string& entry_id, const nlohmann::json& patch,
                    Done<Empty> done);
  // POST api/v1/workspaces/W/time-entries/E/continue with {}.
  void continue_entry(const std::string& workspace_id, const std::string& entry_id,
                      Done<std::optional<TimeEntry>> done);

 private:
  struct Impl;

  template <typename T>
  void send(const char* method, const std::string& path, const nlohmann::json* body, bool authenticated,
            const char* api_prefix, std::function<T(const nlohmann::json&)> decode, Done<T> done);

  std::unique_ptr<Impl> impl_;
};

}  // namespace irvelo::api
