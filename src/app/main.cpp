// Process entry: answers --version without starting anything, binds the
// message catalogues, answers --status from the running instance and --help
// without a display, and runs the single-instance application.

#include <glib/gi18n-lib.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/application.hpp"
#include "app/descriptors.hpp"
#include "app/options.hpp"
#include "app/renderer.hpp"
#include "app/status_client.hpp"
#include "config.hpp"

int main(int argc, char* argv[]) {
  // A descriptor of 0-2 closed at launch would be handed to the next file or
  // socket opened, and output meant for the terminal would go there (into
  // the bus connection, say): each stands in for /dev/null instead.
  const bool output_closed = !irvelo::descriptors::hold_standard();

  const irvelo::options::Early early = irvelo::options::scan(argc, argv);
  // Before the toolkit, the bus or a running instance are touched.
  if (early.version) {
    std::printf("%s %s\n", irvelo::config::kProgramName, irvelo::config::kVersion);
    return 0;
  }

  std::setlocale(LC_ALL, "");
  const char* locale_dir = std::getenv("IRVELO_LOCALE_DIR");
  bindtextdomain(GETTEXT_PACKAGE, locale_dir != nullptr ? locale_dir : irvelo::config::kLocaleDir);
  bind_textdomain_codeset(GETTEXT_PACKAGE, "UTF-8");
  textdomain(GETTEXT_PACKAGE);

  // Read from the running instance over the bus: no toolkit, no display, and
  // never an instance of its own. With nowhere to print, there is nothing to do.
  if (early.status) return output_closed ? 0 : irvelo::status::run(early.follow);
  // GTK opens the display before GApplication parses options: help is
  // printed here, so that it works over SSH and in a package build.
  if (early.help) {
    irvelo::options::print_help(argv[0]);
    return 0;
  }

  // Only the instance that starts GTK reads it; later invocations exit first.
  irvelo::prefer_software_rendering();
  auto application = irvelo::Application::create();
  return application->run(argc, argv);
}
