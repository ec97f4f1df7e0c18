#include "devserver/service.hpp"

#include <glib.h>
#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "core/owned.hpp"

namespace irvelo::devserver {

using nlohmann::json;
using FieldErrors = std::map<std::string, std::vector<std::string>>;

namespace {

constexpr const char* kVersion = "development";
constexpr std::int64_t kCodeLifetime = 600;

// Own small helpers rather than the client's (src/api), so the service checks
// the client's PKCE and encoding against an independent implementation.

std::int64_t now_unix() {
  return g_get_real_time() / G_USEC_PER_SEC;
}

std::string base64url(const unsigned char* bytes, std::size_t n) {
  if (n == 0) return {};
  const CharPtr encoded(g_base64_encode(bytes, n));
  std::string out(encoded.get());
  for (char& c : out) {
    if (c == '+') c = '-';
    if (c == '/') c = '_';
  }
  while (!out.empty() && out.back() == '=') out.pop_back();
  return out;
}

std::string random_urlsafe(std::size_t n) {
  std::vector<unsigned char> buffer(n);
  std::size_t filled = 0;
  while (filled < n) {
    const ssize_t got = getrandom(buffer.data() + filled, n - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("getrandom failed");
    }
    filled += static_cast<std::size_t>(got);
  }
  return base64url(buffer.data(), n);
}

// RFC 7636 S256: base64url(SHA-256(verifier)).
std::string pkce_challenge(const std::string& verifier) {
  guint8 digest[32];
  gsize length = sizeof digest;
  const ChecksumPtr sum(g_checksum_new(G_CHECKSUM_SHA256));
  g_checksum_update(sum.get(), reinterpret_cast<const guchar*>(verifier.data()), static_cast<gssize>(verifier.size()));
  g_checksum_get_digest(sum.get(), digest, &length);
  return base64url(digest, length);
}

std::string url_encode(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (g_ascii_isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

// ---------------------------------------------------------------- answers

HttpResponse json_response(int status, const json& body) {
  HttpResponse r;
  r.status = status;
  r.body = body.dump();
  return r;
}

HttpResponse error_response(int status, const std::string& code, const std::string& message,
                            const FieldErrors& fields = {}) {
  json error = {{"code", code}, {"message", message}};
  if (!fields.empty()) error["fieldErrors"] = fields;
  return json_response(status, json{{"error", error}});
}

HttpResponse no_content() {
  HttpResponse r;
  r.status = 204;
  r.content_type.clear();
  return r;
}

HttpResponse not_found() {
  return error_response(404, "NOT_FOUND", "No such resource.");
}
HttpResponse method_not_allowed() {
  return error_response(405, "METHOD_NOT_ALLOWED", "Method not allowed.");
}
HttpResponse unauthenticated() {
  return error_response(401, "UNAUTHENTICATED", "A valid API key is required.");
}
HttpResponse validation(const FieldErrors& fields) {
  return error_response(422, "VALIDATION", "Validation failed", fields);
}

std::string iso(std::int64_t t) {
  const std::time_t tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.000Z", &tm);
  return buf;
}

std::string trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\n\v\f\r");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\n\v\f\r");
  return s.substr(first, last - first + 1);
}

std::string html_escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// Splits "/a/b%2Fc" into decoded segments {"a", "b/c"}; nothing for a path
// that does not start with "/", has an empty segment or a bad escape.
std::optional<std::vector<std::string>> split_path(const std::string& path) {
  if (path.empty() || path[0] != '/') return std::nullopt;
  std::vector<std::string> out;
  std::size_t pos = 1;
  while (pos <= path.size()) {
    const std::size_t slash = path.find('/', pos);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    const std::string raw = path.substr(pos, end - pos);
    if (raw.empty()) return std::nullopt;
    const CharPtr decoded(g_uri_unescape_string(raw.c_str(), nullptr));
    if (decoded == nullptr) return std::nullopt;
    out.emplace_back(decoded.get());
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  return out;
}

std::map<std::string, std::string> parse_query(const std::string& query) {
  std::map<std::string, std::string> out;
  if (query.empty()) return out;
  const HashTablePtr params(g_uri_parse_params(query.c_str(), -1, "&", G_URI_PARAMS_NONE, nullptr));
  if (params == nullptr) return out;
  GHashTableIter it;
  gpointer k, v;
  g_hash_table_iter_init(&it, params.get());
  while (g_hash_table_iter_next(&it, &k, &v)) out[static_cast<const char*>(k)] = static_cast<const char*>(v);
  return out;
}

// The body as a JSON object; an empty body counts as {}.
std::optional<HttpResponse> parse_body(const HttpRequest& request, json& out) {
  if (request.body.empty()) {
    out = json::object();
    return std::nullopt;
  }
  const auto ct = request.headers.find("content-type");
  if (ct == request.headers.end() || ct->second.rfind("application/json", 0) != 0)
    return error_response(415, "UNSUPPORTED_MEDIA_TYPE", "Send the body as application/json.");
  out = json::parse(request.body, nullptr, false);
  if (out.is_discarded()) return error_response(400, "BAD_REQUEST", "The body is not valid JSON.");
  if (!out.is_object()) return error_response(400, "BAD_REQUEST", "The body must be a JSON object.");
  return std::nullopt;
}

// ---------------------------------------------------------------- zones and weeks

struct Week {
  std::string from, to;             // dates
  std::int64_t begin = 0, end = 0;  // [begin, end)
};

Week week_of(std::int64_t now, const std::string& zone, int week_start) {
  TimeZonePtr tz(g_time_zone_new_identifier(zone.c_str()));
  if (tz == nullptr) tz.reset(g_time_zone_new_utc());
  const DateTimePtr utc(g_date_time_new_from_unix_utc(now));
  const DateTimePtr local(g_date_time_to_timezone(utc.get(), tz.get()));
  const int dow = g_date_time_get_day_of_week(local.get()) % 7;  // 0 Sunday … 6 Saturday
  const int back = ((dow - week_start) % 7 + 7) % 7;
  int y, m, d;
  g_date_time_get_ymd(local.get(), &y, &m, &d);
  const DateTimePtr today(g_date_time_new(tz.get(), y, m, d, 0, 0, 0));
  const DateTimePtr first(g_date_time_add_days(today.get(), -back));
  const DateTimePtr last(g_date_time_add_days(first.get(), 6));
  const DateTimePtr after(g_date_time_add_days(first.get(), 7));
  Week w;
  const CharPtr f(g_date_time_format(first.get(), "%Y-%m-%d"));
  const CharPtr t(g_date_time_format(last.get(), "%Y-%m-%d"));
  w.from = f.get();
  w.to = t.get();
  w.begin = g_date_time_to_unix(first.get());
  w.end = g_date_time_to_unix(after.get());
  return w;
}

// ---------------------------------------------------------------- records as JSON

const model::Project* find_project(const model::Workspace& ws, const std::string& id) {
  for (const auto& p : ws.projects)
    if (p.id == id) return &p;
  return nullptr;
}

const model::Task* find_task(const model::Project& p, const std::string& id) {
  for (const auto& t : p.tasks)
    if (t.id == id) return &t;
  return nullptr;
}

const model::Tag* find_tag(const model::Workspace& ws, const std::string& id) {
  for (const auto& t : ws.tags)
    if (t.id == id) return &t;
  return nullptr;
}

json entry_json(const model::Workspace& ws, const model::Entry& e) {
  json j = {
      {"id", e.id},
      {"workspaceId", ws.id},
      {"userId", e.user_id},
      {"description", e.description},
      {"startAt", iso(e.start)},
      {"endAt", e.end ? json(iso(*e.end)) : json(nullptr)},
      {"durationSeconds", e.end ? json(*e.end - e.start) : json(nullptr)},
      {"isBillable", e.billable},
      {"isLocked", e.locked},
  };
  j["project"] = nullptr;
  j["task"] = nullptr;
  if (e.project_id) {
    if (const auto* p = find_project(ws, *e.project_id)) {
      j["project"] = {{"id", p->id},
                      {"name", p->name},
                      {"color", p->color},
                      {"clientName", p->client_name ? json(*p->client_name) : json(nullptr)}};
      if (e.task_id)
        if (const auto* t = find_task(*p, *e.task_id)) j["task"] = {{"id", t->id}, {"name", t->name}};
    }
  }
  json tags = json::array();
  for (const auto& id : e.tag_ids)
    if (const auto* t = find_tag(ws, id)) tags.push_back({{"id", t->id}, {"name", t->name}});
  j["tags"] = tags;
  return j;
}

json project_json(const model::Project& p) {
  json tasks = json::array();
  for (const auto& t : p.tasks) tasks.push_back({{"id", t.id}, {"name", t.name}});
  return {{"id", p.id},
          {"name", p.name},
          {"color", p.color},
          {"clientName", p.client_name ? json(*p.client_name) : json(nullptr)},
          {"billableByDefault", p.billable_by_default},
          {"favorite", p.favorite},
          {"tasks", tasks}};
}

json user_json(const model::User& u) {
  return {{"id", u.id},
          {"email", u.email},
          {"name", u.name},
          {"timeZone", u.time_zone},
          {"dateFormat", u.date_format},
          {"timeFormat", u.time_format},
          {"weekStart", u.week_start},
          {"locale", u.locale}};
}

// ---------------------------------------------------------------- request fields

// The fields of a start or patch body; each "has_" tells whether the key was sent.
struct EntryFields {
  bool has_description = false, has_project = false, has_task = false, has_tags = false, has_billable = false;
  std::string description;
  std::optional<std::string> project_id, task_id;
  std::vector<std::string> tag_ids;
  bool billable = false;
};

EntryFields read_fields(const json& body, FieldErrors& errors) {
  EntryFields f;
  auto optional_id = [&](const char* key, bool& has, std::optional<std::string>& out) {
    if (!body.contains(key)) return;
    has = true;
    const json& v = body[key];
    if (v.is_null()) return;
    if (v.is_string() && !v.get<std::string>().empty()) {
      out = v.get<std::string>();
      return;
    }
    errors[key].push_back("Must be an identifier or null.");
  };
  if (body.contains("description")) {
    f.has_description = true;
    const json& v = body["description"];
    if (v.is_string())
      f.description = v.get<std::string>();
    else if (!v.is_null())
      errors["description"].push_back("Must be a string.");
  }
  optional_id("projectId", f.has_project, f.project_id);
  optional_id("taskId", f.has_task, f.task_id);
  if (body.contains("tagIds")) {
    f.has_tags = true;
    const json& v = body["tagIds"];
    if (v.is_array()) {
      for (const auto& t : v) {
        if (t.is_string())
          f.tag_ids.push_back(t.get<std::string>());
        else
          errors["tagIds"].push_back("Must be a list of identifiers.");
      }
    } else if (!v.is_null()) {
      errors["tagIds"].push_back("Must be a list of identifiers.");
    }
  }
  if (body.contains("isBillable")) {
    const json& v = body["isBillable"];
    if (v.is_boolean()) {
      f.has_billable = true;
      f.billable = v.get<bool>();
    } else if (!v.is_null()) {
      errors["isBillable"].push_back("Must be true or false.");
    }
  }
  return f;
}

// Checks that the project, task and tags exist; the task must belong to the project.
void check_references(const model::Workspace& ws, const std::optional<std::string>& project_id,
                      const std::optional<std::string>& task_id, const std::vector<std::string>& tag_ids,
                      FieldErrors& errors) {
  const model::Project* project = nullptr;
  if (project_id) {
    project = find_project(ws, *project_id);
    if (project == nullptr) errors["projectId"].push_back("Unknown project.");
  }
  if (task_id) {
    if (!project_id)
      errors["taskId"].push_back("A task needs a project.");
    else if (project != nullptr && find_task(*project, *task_id) == nullptr)
      errors["taskId"].push_back("Unknown task for this project.");
  }
  for (const auto& id : tag_ids)
    if (find_tag(ws, id) == nullptr) {
      errors["tagIds"].push_back("Unknown tag: " + id);
    }
}

// The workspace's required fields, as the web application enforces them.
void check_required(const model::Workspace& ws, const std::string& description,
                    const std::optional<std::string>& project_id, const std::optional<std::string>& task_id,
                    const std::vector<std::string>& tag_ids, FieldErrors& errors) {
  if (ws.require_description && trim(description).empty()) errors["description"].push_back("Description is required.");
  if (ws.require_project && !project_id) errors["projectId"].push_back("Project is required.");
  if (ws.require_task && !task_id && project_id) {
    const model::Project* p = find_project(ws, *project_id);
    if (p != nullptr && !p->tasks.empty()) errors["taskId"].push_back("Task is required.");
  }
  if (ws.require_tag && tag_ids.empty()) errors["tagIds"].push_back("At least one tag is required.");
}

model::Entry* running_of(model::Workspace& ws, const std::string& user_id) {
  for (auto& e : ws.entries)
    if (e.user_id == user_id && !e.end) return &e;
  return nullptr;
}

model::Entry* entry_of(model::Workspace& ws, const std::string& user_id, const std::string& id) {
  for (auto& e : ws.entries)
    if (e.id == id && e.user_id == user_id) return &e;
  return nullptr;
}

void stop(model::Entry& e, std::int64_t now) {
  e.end = std::max(now, e.start);
}

bool may_track(const model::Membership& m) {
  return m.role != "client";
}

HttpResponse forbidden_client() {
  return error_response(403, "FORBIDDEN", "Clients cannot track time in this workspace.");
}

}  // namespace

// ---------------------------------------------------------------- Service

Service::Service(std::string seed)
    : seed_(std::move(seed)), state_(model::make_seed(seed_, now_unix())), primary_key_(model::seed_api_key(seed_)) {
  keys_[primary_key_] = state_.users.front().id;
}

std::vector<std::string> Service::workspace_ids() const {
  std::vector<std::string> out;
  for (const auto& m : state_.users.front().memberships) out.push_back(m.workspace_id);
  return out;
}

model::Workspace* Service::workspace(const std::string& id) {
  for (auto& ws : state_.workspaces)
    if (ws.id == id) return &ws;
  return nullptr;
}

const model::Membership* Service::membership(const model::User& user, const std::string& workspace_id) {
  for (const auto& m : user.memberships)
    if (m.workspace_id == workspace_id) return &m;
  return nullptr;
}

void Service::set_rules(const std::string& workspace_id, bool require_project, bool require_task,
                        bool require_description) {
  model::Workspace* ws = workspace(workspace_id);
  if (ws == nullptr) throw std::out_of_range("unknown workspace: " + workspace_id);
  ws->require_project = require_project;
  ws->require_task = require_task;
  ws->require_description = require_description;
}

void Service::set_can_change_billable(const std::string& workspace_id, bool allowed) {
  if (workspace(workspace_id) == nullptr) throw std::out_of_range("unknown workspace: " + workspace_id);
  for (auto& m : state_.users.front().memberships)
    if (m.workspace_id == workspace_id) m.can_change_billable = allowed;
}

std::string Service::add_api_key() {
  std::string key = "iv_" + random_urlsafe(24);
  keys_[key] = state_.users.front().id;
  return key;
}

std::int64_t Service::clock_now() const {
  return now_unix() + clock_offset_;
}

void Service::set_clock_offset(std::int64_t seconds) {
  clock_offset_ = seconds;
}

void Service::remove_membership(const std::string& workspace_id) {
  auto& memberships = state_.users.front().memberships;
  std::erase_if(memberships, [&](const model::Membership& m) { return m.workspace_id == workspace_id; });
}

void Service::reset_state() {
  state_ = model::make_seed(seed_, clock_now());
  codes_.clear();
}

std::string Service::issue_connect_code(const std::string& code_challenge) {
  std::string code = random_urlsafe(24);
  codes_[code] = ConnectCode{code_challenge, state_.users.front().id, clock_now() + kCodeLifetime};
  return code;
}

model::User* Service::user_for(const HttpRequest& request, std::string* key_out) {
  const auto it = request.headers.find("authorization");
  if (it == request.headers.end()) return nullptr;
  const std::string& value = it->second;
  if (value.size() <= 7 || g_ascii_strncasecmp(value.c_str(), "Bearer ", 7) != 0) return nullptr;
  const std::string key = value.substr(7);
  const auto k = keys_.find(key);
  if (k == keys_.end()) return nullptr;
  for (auto& u : state_.users)
    if (u.id == k->second) {
      if (key_out != nullptr) *key_out = key;
      return &u;
    }
  return nullptr;
}

nlohmann::json Service::memberships_json(const model::User& user) {
  json workspaces = json::array();
  for (const auto& m : user.memberships) {
    const model::Workspace* ws = workspace(m.workspace_id);
    workspaces.push_back({{"workspaceId", m.workspace_id},
                          {"memberId", m.member_id},
                          {"name", ws != nullptr ? ws->name : m.workspace_id},
                          {"slug", ws != nullptr ? ws->slug : m.workspace_id},
                          {"role", m.role}});
  }
  return workspaces;
}

HttpResponse Service::handle(const HttpRequest& request) {
  try {
    if (request.path == "/api/health") {
      if (request.method != "GET") return method_not_allowed();
      return json_response(200, {{"ok", true}, {"name", "irvelo"}, {"version", kVersion}});
    }
    if (request.path == "/extension/connect") {
      if (request.method != "GET") return method_not_allowed();
      return connect_page(request);
    }
    const auto segments = split_path(request.path);
    if (!segments) return not_found();
    return route(request, *segments);
  } catch (const std::exception& e) {
    return error_response(500, "INTERNAL", std::string("Internal error: ") + e.what());
  }
}

HttpResponse Service::route(const HttpRequest& request, const std::vector<std::string>& segments) {
  if (segments.size() < 3 || segments[0] != "api" || segments[1] != "v1") return not_found();
  const std::vector<std::string> rest(segments.begin() + 2, segments.end());

  if (rest == std::vector<std::string>{"extension", "token"}) {
    if (request.method == "POST") return exchange_code(request);
    if (request.method != "DELETE") return method_not_allowed();
    std::string key;
    if (user_for(request, &key) == nullptr) return unauthenticated();
    keys_.erase(key);
    return no_content();
  }

  model::User* user = user_for(request);
  if (user == nullptr) return unauthenticated();

  if (rest == std::vector<std::string>{"me"}) {
    if (request.method != "GET") return method_not_allowed();
    return json_response(200, {{"user", user_json(*user)}, {"workspaces", memberships_json(*user)}});
  }
  if (rest.size() >= 3 && rest[0] == "workspaces")
    return workspace_call(request, *user, std::vector<std::string>(rest.begin() + 1, rest.end()));
  return not_found();
}

HttpResponse Service::workspace_call(const HttpRequest& request, const model::User& user,
                                     const std::vector<std::string>& rest) {
  model::Workspace* ws = workspace(rest[0]);
  const model::Membership* member = membership(user, rest[0]);
  if (ws == nullptr || member == nullptr) return error_response(404, "NOT_FOUND", "Workspace not found.");
  const std::vector<std::string> op(rest.begin() + 1, rest.end());
  const std::string& method = request.method;
  const std::int64_t now = clock_now();
  using V = std::vector<std::string>;

  if (op == V{"bootstrap"}) {
    if (method != "GET") return method_not_allowed();
    const Week week = week_of(now, user.time_zone, user.week_start);
    const bool tracks = may_track(*member);
    json entries = json::array();
    std::vector<const model::Entry*> mine;
    for (const auto& e : ws->entries)
      if (tracks && e.user_id == user.id && e.start >= week.begin && e.start < week.end) mine.push_back(&e);
    std::stable_sort(mine.begin(), mine.end(), [](auto* a, auto* b) { return a->start > b->start; });
    for (const auto* e : mine) entries.push_back(entry_json(*ws, *e));
    const model::Entry* running = tracks ? running_of(*ws, user.id) : nullptr;
    json tags = json::array();
    for (const auto& t : ws->tags) tags.push_back({{"id", t.id}, {"name", t.name}});
    json body = {
        {"workspace",
         {{"id", ws->id},
          {"name", ws->name},
          {"slug", ws->slug},
          {"durationFormat", ws->duration_format},
          {"timeZone", ws->time_zone}}},
        {"viewer",
         {{"userId", user.id},
          {"memberId", member->member_id},
          {"role", member->role},
          {"timeZone", user.time_zone},
          {"weekStart", user.week_start},
          {"timeFormat", user.time_format},
          {"dateFormat", user.date_format}}},
        {"rules",
         {{"requiredFields",
           {{"project", ws->require_project},
            {"task", ws->require_task},
            {"tag", ws->require_tag},
            {"description", ws->require_description}}},
          {"forceTimer", ws->force_timer},
          {"lockBefore", nullptr},
          {"membersCanChangeBillable", ws->members_can_change_billable}}},
        {"can",
         {{"createProjects", member->can_create_projects},
          {"createTags", member->can_create_tags},
          {"changeBillable", member->can_change_billable}}},
        {"running", running != nullptr ? entry_json(*ws, *running) : json(nullptr)},
        {"entries", entries},
        {"tags", tags},
        {"week", {{"from", week.from}, {"to", week.to}}},
    };
    return json_response(200, body);
  }
  if (op == V{"projects"}) {
    if (method != "GET") return method_not_allowed();
    json data = json::array();
    for (const auto& p : ws->projects) data.push_back(project_json(p));
    return json_response(200, {{"data", data}});
  }
  if (op == V{"time-entries", "running"}) {
    if (method != "GET") return method_not_allowed();
    const model::Entry* running = may_track(*member) ? running_of(*ws, user.id) : nullptr;
    return json_response(200, {{"running", running != nullptr ? entry_json(*ws, *running) : json(nullptr)}});
  }

  const bool start = op == V{"timer", "start"};
  const bool stop_op = op == V{"timer", "stop"};
  const bool discard = op == V{"timer"};
  const bool patch = op.size() == 2 && op[0] == "time-entries";
  const bool cont = op.size() == 3 && op[0] == "time-entries" && op[2] == "continue";
  if (!(start || stop_op || discard || patch || cont)) return not_found();
  if ((start && method != "POST") || (stop_op && method != "POST") || (discard && method != "DELETE") ||
      (patch && method != "PATCH") || (cont && method != "POST"))
    return method_not_allowed();
  if (!may_track(*member)) return forbidden_client();

  json body;
  if (method != "DELETE")
    if (auto bad = parse_body(request, body)) return *bad;

  if (start) {
    FieldErrors errors;
    EntryFields f = read_fields(body, errors);
    if (f.has_billable && !member->can_change_billable)
      return error_response(403, "FORBIDDEN", "You may not change the billable flag in this workspace.");
    check_references(*ws, f.project_id, f.task_id, f.tag_ids, errors);
    check_required(*ws, f.description, f.project_id, f.task_id, f.tag_ids, errors);
    if (!errors.empty()) return validation(errors);
    if (model::Entry* old = running_of(*ws, user.id)) stop(*old, now);
    model::Entry e;
    e.id = "te_" + std::to_string(state_.next_id++);
    e.user_id = user.id;
    e.description = f.description;
    e.start = now;
    e.project_id = f.project_id;
    e.task_id = f.task_id;
    e.tag_ids = f.tag_ids;
    const model::Project* p = f.project_id ? find_project(*ws, *f.project_id) : nullptr;
    e.billable = f.has_billable ? f.billable : (p != nullptr && p->billable_by_default);
    ws->entries.push_back(e);
    return json_response(201, {{"running", entry_json(*ws, ws->entries.back())}});
  }
  if (stop_op) {
    model::Entry* running = running_of(*ws, user.id);
    if (running == nullptr) return json_response(200, json::object());
    stop(*running, now);
    return json_response(200, entry_json(*ws, *running));
  }
  if (discard) {
    auto& entries = ws->entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const model::Entry& e) { return e.user_id == user.id && !e.end; }),
                  entries.end());
    return no_content();
  }

  model::Entry* entry = entry_of(*ws, user.id, op[1]);
  if (entry == nullptr) return error_response(404, "NOT_FOUND", "Time entry not found.");

  if (patch) {
    if (entry->locked) return error_response(409, "LOCKED", "This time entry is locked.");
    FieldErrors errors;
    EntryFields f = read_fields(body, errors);
    if (f.has_billable && !member->can_change_billable)
      return error_response(403, "FORBIDDEN", "You may not change the billable flag in this workspace.");
    const std::string description = f.has_description ? f.description : entry->description;
    const std::optional<std::string> project_id = f.has_project ? f.project_id : entry->project_id;
    std::optional<std::string> task_id = f.has_task ? f.task_id : entry->task_id;
    // A new project drops a task of the old one unless a task is sent too.
    if (f.has_project && !f.has_task && task_id) {
      const model::Project* p = project_id ? find_project(*ws, *project_id) : nullptr;
      if (p == nullptr || find_task(*p, *task_id) == nullptr) task_id.reset();
    }
    const std::vector<std::string> tags = f.has_tags ? f.tag_ids : entry->tag_ids;
    check_references(*ws, project_id, task_id, tags, errors);
    // Required fields are enforced only on what this request changes.
    FieldErrors required;
    check_required(*ws, description, project_id, task_id, tags, required);
    if (!f.has_description) required.erase("description");
    if (!f.has_project) required.erase("projectId");
    if (!f.has_task && !f.has_project) required.erase("taskId");
    if (!f.has_tags) required.erase("tagIds");
    for (auto& [k, v] : required) errors[k].insert(errors[k].end(), v.begin(), v.end());
    if (!errors.empty()) return validation(errors);
    entry->description = description;
    entry->project_id = project_id;
    entry->task_id = task_id;
    entry->tag_ids = tags;
    if (f.has_billable) entry->billable = f.billable;
    return json_response(200, entry_json(*ws, *entry));
  }

  // continue
  if (!entry->end) return json_response(200, {{"running", entry_json(*ws, *entry)}});
  {
    FieldErrors errors;
    check_references(*ws, entry->project_id, entry->task_id, {}, errors);
    check_required(*ws, entry->description, entry->project_id, entry->task_id, entry->tag_ids, errors);
    if (!errors.empty()) return validation(errors);
  }
  model::Entry e;
  e.id = "te_" + std::to_string(state_.next_id++);
  e.user_id = user.id;
  e.description = entry->description;
  e.project_id = entry->project_id;
  e.task_id = entry->task_id;
  e.tag_ids = entry->tag_ids;
  e.billable = entry->billable;
  e.start = now;
  if (model::Entry* old = running_of(*ws, user.id)) stop(*old, now);
  ws->entries.push_back(std::move(e));  // invalidates `entry`
  return json_response(201, {{"running", entry_json(*ws, ws->entries.back())}});
}

