#pragma once

// The development service: our own implementation of the service's HTTP
// interface over in-memory state, for the tests, the demo and development.
// It serves on 127.0.0.1 on the thread-default main context of its creator,
// so a test's own main loop drives both the client and this server.
//
// Test interface over HTTP, under the prefix /__admin/ (never logged, never
// faulted): GET requests (the log as a JSON array), DELETE requests; POST
// faults with {"path", "status",
// "body", "contentType", "delayMs", "dropConnection", "count", "headers",
// "oversize" ("declared" or "endless"), "answerOnArrival"}; DELETE faults;
// POST reset; GET state ({"baseUrl", "apiKey", "workspaceIds"}); POST rules
// {"workspaceId", "project", "task", "description"}; POST billable
// {"workspaceId", "allowed"}; POST keys ({"apiKey"}); POST connect-codes
// {"challenge"} ({"code"}).

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
  std::string path;   // as received, still percent-encoded, e.g. "/api/v1/workspaces/a%2Fb/bootstrap"
                      // (libsoup only normalises escapes of unreserved characters: %5F arrives as "_")
  std::string query;  // as received, without "?"; empty when none
  std::map<std::string, std::string> headers;  // names in lower case; repeated headers joined with ", "
  std::string body;
};

// What the next `count` requests to a path get instead of the normal answer.
// Faults are kept in injection order; a request takes the first one whose path
// matches (a path ending in "*" matches every path that starts with the rest).
struct Fault {
  int status = 500;  // the status to answer with (ignored when drop_connection)
  std::string body;  // the body to answer with
  std::string content_type = "application/json";
  int delay_ms = 0;              // delay before answering (also applied when answering normally if status is 0)
  bool drop_connection = false;  // close the connection mid-answer (headers sent, body cut short):
                                 // a transport failure, never retried by the client's HTTP library
  int count = 1;                 // how many requests it applies to; negative: every request until cleared
  std::map<std::string, std::string> headers = {};  // extra answer headers, e.g. "Location" for a redirect
  // An answer larger than any client should read (status 200, the other
  // fields ignored): Declared promises 1 GiB in Content-Length and sends
  // nothing; Endless sends a chunked body that does not end (64 MiB, then it
  // waits). The connection stays open until the server goes.
  enum class Oversize { Off, Declared, Endless };
  Oversize oversize = Oversize::Off;
  // With a delay and status 0: the answer as it was when the request came in,
  // sent late (as over a slow network), rather than made when the delay ends.
  bool answer_on_arrival = false;
};

class DevServer {
 public:
  struct Options {
    std::uint16_t port = 0;     // 0 picks a free port
    std::string seed = "test";  // "test": small fixed data; "demo": richer data for trying the app
    bool log_requests = false;  // print each request line on stderr
  };

  // Throws std::invalid_argument for an unknown seed and std::runtime_error
  // when the port cannot be had.
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

  // The service drops off the network and comes back: refusing closes the
  // listening socket and every open connection, so that a client's requests
  // fail as refused connections; accepting listens on the same port again
  // (and throws std::runtime_error when it cannot).
  void refuse_connections();
  void accept_connections();

  // Fault injection: `path` is the request path as received (e.g.
  // "/api/v1/me"); the fault applies to the next `count` requests to it.
  void inject_fault(const std::string& path, Fault fault);
  void clear_faults();

  // Direct state access for tests; an unknown workspace throws std::out_of_range.
  // The rules are the workspace's required fields; the billable permission is
  // the seeded user's "can"."changeBillable" there.
  void set_rules(const std::string& workspace_id, bool require_project, bool require_task, bool require_description);
  void set_can_change_billable(const std::string& workspace_id, bool allowed);
  // Adds an API key for the seeded user; returns it.
  std::string add_api_key();
  // Moves the service's clock by `seconds` against the real one (timer starts
  // and stops, the week of the bootstrap, the seed that reset_state lays).
  void set_clock_offset(std::int64_t seconds);
  // The seeded user loses the membership.
  void remove_membership(const std::string& workspace_id);
  // Forgets every running timer and added entry, as a restarted service would:
  // the seed's data is laid anew (timestamps relative to now), rules and
  // permissions included; API keys stay as they are; connect codes are dropped.
  void reset_state();

  // A connect code as the browser page would hand out for this challenge,
  // without going through the HTML page.
  std::string issue_connect_code(const std::string& code_challenge);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Starts `irvelo-devserver` as a child process on a free port and stops it
// (by process id, SIGTERM, then waits) on destruction; for tests that need the
// service in another process. Throws std::runtime_error when the child cannot
// be started or does not report its address within 10 seconds. Tests find the
// executable in the compile definition IRVELO_DEVSERVER_PATH, which every
// target linking irvelo_devserver gets.
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
  void stop() noexcept;

  int pid_ = -1;
  int stdout_fd_ = -1;
  std::string base_url_;
  std::string api_key_;
};

}  // namespace irvelo::devserver
