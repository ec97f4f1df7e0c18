#pragma once

// How long a request may take, how often the store asks for the running
// timer, how long a start with --background waits for a tray host before
// it shows the panel, and how long a hidden panel is kept before its memory
// is given back. The tests shorten them through the environment
// (IRVELO_TEST_TIMEOUT_SECONDS, IRVELO_TEST_POLL_SECONDS,
// IRVELO_TEST_BACKGROUND_GRACE_MS, IRVELO_TEST_PANEL_RELEASE_SECONDS) so that
// a time-out, ten minutes of polling or the waits do not take the product's
// time; a value that is not
// a whole number from 1 up to the default is ignored, so the environment can
// neither lengthen them nor switch them off.

namespace irvelo::api {

inline constexpr unsigned kRequestTimeoutSeconds = 20;
inline constexpr unsigned kPollSeconds = 30;
inline constexpr unsigned kBackgroundGraceMs = 2000;
// Long enough that a panel closed and opened again soon is simply shown.
inline constexpr unsigned kPanelReleaseSeconds = 120;
inline constexpr unsigned kIdleMinuteMs = 60 * 1000;
inline constexpr unsigned kRemindQuietSeconds = 15 * 60;
// A stop that could not be sent is tried again this long after the failure,
// then with every poll.
inline constexpr unsigned kPendingRetryMs = 5000;

unsigned request_timeout_seconds();
unsigned poll_interval_seconds();
unsigned background_grace_ms();
unsigned panel_release_seconds();
// A minute of the idle-stop setting (IRVELO_TEST_IDLE_MINUTE_MS), and how long
// nothing must be tracked before a reminder (IRVELO_TEST_REMIND_QUIET_SECONDS).
unsigned idle_minute_ms();
unsigned remind_quiet_seconds();
// The first try of a pending stop (IRVELO_TEST_PENDING_RETRY_MS).
unsigned pending_retry_ms();

// The rule above for one variable's value (null when unset).
unsigned shortened_interval(const char* value, unsigned fallback);

}  // namespace irvelo::api
