#pragma once

// The texts that say what the timer is doing, shared by the tray and by
// `--status`, which reads them from the running instance's status interface.

#include <cstdint>
#include <string>

namespace irvelo {

// "Tracking 0:12:34 · description", "Not tracking" or "Not signed in"; while
// a stop or discard waits for the service (`pending` "stop" or "discard"),
// "Not stopped yet 0:12:34 · description".
[[nodiscard]] std::string status_tooltip(bool signed_in, bool tracking, std::int64_t elapsed,
                                         const std::string& description, const std::string& pending = {});

// "Project · Task · Client", leaving out what is empty.
[[nodiscard]] std::string assignment_line(const std::string& project, const std::string& task,
                                          const std::string& client);

}  // namespace irvelo
