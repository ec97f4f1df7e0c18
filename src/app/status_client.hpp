#pragma once

// `--status`: what the running instance is doing, read over D-Bus from its
// status interface and printed as one line of JSON for status bars and
// scripts, once or (`--follow`) on every change. Never starts an instance;
// needs no display.

#include <glibmm/variant.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace irvelo::status {

using Properties = std::map<Glib::ustring, Glib::VariantBase>;

// The line for the properties read at `read_at` (nothing: no instance runs),
// with the clock at `now` (Unix seconds).
[[nodiscard]] std::string line(const std::optional<Properties>& properties, std::int64_t read_at, std::int64_t now);

// Prints and returns the exit status (0, also when no instance runs).
int run(bool follow);

}  // namespace irvelo::status
