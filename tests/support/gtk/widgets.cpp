#include "support/gtk/widgets.hpp"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include "core/owned.hpp"

#include <string_view>

namespace irvelo::test {
namespace {

GLogWriterOutput fail_on_warnings(GLogLevelFlags level, const GLogField* fields, gsize n_fields, gpointer) {
  if (level & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING)) {
    std::string message;
    for (gsize i = 0; i < n_fields; ++i) {
      if (std::string_view(fields[i].key) == "MESSAGE" && fields[i].length < 0) {
        message = static_cast<const char*>(fields[i].value);
      }
    }
    ADD_FAILURE() << "logged: " << message;
  }
  return g_log_writer_default(level, fields, n_fields, nullptr);
}

}  // namespace

void init_gtk_for_tests() {
  g_log_set_writer_func(fail_on_warnings, nullptr, nullptr);
  gtk_init();
  Gtk::init_gtkmm_internals();
}

void drain_events() {
  while (g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
}

std::string label_texts(Gtk::Widget& root, const std::string& separator) {
  std::string out;
  for (auto* label : find_all<Gtk::Label>(root)) out += label->get_text() + separator;
  return out;
}

void xdotool(std::vector<std::string> args) {
  args.insert(args.begin(), "xdotool");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  int status = 0;
  ErrorPtr error;
  const bool ran = g_spawn_sync(nullptr, argv.data(), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr, nullptr,
                                &status, out(error));
  ASSERT_TRUE(ran) << (error ? error->message : "");
  ASSERT_TRUE(g_spawn_check_wait_status(status, nullptr)) << "xdotool " << args[1] << " failed";
}

}  // namespace irvelo::test
