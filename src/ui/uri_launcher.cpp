#include "ui/uri_launcher.hpp"

#include <gtk/gtk.h>

#include <memory>
#include <utility>

#include "core/owned.hpp"

namespace irvelo::ui {

void launch_uri(Gtk::Window& parent, const std::string& uri, std::function<void(bool)> done) {
  if (uri.empty()) return;
  // The plain call logs a warning when nothing opens; the full variant hands
  // the outcome to this callback instead. The window is kept alive by the
  // call until it completes.
  auto* heard = new std::function<void(bool)>(std::move(done));
  gtk_show_uri_full(
      parent.gobj(), uri.c_str(), GDK_CURRENT_TIME, nullptr,
      +[](GObject* source, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<std::function<void(bool)>> heard(static_cast<std::function<void(bool)>*>(data));
        ErrorPtr error;
        const bool opened = gtk_show_uri_full_finish(GTK_WINDOW(source), result, out(error));
        if (!opened) g_debug("no browser opened the address: %s", error ? error->message : "unknown error");
        if (*heard) (*heard)(opened);
      },
      heard);
}

}  // namespace irvelo::ui
