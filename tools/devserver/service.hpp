#pragma once

// The service's behaviour without the transport: in-memory state, the seeds,
// and one function that answers a request. dev_server.cpp puts it behind a
// SoupServer; nothing here knows about HTTP connections or the main loop.

#include <cstdint>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

namespace irvelo::devserver {

struct HttpRequest {
  std::string method;
  std::string path;                            // as received, still percent-encoded
  std::string query;                           // as received, without "?"
  std::map<std::string, std::string> headers;  // lower-case names
  std::string body;
};

struct HttpResponse {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
  std::map<std::string, std::string> headers;
};

namespace model {

struct Task {
  std::string id;
  std::string name;
};

struct Project {
  std::string id;
  std::string name;
  std::string color;
  std::optional<std::string> client_name;
  bool billable_by_default = false;
  bool favorite = false;
  std::vector<Task> tasks;
};

struct Tag {
  std::string id;
  std::string name;
};

struct Entry {
  std::string id;
  std::string user_id;
  std::string description;
  std::int64_t start = 0;
  std::optional<std::int64_t> end;  // absent while running
  bool billable = false;
  std::optional<std::string> project_id;
  std::optional<std::string> task_id;
  std::vector<std::string> tag_ids;
  bool locked = false;
};

struct Workspace {
  std::string id;
  std::string name;
  std::string slug;
  std::string duration_format = "full";
  std::string time_zone = "UTC";
  bool require_project = false;
  bool require_task = false;
  bool require_tag = false;
  bool require_description = false;
  bool force_timer = false;
  bool members_can_change_billable = true;
  std::vector<Project> projects;
  std::vector<Tag> tags;
  std::vector<Entry> entries;  // every user's, in creation order
};

struct Membership {
  std::string workspace_id;
  std::string member_id;
  std::string role;  // "owner", "admin", "member" or "client"
  bool can_change_billable = false;
  bool can_create_projects = false;
  bool can_create_tags = false;
};

struct User {
  std::string id;
  std::string email;
  std::string name;
  std::string time_zone = "UTC";
  std::string date_format;
  std::string time_format = "h24";
  int week_start = 1;
  std::string locale = "en";
  std::vector<Membership> memberships;
};

struct State {
  std::vector<User> users;  // the first is the seeded user whose key is handed out
  std::vector<Workspace> workspaces;
  std::uint64_t next_id = 1000;
};

// The named seed's data with timestamps relative to `now`; throws
// std::invalid_argument for an unknown name ("test" and "demo" exist).
State make_seed(const std::string& name, std::int64_t now);
// The fixed API key of the seeded user of that seed.
std::string seed_api_key(const std::string& name);

}  // namespace model

class Service {
 public:
  explicit Service(std::string seed);

  // Answers one request.
  HttpResponse handle(const HttpRequest& request);

  [[nodiscard]] std::string api_key() const { return primary_key_; }
  [[nodiscard]] std::vector<std::string> workspace_ids() const;

  // Throw std::out_of_range for an unknown workspace.
  void set_rules(const std::string& workspace_id, bool require_project, bool require_task, bool require_description);
  void set_can_change_billable(const std::string& workspace_id, bool allowed);
  std::string add_api_key();
  // The service's clock runs this many seconds ahead of the real one (behind
  // when negative), for tests that cross midnight or a week's start.
  void set_clock_offset(std::int64_t seconds);
  // The seeded user leaves the workspace.
  void remove_membership(const std::string& workspace_id);
  void reset_state();
  std::string issue_connect_code(const std::string& code_challenge);

 private:
  struct ConnectCode {
    std::string challenge;
    std::string user_id;
    std::int64_t expires = 0;
  };

  HttpResponse route(const HttpRequest& request, const std::vector<std::string>& segments);
  HttpResponse connect_page(const HttpRequest& request);
  HttpResponse exchange_code(const HttpRequest& request);
  HttpResponse workspace_call(const HttpRequest& request, const model::User& user,
                              const std::vector<std::string>& rest);

  nlohmann::json memberships_json(const model::User& user);
  model::User* user_for(const HttpRequest& request, std::string* key_out = nullptr);
  model::Workspace* workspace(const std::string& id);
  static const model::Membership* membership(const model::User& user, const std::string& workspace_id);

  std::string seed_;
  model::State state_;
  std::map<std::string, std::string> keys_;  // API key → user id
  std::map<std::string, ConnectCode> codes_;
  std::string primary_key_;
  std::int64_t clock_offset_ = 0;

  [[nodiscard]] std::int64_t clock_now() const;
};

}  // namespace irvelo::devserver
