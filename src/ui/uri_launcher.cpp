#include "ui/uri_launcher.hpp"

#include <gtk/gtk.h>

namespace irvelo::ui {

void launch_uri(Gtk::Window& parent, const std::string& uri) {
  if (uri.empty()) return;
  gtk_show_uri(parent.gobj(), uri.c_str(), GDK_CURRENT_TIME);
}

}  // namespace irvelo::ui
