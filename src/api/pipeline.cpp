#include "api/pipeline.hpp"

#include <glib.h>

namespace irvelo::api {
namespace {

using json = nlohmann::json;

// Reads the service's error envelope into `error` (kind Api); raises on
// anything that does not fit, leaving `error` untouched.
void read_envelope(const std::string& body, Error& error) {
  const json parsed = json::parse(body);
  const json& envelope = parsed.at("error");
  if (!envelope.is_object()) throw std::runtime_error("error is not an object");
  Error api = error;
  api.kind = Error::Kind::Api;
  api.code = envelope.at("code").get<std::string>();
  api.message = envelope.at("message").get<std::string>();
  const auto fields = envelope.find("fieldErrors");
  if (fields != envelope.end() && fields->is_object()) {
    for (const auto& [key, value] : fields->items()) {
      std::vector<std::string> messages;
      if (value.is_string()) {
        messages.push_back(value.get<std::string>());
      } else if (value.is_array()) {
        for (const auto& item : value) messages.push_back(item.get<std::string>());
      }
      if (messages.empty()) continue;
      auto& list = api.field_errors[key];
      list.insert(list.end(), messages.begin(), messages.end());
    }
  }
  error = std::move(api);
}

}  // namespace

std::optional<Error> failure_of(int status, const std::string& body,
                                const std::optional<std::string>& transport_error) {
  if (transport_error) {
    Error e;
    e.kind = Error::Kind::Network;
    e.message = *transport_error;
    return e;
  }
  if (status == 401) {
    Error e;
    e.kind = Error::Kind::Unauthenticated;
    e.status = 401;
    e.code = "UNAUTHENTICATED";
    return e;
  }
  if (status >= 200 && status <= 299) return std::nullopt;
  Error e;
  e.kind = Error::Kind::Http;
  e.status = status;
  // Redirects are never followed; whatever their body says, they are the
  // answer's status and nothing of the address they point to.
  if (status >= 300 && status <= 399) return e;
  try {
    read_envelope(body, e);
  } catch (...) {
    // Not the service's envelope: the error stays Http with the status.
  }
  return e;
}

json parse_answer(const std::string& body) {
  if (body.empty()) return nullptr;
  return json::parse(body);
}

Error bad_response(int status, const std::string& reason) {
  if (!reason.empty()) g_info("bad answer (HTTP %d): %s", status, reason.c_str());
  Error e;
  e.kind = Error::Kind::BadResponse;
  e.status = status;
  return e;
}

}  // namespace irvelo::api
