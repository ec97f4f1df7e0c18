#pragma once

#include <chrono>
#include <functional>

namespace irvelo::test {

// Runs the default main context until `done` holds or the deadline passes;
// returns whether `done` held. Tests assert on the result rather than sleeping.
bool run_until(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Runs the default main context for the given time. Only for a pace that is
// part of the behaviour (the soak test's minutes); a check that nothing
// happens needs a marker that proves the cause was processed instead.
void run_for(std::chrono::milliseconds duration);

// Runs the default main context until an idle callback of low priority has
// run: whatever was ready before it, and every idle callback of default-idle
// priority or higher queued on the way, has been dispatched by then. Returns
// whether that happened within the deadline.
bool run_until_idle(std::chrono::milliseconds deadline = std::chrono::seconds(10));

}  // namespace irvelo::test
