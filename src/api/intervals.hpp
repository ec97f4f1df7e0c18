#pragma once

// How long a request may take and how often the store asks for the running
// timer. The tests shorten both through the environment
// (IRVELO_TEST_TIMEOUT_SECONDS, IRVELO_TEST_POLL_SECONDS) so that a time-out
// or ten minutes of polling do not take the product's time; a value that is
// not a whole number from 1 up to the default is ignored, so the environment
// can neither lengthen them nor switch them off.

namespace irvelo::api {

inline constexpr unsigned kRequestTimeoutSeconds = 20;
inline constexpr unsigned kPollSeconds = 30;

unsigned request_timeout_seconds();
unsigned poll_interval_seconds();

// The rule above for one variable's value (null when unset).
unsigned shortened_interval(const char* value, unsigned fallback);

}  // namespace irvelo::api
