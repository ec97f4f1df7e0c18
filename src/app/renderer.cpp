#include "app/renderer.hpp"

#include <gdk/gdk.h>
#include <glib.h>

#include "ui/uri_launcher.hpp"

namespace irvelo {

namespace {

// Whether GDK_DEBUG is ours to take back.
bool set_by_us = false;

}  // namespace

void prefer_software_rendering() {
  if (g_getenv("GSK_RENDERER") != nullptr || g_getenv("GDK_DEBUG") != nullptr) return;
  set_by_us = g_setenv("GDK_DEBUG", "gl-disable", FALSE) != FALSE;
}

void forget_rendering_choice() {
  if (!set_by_us) return;
  // Unsetting it here would race the toolkit's threads, which read the
  // environment: the launch contexts leave it out instead.
  ui::keep_from_launched("GDK_DEBUG");
  set_by_us = false;
  // GSK reads this name from the display before anything else.
  if (GdkDisplay* display = gdk_display_get_default()) {
    g_object_set_data(G_OBJECT(display), "gsk-renderer", const_cast<char*>("cairo"));
  }
}

}  // namespace irvelo
