#pragma once

// How long a request may take, how often the store asks for the running
// timer, and how long a start with --background waits for a tray host before
// it shows the panel. The tests shorten them through the environment
// (IRVELO_TEST_TIMEOUT_SECONDS, IRVELO_TEST_POLL_SECONDS,
// IRVELO_TEST_BACKGROUND_GRACE_MS) so that a time-out, ten minutes of polling
// or the wait for a host do not take the product's time; a value that is not
// a whole number from 1 up to the default is ignored, so the environment can
// neither lengthen them nor switch them off.

namespace irvelo::api {

inline constexpr unsigned kRequestTimeoutSeconds = 20;
inline constexpr unsigned kPollSeconds = 30;
inline constexpr unsigned kBackgroundGraceMs = 2000;

unsigned request_timeout_seconds();
unsigned poll_interval_seconds();
unsigned background_grace_ms();

// The rule above for one variable's value (null when unset).
unsigned shortened_interval(const char* value, unsigned fallback);

}  // namespace irvelo::api
