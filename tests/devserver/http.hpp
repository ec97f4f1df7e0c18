#pragma once

// A plain SoupSession on the default main context, for driving the
// development service in tests: one call, run the loop until it is answered.

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace irvelo::test {

struct Reply {
  int status = 0;  // 0 when the transport failed
  std::string body;
  std::string content_type;
  std::optional<std::string> transport_error;

  [[nodiscard]] nlohmann::json json() const { return nlohmann::json::parse(body); }
};

struct Call {
  std::string method = "GET";
  std::string url;
  std::optional<std::string> body;  // sent as application/json unless content_type says otherwise
  std::string content_type = "application/json";
  std::map<std::string, std::string> headers;
};

class Http {
 public:
  Http();
  ~Http();
  Http(const Http&) = delete;
  Http& operator=(const Http&) = delete;

  Reply send(const Call& call);
  // Starts a call and returns at once; `out` is filled when it is answered.
  // Cancelling through cancel_all() ends it without an answer.
  void start(const Call& call, Reply* out, bool* done);
  void cancel_all();

  // Shortcuts with an optional bearer key.
  Reply get(const std::string& url, const std::string& key = {});
  Reply post(const std::string& url, const std::string& body, const std::string& key = {});
  Reply patch(const std::string& url, const std::string& body, const std::string& key = {});
  Reply del(const std::string& url, const std::string& key = {});

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace irvelo::test
