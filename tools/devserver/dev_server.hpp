#pragma once

// The development service: our own implementation of the service's HTTP
// interface over in-memory state, for the tests, the demo and development.
// It serves on 127.0.0.1 on the thread-default main context of its creator,
// so a test's own main loop drives both the client and this server.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace irvelo::devserver {

// One request as the server received it.
struct RecordedRequest {
  std::string method;
  std::string path;   // decoded path, e.g. "/api/v1/workspaces/a%2Fb/bootstrap" arrives as received (still encoded)
  std::string query;  // empty when none
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// What the next `count` requests to a path get instead of the normal answer.
struct Fault {
  int status = 500;            // the status to answer with (ignored when drop_connection)
  std::string body;            // the body to answer with
  std::string content_type = "application/json";
  int delay_ms = 0;            // delay before answering (also applied when answering normally if status is 0)
  bool drop_connection = false;  // close the connection without an answer
  int count = 1;               // how many requests it applies to
};

class DevServer {
 public:
  struct Options {
    std::uint16_t port = 0;       // 0 picks a free port
    std::string seed = "test";    // "test": small fixed data; "demo": richer data for trying the app
  };

  explicit DevServer(Options options);
  DevServer() : DevServer(Options{}) {}
  ~DevServer();
  DevServer(const DevServer&) = delete;
  DevServer& operator=(const DevServer&) = delete;

  // "http://127.0.0.1:PORT", without a trailing slash.
  [[nodiscard]] std::string base_url() const;
  [[nodiscard]] std::uint16_t port() const;

  // The API key of the seeded user (always valid until revoked).
  [[nodiscard]] std::string api_key() const;
  // Identifiers of the seeded workspaces, in membership order; the last one is
  // the workspace where the user only has the role "client".
  [[nodiscard]] std::vector<std::string> workspace_ids() const;

  // Requests received so far (admin requests excluded), oldest first.
  [[nodiscard]] const std::vector<RecordedRequest>& requests() const;
  void clear_requests();

  // Fault injection: `path` is the request path as received (e.g.
  // "/api/v1/me"); the fault applies to the next `count` requests to it.
  void inject_fault(const std::string& path, Fault fault);
  void clear_faults();

  // Direct state access for tests.
  void set_rules(const std::string& workspace_id, bool require_project, bool require_task, bool require_description);
  void set_can_change_billable(const std::string& workspace_id, bool allowed);
  // Adds an API key for the seeded user; returns it.
  std::string add_api_key();
  // Forgets every running timer and added entry, as a restarted service would.
  void reset_state();

  // A connect code as the browser page would hand out for this challenge,
  // without going through the HTML page.
  std::string issue_connect_code(const std::string& code_challenge);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Starts `irvelo-devserver` as a child process on a free port and stops it
// (by process id) on destruction; for tests that need the service in another
// process.
class DevServerProcess {
 public:
  explicit DevServerProcess(const std::string& executable, const std::string& seed = "test");
  ~DevServerProcess();
  DevServerProcess(const DevServerProcess&) = delete;
  DevServerProcess& operator=(const DevServerProcess&) = delete;

  [[nodiscard]] const std::string& base_url() const { return base_url_; }
  [[nodiscard]] const std::string& api_key() const { return api_key_; }
  [[nodiscard]] int pid() const { return pid_; }

 private:
  int pid_ = -1;
  std::string base_url_;
  std::string api_key_;
};

}  // namespace irvelo::devserver
