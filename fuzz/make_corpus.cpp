// Writes the seed corpora of the fuzz targets: the development service's own
// answers to the calls the client makes (both seeds, successes and failures),
// and typical server addresses, callback addresses, settings and key files.
//   make_corpus <folder>   writes <folder>/<target>/<name>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "api/url.hpp"
#include "service.hpp"

namespace {

namespace fs = std::filesystem;
using irvelo::devserver::HttpRequest;
using irvelo::devserver::HttpResponse;
using irvelo::devserver::Service;

// Must match decode_fuzzer.cpp: its decoder numbers and status table.
enum Decoder : std::uint8_t { Health, Me, Token, Projects, Bootstrap, Running, Ignore, Entry };
constexpr std::array<int, 12> kStatuses = {200, 201, 204, 0, 301, 400, 401, 403, 404, 422, 500, 503};

void write(const fs::path& file, const std::string& content) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

class Writer {
 public:
  Writer(fs::path root, Service& service, std::string seed)
      : root_(std::move(root)), service_(service), seed_(std::move(seed)) {}

  HttpResponse call(const std::string& method, const std::string& path, const std::string& body = "",
                    bool with_key = true) {
    HttpRequest request{method, path, "", {}, body};
    if (with_key) request.headers["authorization"] = "Bearer " + service_.api_key();
    if (!body.empty()) request.headers["content-type"] = "application/json";
    return service_.handle(request);
  }

  // One decode input: the decoder, the answer's status, its body.
  void answer(const std::string& name, Decoder decoder, const HttpResponse& response) {
    std::uint8_t status_index = 0;
    for (std::size_t i = 0; i < kStatuses.size(); ++i)
      if (kStatuses[i] == response.status) status_index = static_cast<std::uint8_t>(i);
    std::string input{static_cast<char>(decoder), static_cast<char>(status_index)};
    write(root_ / "decode" / (seed_ + "-" + name), input + response.body);
  }

 private:
  fs::path root_;
  Service& service_;
  std::string seed_;
};

void answers(const fs::path& root, const std::string& seed) {
  Service service(seed);
  Writer w(root, service, seed);
  const std::string ws = service.workspace_ids().front();
  const std::string base = "/api/v1/workspaces/" + ws;

  w.answer("health", Health, w.call("GET", "/api/health", "", false));
  w.answer("me", Me, w.call("GET", "/api/v1/me"));
  w.answer("me-unauthenticated", Me, w.call("GET", "/api/v1/me", "", false));
  w.answer("bootstrap", Bootstrap, w.call("GET", base + "/bootstrap"));
  w.answer("bootstrap-unknown-workspace", Bootstrap, w.call("GET", "/api/v1/workspaces/nope/bootstrap"));
  w.answer("projects", Projects, w.call("GET", base + "/projects"));
  w.answer("running-none", Running, w.call("GET", base + "/time-entries/running"));
  w.answer("start", Running, w.call("POST", base + "/timer/start", R"({"description":"Fuzzing","billable":false})"));
  w.answer("running", Running, w.call("GET", base + "/time-entries/running"));
  w.answer("bootstrap-running", Bootstrap, w.call("GET", base + "/bootstrap"));
  w.answer("start-invalid", Running, w.call("POST", base + "/timer/start", R"({"projectId":"nope"})"));
  w.answer("start-not-json", Running, w.call("POST", base + "/timer/start", "{"));
  w.answer("stop", Ignore, w.call("POST", base + "/timer/stop", "{}"));
  w.answer("discard-none", Ignore, w.call("DELETE", base + "/timer"));
  w.answer("method-not-allowed", Ignore, w.call("PUT", "/api/v1/me", "{}"));

  const std::string verifier = irvelo::random_urlsafe(32);
  const std::string code = service.issue_connect_code(irvelo::pkce_challenge(verifier));
  w.answer("token-bad-verifier", Token,
           w.call("POST", "/api/v1/extension/token", R"({"code":")" + code + R"(","verifier":"wrong"})", false));
  const std::string code2 = service.issue_connect_code(irvelo::pkce_challenge(verifier));
  w.answer("token", Token,
           w.call("POST", "/api/v1/extension/token", R"({"code":")" + code2 + R"(","verifier":")" + verifier + "\"}",
                  false));

