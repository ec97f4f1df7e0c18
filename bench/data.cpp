#include "data.hpp"

#include <ctime>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "api/decode.hpp"
#include "api/pipeline.hpp"
#include "service.hpp"
#include "storage/settings.hpp"

namespace irvelo::bench {
namespace {

using nlohmann::json;

json answer(const std::string& path) {
  devserver::Service service("demo");
  devserver::HttpRequest request{"GET", path, "", {}, ""};
  request.headers["authorization"] = "Bearer " + service.api_key();
  if (path.find("/workspaces/") != std::string::npos) {
    // The path names the first workspace by its position; the seed gives its identifier.
    request.path.replace(request.path.find("FIRST"), 5, service.workspace_ids().front());
  }
  const auto response = service.handle(request);
  if (response.status != 200) throw std::runtime_error("development service answered " + path + " with an error");
  return json::parse(response.body);
}

std::string iso(std::int64_t t) {
  const auto tt = static_cast<std::time_t>(t);
  std::tm tm{};
  gmtime_r(&tt, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S.000Z", &tm);
  return buf;
}

}  // namespace

std::string bootstrap_body(std::size_t entries, std::int64_t now) {
  json body = answer("/api/v1/workspaces/FIRST/bootstrap");
  const json templates = body.at("entries");
  if (templates.empty()) throw std::runtime_error("the demo week has no entries");
  json out = json::array();
  // Even spacing over the week: 5,000 entries give one every two minutes.
  const std::int64_t step = 7 * 86400 / static_cast<std::int64_t>(entries);
  for (std::size_t i = 0; i < entries; ++i) {
    json e = templates[i % templates.size()];
    const std::int64_t start = now - static_cast<std::int64_t>(i + 1) * step;
    const std::int64_t duration = step * 3 / 4;
    e["id"] = "te_bench_" + std::to_string(i);
    e["startAt"] = iso(start);
    e["endAt"] = iso(start + duration);
    e["durationSeconds"] = duration;
    out.push_back(std::move(e));
  }
  body["entries"] = std::move(out);
  body["running"] = nullptr;
  return body.dump();
}

std::string projects_body(std::size_t projects, std::size_t tasks) {
  const json templates = answer("/api/v1/workspaces/FIRST/projects").at("data");
  if (templates.empty()) throw std::runtime_error("the demo workspace has no projects");
  json data = json::array();
  for (std::size_t i = 0; i < projects; ++i) {
    json p = templates[i % templates.size()];
    p["id"] = "pr_bench_" + std::to_string(i);
    p["name"] = p["name"].get<std::string>() + " " + std::to_string(i);
    json list = json::array();
    for (std::size_t t = 0; t < tasks; ++t) {
      list.push_back({{"id", "tk_bench_" + std::to_string(i) + "_" + std::to_string(t)},
                      {"name", "Task " + std::to_string(t) + " of project " + std::to_string(i)}});
    }
    p["tasks"] = std::move(list);
    data.push_back(std::move(p));
  }
  return json{{"data", data}}.dump();
}

TrackerStore& busy_store() {
  static Settings settings;
  static std::unique_ptr<TrackerStore> instance = [] {
    const std::int64_t now = std::time(nullptr);
    auto s = std::make_unique<TrackerStore>(settings, TrackerStore::Ephemeral{"http://127.0.0.1:1", ""});
    auto decoded = api::classify<api::Bootstrap>(200, bootstrap_body(5000, now), std::nullopt, &api::parse_bootstrap);
    auto projects =
        api::classify<std::vector<api::PickerProject>>(200, projects_body(3000, 5), std::nullopt, &api::parse_projects);
    if (!decoded.ok() || !projects.ok()) throw std::runtime_error("the benchmark data did not decode");
    s->bootstrap = std::move(*decoded.value);
    s->projects = std::move(*projects.value);
    api::TimeEntry running = s->bootstrap->entries.front();
    running.id = "te_bench_running";
    running.end_at.reset();
    running.end_unix.reset();
    running.duration_seconds.reset();
    running.start_unix = now - 300;
    s->running = running;
    s->now = now;
    return s;
  }();
  return *instance;
}

}  // namespace irvelo::bench
