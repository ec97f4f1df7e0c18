#pragma once

// The program's command-line options, written once: the application registers
// them for parsing, and main() prints their help before the toolkit starts, so
// that --help works without a display.

#include <span>
#include <string_view>

namespace irvelo::options {

struct Option {
  const char* long_name;
  char short_name;                 // '\0' for none
  const char* description;         // untranslated (N_), translated where shown
  const char* argument = nullptr;  // the placeholder of an option that takes text
};

[[nodiscard]] std::span<const Option> all();

// What main() must know before the application parses the command line,
// read by the same rules: the word after an option that takes text is that
// text (so `-d --status` is a description), and nothing after `--` is an option.
struct Early {
  bool version = false;
  bool status = false;
  bool follow = false;
  // -h, -?, --help. --help-all and --help-gapplication stay GApplication's,
  // with its own options.
  bool help = false;
};
[[nodiscard]] Early scan(int argc, char* argv[]);

// Writes the translated help to standard output, as GLib's option parser
// formats it.
void print_help(const char* program);

}  // namespace irvelo::options
