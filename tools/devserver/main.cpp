// irvelo-devserver: the development service as a program.
//   irvelo-devserver [--port N] [--seed test|demo] [--log]
// Prints "url http://127.0.0.1:PORT" and "key iv_..." on stdout, one line
// each, then serves until SIGINT or SIGTERM.

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>

#include <cstdio>
#include <exception>

#include "core/owned.hpp"
#include "devserver/dev_server.hpp"

int main(int argc, char** argv) {
  gint port = 0;
  gchar* seed = nullptr;  // filled by the parser, then owned by seed_name
  gboolean log = FALSE;
  const GOptionEntry entries[] = {
      {"port", 'p', 0, G_OPTION_ARG_INT, &port, "Port on 127.0.0.1 (0 picks a free one)", "N"},
      {"seed", 's', 0, G_OPTION_ARG_STRING, &seed, "Seeded data: test or demo (default demo)", "NAME"},
      {"log", 'l', 0, G_OPTION_ARG_NONE, &log, "Print each request on stderr", nullptr},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  };
  const irvelo::OptionContextPtr context(g_option_context_new("- the Irvelo development service"));
  g_option_context_add_main_entries(context.get(), entries, nullptr);
  irvelo::ErrorPtr error;
  const bool parsed = g_option_context_parse(context.get(), &argc, &argv, irvelo::out(error));
  const irvelo::CharPtr seed_name(seed);
  if (!parsed) {
    std::fprintf(stderr, "irvelo-devserver: %s\n", error != nullptr ? error->message : "unknown error");
    return 2;
  }
  if (port < 0 || port > 65535) {
    std::fprintf(stderr, "irvelo-devserver: port out of range: %d\n", port);
    return 2;
  }
  // Output to a closed pipe must not end the service.
  signal(SIGPIPE, SIG_IGN);

  irvelo::devserver::DevServer::Options options;
  options.port = static_cast<std::uint16_t>(port);
  options.seed = seed_name != nullptr ? seed_name.get() : "demo";
  options.log_requests = log;
  try {
    irvelo::devserver::DevServer server(options);
    std::printf("url %s\nkey %s\n", server.base_url().c_str(), server.api_key().c_str());
    std::fflush(stdout);
    const irvelo::MainLoopPtr loop(g_main_loop_new(nullptr, FALSE));
    auto quit = [](gpointer data) -> gboolean {
      g_main_loop_quit(static_cast<GMainLoop*>(data));
      return G_SOURCE_CONTINUE;
    };
    const guint int_source = g_unix_signal_add(SIGINT, quit, loop.get());
    const guint term_source = g_unix_signal_add(SIGTERM, quit, loop.get());
    std::fprintf(stderr, "irvelo-devserver: serving the %s data on %s; Ctrl+C stops\n", options.seed.c_str(),
                 server.base_url().c_str());
    g_main_loop_run(loop.get());
    g_source_remove(int_source);
    g_source_remove(term_source);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "irvelo-devserver: %s\n", e.what());
    return 1;
  }
  return 0;
}
