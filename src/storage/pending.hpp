#pragma once

// A stop or discard that the service has not received yet, kept on disk until
// it is sent or given up: "pending.json" in state_dir(), mode 0600, replaced
// atomically. It never holds the API key.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace irvelo {

// The user state directory (as GLib reports it, $XDG_STATE_HOME) joined with
// "irvelo-desktop". Not created here.
[[nodiscard]] std::string state_dir();

struct PendingAction {
  enum class Kind { Stop, Discard };
  // Who asked: the user, or the away handling on their behalf.
  enum class Reason { User, Lock, Sleep, Shutdown, Idle };
  // Why it could not be sent: no connection, or the service was unavailable.
  enum class Cause { Network, Unavailable };

  Kind kind = Kind::Stop;
  std::string server;
  std::string workspace_id;
  std::string entry_id;
  std::int64_t entry_start = 0;   // Unix seconds, for the frozen clock
  std::int64_t requested_at = 0;  // Unix seconds: when the stop was asked for
  Reason reason = Reason::User;
  Cause cause = Cause::Network;
  // Typed in the field when the stop was asked for; saved with the stop.
  std::string description;

  bool operator==(const PendingAction&) const = default;
};

// The file's text; pure, for the tests and the fuzzer.
[[nodiscard]] std::string pending_to_json(const PendingAction& action);
// Nothing for text that is not a complete pending action.
[[nodiscard]] std::optional<PendingAction> pending_from_json(std::string_view text);

struct PendingFile {
  // The action on disk, or nothing. A file that cannot be read or parsed is
  // reported once per process in the log and otherwise ignored.
  [[nodiscard]] static std::optional<PendingAction> load();
  // False (and a warning) when it could not be written.
  [[nodiscard]] static bool save(const PendingAction& action);
  static void remove();
};

}  // namespace irvelo
