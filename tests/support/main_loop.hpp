#pragma once

#include <chrono>
#include <functional>

namespace irvelo::test {

// Runs the default main context until `done` holds or the deadline passes;
// returns whether `done` held. Tests assert on the result rather than sleeping.
bool run_until(const std::function<bool()>& done, std::chrono::milliseconds deadline = std::chrono::seconds(10));

// Runs the default main context for the given time, for checks that nothing happens.
void run_for(std::chrono::milliseconds duration);

}  // namespace irvelo::test