HttpResponse Service::connect_page(const HttpRequest& request) {
  const auto q = parse_query(request.query);
  auto get = [&](const char* key) {
    const auto it = q.find(key);
    return it == q.end() ? std::string() : it->second;
  };
  const std::string challenge = get("challenge");
  const std::string state = get("state");
  const std::string redirect_uri = get("redirect_uri");
  const std::string browser = get("browser").empty() ? std::string("this app") : get("browser");

  auto page = [](int status, const std::string& title, const std::string& content) {
    HttpResponse r;
    r.status = status;
    r.content_type = "text/html; charset=utf-8";
    r.headers["Cache-Control"] = "no-store";
    r.body =
        "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" +
        html_escape(title) +
        " · Irvelo</title><style>"
        "body{font-family:system-ui,sans-serif;background:#f4f5f7;color:#1f2328;margin:0}"
        "main{max-width:28rem;margin:4rem auto;background:#fff;border-radius:12px;padding:2rem;"
        "box-shadow:0 2px 12px rgba(0,0,0,.08)}h1{font-size:1.3rem;margin-top:0}"
        ".button{display:inline-block;background:#3d5afe;color:#fff;padding:.7rem 1.2rem;border-radius:8px;"
        "text-decoration:none;font-weight:600}.cancel{margin-left:1rem;color:#57606a}"
        ".note{font-size:.8rem;color:#8c959f;margin-top:2rem}</style></head><body><main>" +
        content + "<p class=\"note\">Served by the Irvelo development service.</p></main></body></html>\n";
    return r;
  };

  bool challenge_ok = challenge.size() == 43 && challenge.find_first_not_of(
                                                    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                    "0123456789-_") == std::string::npos;
  const CharPtr scheme(redirect_uri.empty() ? nullptr : g_uri_parse_scheme(redirect_uri.c_str()));
  const std::string scheme_text = scheme != nullptr ? scheme.get() : "";
  const bool redirect_ok = scheme_text == "irvelo" || scheme_text == "http" || scheme_text == "https";
  if (!challenge_ok || !redirect_ok) {
    std::string why = !challenge_ok ? "The sign-in request carries no valid PKCE challenge."
                                    : "The sign-in request carries no usable redirect address.";
    return page(400, "Cannot connect",
                "<h1>Cannot connect</h1><p>" + html_escape(why) + "</p><p>Start the sign-in again from the app.</p>");
  }

  const std::string code = issue_connect_code(challenge);
  const std::string sep = redirect_uri.find('?') == std::string::npos ? "?" : "&";
  std::string allow = redirect_uri + sep + "code=" + url_encode(code);
  std::string deny = redirect_uri + sep + "error=access_denied";
  if (!state.empty()) {
    allow += "&state=" + url_encode(state);
    deny += "&state=" + url_encode(state);
  }
  const model::User& user = state_.users.front();
  return page(200, "Connect " + browser,
              "<h1>Connect " + html_escape(browser) + " to Irvelo</h1>" + "<p>Signed in as <strong>" +
                  html_escape(user.name) + "</strong> (" + html_escape(user.email) + ").</p>" + "<p>" +
                  html_escape(browser) +
                  " will be able to start and stop your timer and read your projects in all your workspaces.</p>"
                  "<p><a class=\"button\" id=\"allow\" href=\"" +
                  html_escape(allow) + "\">Allow and return to the app</a><a class=\"cancel\" id=\"deny\" href=\"" +
                  html_escape(deny) + "\">Cancel</a></p>");
}

