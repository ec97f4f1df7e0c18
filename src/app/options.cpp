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

namespace {

const Option* find_long(std::string_view name) {
  for (const auto& option : kOptions) {
    if (name == option.long_name) return &option;
  }
  return nullptr;
}

const Option* find_short(char name) {
  for (const auto& option : kOptions) {
    if (option.short_name != '\0' && option.short_name == name) return &option;
  }
  return nullptr;
}

void mark(Early& early, std::string_view name) {
  if (name == "version") early.version = true;
  if (name == "status") early.status = true;
  if (name == "follow") early.follow = true;
}

}  // namespace

Early scan(int argc, char* argv[]) {
  Early early;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") break;
    if (arg.size() < 2 || arg[0] != '-') continue;
    if (arg[1] == '-') {
      const std::string_view body = arg.substr(2);
      const auto equals = body.find('=');
      const std::string_view name = body.substr(0, equals);
      if (name == "help") early.help = true;
      const Option* option = find_long(name);
      if (option == nullptr) continue;
      mark(early, name);
      // As GLib does: the next word is the text, whatever it looks like.
      if (option->argument != nullptr && equals == std::string_view::npos) ++i;
      continue;
    }
    // A group of short options (-bt); one that takes text takes the next word.
    bool takes_next = false;
    for (const char c : arg.substr(1)) {
      if (c == 'h' || c == '?') early.help = true;
      const Option* option = find_short(c);
      if (option == nullptr) continue;
      mark(early, option->long_name);
      takes_next = takes_next || option->argument != nullptr;
    }
    if (takes_next) ++i;
  }
  return early;
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
