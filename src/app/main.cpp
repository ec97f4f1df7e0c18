// Process entry: answers --version without starting anything, binds the
// message catalogues, answers --status from the running instance and --help
// without a display, and runs the single-instance application.

#include <glib/gi18n-lib.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/application.hpp"
#include "app/options.hpp"
#include "app/renderer.hpp"
#include "app/status_client.hpp"
#include "config.hpp"

int main(int argc, char* argv[]) {
  // Before the toolkit, the bus or a running instance are touched.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
      std::printf("%s %s\n", irvelo::config::kProgramName, irvelo::config::kVersion);
      return 0;
    }
  }

  std::setlocale(LC_ALL, "");
  const char* locale_dir = std::getenv("IRVELO_LOCALE_DIR");
  bindtextdomain(GETTEXT_PACKAGE, locale_dir != nullptr ? locale_dir : irvelo::config::kLocaleDir);
  bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
  textdomain(GETTEXT_PACKAGE);

  // Read from the running instance over the bus: no toolkit, no display, and
  // never an instance of its own.
  bool status = false;
  bool follow = false;
  for (int i = 1; i < argc; ++i) {
    status = status || std::strcmp(argv[i], "--status") == 0;
    follow = follow || std::strcmp(argv[i], "--follow") == 0;
  }
  if (status) return irvelo::status::run(follow);
  // GTK opens the display before GApplication parses options: help is
  // printed here, so that it works over SSH and in a package build.
  if (irvelo::options::asks_for_help(argc, argv)) {
    irvelo::options::print_help(argv[0]);
    return 0;
  }

  // Only the instance that starts GTK reads it; later invocations exit first.
  irvelo::prefer_software_rendering();
  auto application = irvelo::Application::create();
  return application->run(argc, argv);
}
