#pragma once

// Start at login: a freedesktop autostart entry,
// "com.larkspan.Irvelo.desktop", in the user's autostart directory.

#include <string>

namespace irvelo::autostart {

// Whether the entry exists, is not Hidden and has X-GNOME-Autostart-enabled true.
[[nodiscard]] bool enabled();

// Writes (true) or deletes (false) the entry; empty on success, else a message
// for the user.
[[nodiscard]] std::string set_enabled(bool on);

}  // namespace irvelo::autostart