HttpResponse Service::exchange_code(const HttpRequest& request) {
  json body;
  if (auto bad = parse_body(request, body)) return *bad;
  FieldErrors errors;
  if (!body.contains("code") || !body["code"].is_string() || body["code"].get<std::string>().empty())
    errors["code"].push_back("Code is required.");
  if (!body.contains("verifier") || !body["verifier"].is_string() || body["verifier"].get<std::string>().empty())
    errors["verifier"].push_back("Verifier is required.");
  if (!errors.empty()) return validation(errors);
  const auto it = codes_.find(body["code"].get<std::string>());
  if (it == codes_.end() || it->second.expires < clock_now()) {
    if (it != codes_.end()) codes_.erase(it);
    return error_response(400, "INVALID_CODE", "This sign-in code is not valid or was already used.");
  }
  if (pkce_challenge(body["verifier"].get<std::string>()) != it->second.challenge)
    return error_response(400, "INVALID_VERIFIER", "The verifier does not match the sign-in request.");
  const std::string user_id = it->second.user_id;
  codes_.erase(it);
  const std::string key = "iv_" + random_urlsafe(24);
  keys_[key] = user_id;
  const model::User* user = nullptr;
  for (const auto& u : state_.users)
    if (u.id == user_id) user = &u;
  if (user == nullptr) return error_response(500, "INTERNAL", "The user is gone.");
  return json_response(200, {{"apiKey", key}, {"user", user_json(*user)}, {"workspaces", memberships_json(*user)}});
}

}  // namespace irvelo::devserver
