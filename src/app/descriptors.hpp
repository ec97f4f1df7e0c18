#pragma once

// The standard descriptors as the process found them at launch.

namespace irvelo::descriptors {

// Opens /dev/null on each of 0, 1 and 2 that is closed, so that no later
// file or socket takes its number. False when standard output was closed.
[[nodiscard]] bool hold_standard();

}  // namespace irvelo::descriptors
