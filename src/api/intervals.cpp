#include "api/intervals.hpp"

#include <glib.h>

#include <charconv>
#include <cstring>

namespace irvelo::api {

unsigned shortened_interval(const char* value, unsigned fallback) {
  if (value == nullptr) return fallback;
  unsigned parsed = 0;
  const char* end = value + std::strlen(value);
  const auto [rest, ec] = std::from_chars(value, end, parsed);
  if (ec != std::errc() || rest != end || parsed == 0 || parsed > fallback) return fallback;
  return parsed;
}

unsigned request_timeout_seconds() {
  return shortened_interval(g_getenv("IRVELO_TEST_TIMEOUT_SECONDS"), kRequestTimeoutSeconds);
}

unsigned poll_interval_seconds() {
  return shortened_interval(g_getenv("IRVELO_TEST_POLL_SECONDS"), kPollSeconds);
}

unsigned background_grace_ms() {
  return shortened_interval(g_getenv("IRVELO_TEST_BACKGROUND_GRACE_MS"), kBackgroundGraceMs);
}

unsigned panel_release_seconds() {
  return shortened_interval(g_getenv("IRVELO_TEST_PANEL_RELEASE_SECONDS"), kPanelReleaseSeconds);
}

unsigned idle_minute_ms() {
  return shortened_interval(g_getenv("IRVELO_TEST_IDLE_MINUTE_MS"), kIdleMinuteMs);
}

unsigned remind_quiet_seconds() {
  return shortened_interval(g_getenv("IRVELO_TEST_REMIND_QUIET_SECONDS"), kRemindQuietSeconds);
}

unsigned pending_retry_ms() {
  return shortened_interval(g_getenv("IRVELO_TEST_PENDING_RETRY_MS"), kPendingRetryMs);
}

}  // namespace irvelo::api
