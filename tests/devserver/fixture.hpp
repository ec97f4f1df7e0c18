#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "devserver/dev_server.hpp"
#include "http.hpp"

namespace irvelo::test {

// The test seed in process, on this test's main loop, and a plain HTTP client.
class DevServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<devserver::DevServer>();
    key = server->api_key();
    const auto ids = server->workspace_ids();
    ASSERT_EQ(ids.size(), 3u);
    alpha = ids[0];
    beta = ids[1];
    client_ws = ids[2];
  }

  [[nodiscard]] std::string url(const std::string& path) const { return server->base_url() + path; }
  [[nodiscard]] std::string ws(const std::string& id, const std::string& suffix) const {
    return url("/api/v1/workspaces/" + id + suffix);
  }

  Reply get(const std::string& path) { return http.get(url(path), key); }
  Reply start(const std::string& workspace, const nlohmann::json& body) {
    return http.post(ws(workspace, "/timer/start"), body.dump(), key);
  }
  Reply stop(const std::string& workspace) { return http.post(ws(workspace, "/timer/stop"), "{}", key); }
  Reply running(const std::string& workspace) { return http.get(ws(workspace, "/time-entries/running"), key); }
  Reply bootstrap(const std::string& workspace) { return http.get(ws(workspace, "/bootstrap"), key); }

  std::unique_ptr<devserver::DevServer> server;
  Http http;
  std::string key;
  std::string alpha, beta, client_ws;
};

// The body of a start request as the client builds it.
inline nlohmann::json start_body(const std::string& description, const char* project = nullptr,
                                 const char* task = nullptr) {
  return {{"description", description},
          {"projectId", project != nullptr ? nlohmann::json(project) : nlohmann::json(nullptr)},
          {"taskId", task != nullptr ? nlohmann::json(task) : nlohmann::json(nullptr)},
          {"tagIds", nlohmann::json::array()}};
}

// Seconds since the epoch of an ISO 8601 text, or -1.
std::int64_t instant(const std::string& text);
std::int64_t now_seconds();

}  // namespace irvelo::test