  // One entry on its own, as the week lists it.
  const HttpResponse week = w.call("GET", base + "/bootstrap");
  const auto start = week.body.find(R"("entries":[{)");
  if (start != std::string::npos) {
    const auto from = start + std::string(R"("entries":[)").size();
    int depth = 0;
    std::size_t end = from;
    for (; end < week.body.size(); ++end) {
      if (week.body[end] == '{') ++depth;
      if (week.body[end] == '}' && --depth == 0) break;
    }
    w.answer("entry", Entry, HttpResponse{200, "application/json", week.body.substr(from, end - from + 1), {}});
  }
}

void texts(const fs::path& root) {
  const std::vector<std::string> servers = {"https://app.irvelo.example", "  track.example.org/  ",
                                            "http://localhost:8080/",     "http://127.0.0.1:1",
                                            "http://[::1]:3000",          "https://user@host.example:443/base/path//",
                                            "ftp://example.org",          "https://example.org/?q=1#top",
                                            "http://example.org"};
  for (std::size_t i = 0; i < servers.size(); ++i) write(root / "server_url" / std::to_string(i), servers[i]);

  const std::vector<std::string> callbacks = {"irvelo://connect?code=abcdef&state=st4te",
                                              "irvelo://connect?code=abcdef&state=other",
                                              "irvelo://connect?state=st4te",
                                              "irvelo://connect",
                                              "irvelo://elsewhere?code=a&state=st4te",
                                              "https://connect?code=a&state=st4te",
                                              "irvelo://connect?code=a%20b&state=st%34te&code=second",
                                              "irvelo:connect?code=x"};
  for (std::size_t i = 0; i < callbacks.size(); ++i) write(root / "callback" / std::to_string(i), callbacks[i]);

  const std::vector<std::string> settings = {
      "[main]\nserver_url=https://"
      "app.irvelo.example\nworkspace_id=ws_alpha\nkey_origin=connect\ntray_shows_time=false\n",
      "[main]\nserver_url=http://localhost:8080/\n",
      "# comment\n[main]\ntray_shows_time=maybe\nworkspace_id=a\\nb\\sc\n",
      "[other]\nserver_url=https://x.example\n[main]\nkey_origin=personal\n", "not a key file"};
  for (std::size_t i = 0; i < settings.size(); ++i) write(root / "settings" / std::to_string(i), settings[i]);

  const std::vector<std::string> pending = {
      R"({"version":1,"kind":"stop","server":"https://app.irvelo.example","workspaceId":"ws_alpha",)"
      R"("entryId":"te_1","entryStart":1765350000,"requestedAt":1765371600,"reason":"sleep","cause":"network",)"
      R"("description":"Angebot schreiben"})",
      R"({"kind":"discard","server":"http://127.0.0.1:8080","workspaceId":"w","entryId":"e","entryStart":0,)"
      R"("requestedAt":0,"reason":"idle","cause":"unavailable","description":"R&D <x> \u00e4"})",
      R"({"kind":"stop","server":"s","workspaceId":"w","entryId":"e","entryStart":1.5,"requestedAt":2})",
      R"({"kind":"stop","server":"s"})", "[]"};
  for (std::size_t i = 0; i < pending.size(); ++i) write(root / "pending" / std::to_string(i), pending[i]);

  const std::vector<std::pair<std::string, std::string>> keys = {
      {"https://app.irvelo.example", "https://app.irvelo.example\niv_test_0123456789abcdef\n"},
      {"http://127.0.0.1:8080", "http://127.0.0.1:8080\niv_key\nrest\n"},
      {"https://a.example", "https://b.example\niv_other\n"},
      {"https://a.example", "https://a.example\n\n"},
      {"", "\niv_empty_server"}};
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto& [server, file] = keys[i];
    write(root / "credentials" / std::to_string(i), std::string(1, static_cast<char>(server.size())) + server + file);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_corpus <folder>\n";
    return 2;
  }
  try {
    answers(argv[1], "test");
    answers(argv[1], "demo");
    texts(argv[1]);
  } catch (const std::exception& e) {
    std::cerr << "make_corpus: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
