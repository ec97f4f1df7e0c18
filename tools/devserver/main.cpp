// irvelo-devserver: the development service as a program.
//   irvelo-devserver [--port N] [--seed test|demo] [--log]
// Prints "url http://127.0.0.1:PORT" and "key iv_..." on stdout, one line
// each, then serves until SIGINT or SIGTERM.

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>

#include <cstdio>
#include <exception>

#include "devserver/dev_server.hpp"

int main(int argc, char** argv) {
  gint port = 0;
  gchar* seed = nullptr;
  gboolean log = FALSE;
  const GOptionEntry entries[] = {
      {"port", 'p', 0, G_OPTION_ARG_INT, &port, "Port on 127.0.0.1 (0 picks a free one)", "N"},
      {"seed", 's', 0, G_OPTION_ARG_STRING, &seed, "Seeded data: test or demo (default demo)", "NAME"},
      {"log", 'l', 0, G_OPTION_ARG_NONE, &log, "Print each request on stderr", nullptr},
      {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
  };
  GOptionContext* context = g_option_context_new("- the Irvelo development service");
  g_option_context_add_main_entries(context, entries, nullptr);
  GError* error = nullptr;
  if (!g_option_context_parse(context, &argc, &argv, &error)) {
    std::fprintf(stderr, "irvelo-devserver: %s\n", error->message);
    g_clear_error(&error);
    g_option_context_free(context);
    return 2;
  }
  g_option_context_free(context);
  if (port < 0 || port > 65535) {
    std::fprintf(stderr, "irvelo-devserver: port out of range: %d\n", port);
    return 2;
  }
  // Output to a closed pipe must not end the service.
  signal(SIGPIPE, SIG_IGN);

  irvelo::devserver::DevServer::Options options;
  options.port = static_cast<std::uint16_t>(port);
  options.seed = seed != nullptr ? seed : "demo";
  options.log_requests = log;
  g_free(seed);
  try {
    irvelo::devserver::DevServer server(options);
    std::printf("url %s\nkey %s\n", server.base_url().c_str(), server.api_key().c_str());
    std::fflush(stdout);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    auto quit = [](gpointer data) -> gboolean {
      g_main_loop_quit(static_cast<GMainLoop*>(data));
      return G_SOURCE_CONTINUE;
    };
    const guint int_source = g_unix_signal_add(SIGINT, quit, loop);
    const guint term_source = g_unix_signal_add(SIGTERM, quit, loop);
    std::fprintf(stderr, "irvelo-devserver: serving the %s data on %s; Ctrl+C stops\n", options.seed.c_str(),
                 server.base_url().c_str());
    g_main_loop_run(loop);
    g_source_remove(int_source);
    g_source_remove(term_source);
    g_main_loop_unref(loop);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "irvelo-devserver: %s\n", e.what());
    return 1;
  }
  return 0;
}
