#pragma once

// The answer classification of the request pipeline, apart from
// the transport so that it can be checked on its own: what one exchange
// (status, body, transport failure) becomes as an api::Result<T>.

#include <nlohmann/json.hpp>

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "api/records.hpp"

namespace irvelo::api {

// The error for an exchange that did not succeed: a transport failure
// (Network), 401 (Unauthenticated), a redirect (Http), any other status
// outside 200 to 299 (Api when the body is the service's error envelope, Http
// otherwise); nothing for
// a 2xx answer. Never raises.
[[nodiscard]] std::optional<Error> failure_of(int status, const std::string& body,
                                              const std::optional<std::string>& transport_error);

// The body of a 2xx answer as JSON: an empty body stands for null; raises
// when the body is not JSON.
[[nodiscard]] nlohmann::json parse_answer(const std::string& body);

// Error of kind BadResponse with the status, empty code and message; a
// non-empty `reason` (why the answer was refused) goes to the log.
[[nodiscard]] Error bad_response(int status, const std::string& reason = {});

// The whole classification table: failures first, then the 2xx body through
// `decode`; any raise of parsing or decoding becomes BadResponse. Never raises.
template <typename T, typename Decode>
[[nodiscard]] Result<T> classify(int status, const std::string& body, const std::optional<std::string>& transport_error,
                                 const Decode& decode) {
  if (auto failure = failure_of(status, body, transport_error)) return Result<T>::failure(std::move(*failure));
  try {
    return Result<T>::success(decode(parse_answer(body)));
  } catch (const nlohmann::json::parse_error& e) {
    // Only the position: the parser's own text quotes the answer.
    return Result<T>::failure(bad_response(status, "not JSON at byte " + std::to_string(e.byte)));
  } catch (const std::exception& e) {
    return Result<T>::failure(bad_response(status, e.what()));
  } catch (...) {
    return Result<T>::failure(bad_response(status, "unknown failure"));
  }
}

}  // namespace irvelo::api
