#include "support/gtk/widgets.hpp"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

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

}  // namespace irvelo::test
