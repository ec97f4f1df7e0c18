#include "app/options.hpp"

#include <glib.h>
#include <glib/gi18n-lib.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/owned.hpp"

namespace irvelo::options {

namespace {

constexpr std::array kOptions{
    Option{"toggle", 't', N_("Start or stop the timer")},
    Option{"start", 's', N_("Start the timer")},
    Option{"stop", 'x', N_("Stop the timer")},
    Option{"continue", 'c', N_("Continue the most recent entry")},
    Option{"description", 'd', N_("With --start or --toggle: the new timer's description"), N_("TEXT")},
    Option{"background", 'b', N_("Start in the system tray without opening the panel")},
    Option{"status", '\0', N_("Print what the timer is doing as one line of JSON and exit")},
    Option{"follow", '\0', N_("With --status: print a new line whenever that changes")},
    Option{"version", 'v', N_("Print the version and exit")},
};

}  // namespace

std::span<const Option> all() {
  return kOptions;
}

bool asks_for_help(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--") == 0) return false;
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "-?") == 0 || std::strcmp(arg, "--help") == 0) {
      return true;
    }
  }
  return false;
}

void print_help(const char* program) {
  const CharPtr name{g_path_get_basename(program)};
  g_set_prgname(name.get());
  std::vector<GOptionEntry> entries;
  for (const auto& option : kOptions) {
    // Only formatted, never parsed: no storage behind the entries.
    entries.push_back(GOptionEntry{option.long_name, option.short_name, 0,
                                   option.argument != nullptr ? G_OPTION_ARG_STRING : G_OPTION_ARG_NONE, nullptr,
                                   _(option.description), option.argument != nullptr ? _(option.argument) : nullptr});
  }
  entries.push_back(GOptionEntry{});
  const Owned<GOptionContext, g_option_context_free> context{g_option_context_new(nullptr)};
  g_option_context_add_main_entries(context.get(), entries.data(), nullptr);
  const CharPtr help{g_option_context_get_help(context.get(), TRUE, nullptr)};
  std::fputs(help.get(), stdout);
}

}  // namespace irvelo::options
