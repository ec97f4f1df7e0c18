// The browser's callback address, as the second invocation hands it to the
// running program: TrackerStore::handle_callback on a store that waits for a
// browser sign-in. A refused address leaves the wait in place; an accepted one
// ends it, and a wrong state or a missing code ends it as Unauthenticated
// without a request. Only the right state with a code sends the code to the
// (absent) service at 127.0.0.1:1, whose refusal must come back as a failure.

#include <glib.h>
#include <glibmm/main.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "api/records.hpp"
#include "core/tracker_store.hpp"
#include "storage/settings.hpp"
#include "support.hpp"

namespace {

using irvelo::TrackerStore;
using irvelo::fuzz::check;

constexpr const char* kState = "st4te";
constexpr const char* kNowhere = "http://127.0.0.1:1";

irvelo::Settings& settings() {
  static irvelo::Settings instance;
  return instance;
}

TrackerStore& store() {
  // No key: no client, no refresh; only the sign-in state below.
  static TrackerStore instance(settings(), TrackerStore::Ephemeral{kNowhere, ""});
  return instance;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  irvelo::fuzz::isolate_environment();
  settings().server_url = kNowhere;
  (void)store();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TrackerStore& s = store();
  s.pending = std::make_unique<TrackerStore::PendingConnect>(
      TrackerStore::PendingConnect{"verifier-verifier-verifier-verifier-verif", "challenge", kState, kNowhere});
  bool finished = false;
  std::optional<irvelo::api::Error> outcome;
  s.connect_done = [&](std::optional<irvelo::api::Error> error) {
    finished = true;
    outcome = std::move(error);
  };

  const bool accepted = s.handle_callback(std::string(irvelo::fuzz::as_text(data, size)));
  if (!accepted) {
    check(!finished && s.pending != nullptr, "a refused address leaves the sign-in waiting");
  } else {
    check(s.pending == nullptr, "an accepted address ends the wait");
    // The exchange runs on the main loop; the closed port answers quickly.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    auto context = Glib::MainContext::get_default();
    while (!finished && std::chrono::steady_clock::now() < deadline) {
      if (!context->iteration(false)) g_usleep(200);
    }
    check(finished, "the sign-in ends");
    check(outcome.has_value(), "no session comes from a closed port");
  }
  check(s.phase == TrackerStore::Phase::SignedOut && s.api_key.empty(), "the store stays signed out");
  s.pending.reset();
  s.connect_done = nullptr;
  return 0;
}
