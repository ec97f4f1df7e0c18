#pragma once

// What every fuzz target shares: an environment of its own and a check that
// turns a broken invariant into a crash libFuzzer reports.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace irvelo::fuzz {

// Gives the process a throw-away HOME and XDG_CONFIG_HOME (removed at exit)
// and bus addresses that lead nowhere, so that nothing a target does reaches
// the user's files, keyring or login manager. Call it first, before any GLib
// call caches a directory. Returns the configuration folder of the program
// (XDG_CONFIG_HOME/irvelo-desktop), created.
std::string isolate_environment();

// Aborts with the message when `ok` is false.
void check(bool ok, const char* what);

// Writes `content` to `path` in one piece; aborts when it cannot.
void write_file(const std::string& path, std::string_view content);

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace irvelo::fuzz
