// The data that travels with the program: the compiled icons and the desktop
// entry that routes the browser's callback to it.

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

namespace {

TEST(Data, EveryIconIsCompiledInAndDrawable) {
  const std::vector<std::string> names = {"com.larkspan.Irvelo-idle-symbolic",
                                          "com.larkspan.Irvelo-tracking-symbolic",
                                          "com.larkspan.Irvelo-signedout-symbolic",
                                          "iv-power-symbolic",
                                          "iv-more-symbolic",
                                          "iv-dollar-symbolic",
                                          "iv-open-external-symbolic",
                                          "iv-checklist-symbolic",
                                          "iv-folder-symbolic"};
  for (const auto& name : names) {
    SCOPED_TRACE(name);
    const std::string path = "/com/larkspan/Irvelo/icons/scalable/actions/" + name + ".svg";
    GError* error = nullptr;
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_resource(path.c_str(), &error);
    ASSERT_NE(pixbuf, nullptr) << (error ? error->message : "");
    EXPECT_EQ(gdk_pixbuf_get_width(pixbuf), 16);
    EXPECT_EQ(gdk_pixbuf_get_height(pixbuf), 16);
    g_object_unref(pixbuf);
  }
  // Found through the icon theme as the application's windows find them, and
  // symbolic: GTK then draws them in the theme's foreground colour (an icon
  // outside a theme directory is drawn in its own near-black, even on a dark
  // theme).
  gtk_init();
  GtkIconTheme* theme = gtk_icon_theme_get_for_display(gdk_display_get_default());
  gtk_icon_theme_add_resource_path(theme, "/com/larkspan/Irvelo/icons");
  for (const auto& name : names) {
    GtkIconPaintable* icon =
        gtk_icon_theme_lookup_icon(theme, name.c_str(), nullptr, 16, 1, GTK_TEXT_DIR_LTR, GtkIconLookupFlags{});
    ASSERT_NE(icon, nullptr) << name;
    EXPECT_TRUE(gtk_icon_paintable_is_symbolic(icon)) << name;
    g_object_unref(icon);
  }
  // The tray icons are also on disk, where a tray host can be pointed at them.
  for (const auto& name : {names[0], names[1], names[2]}) {
    EXPECT_TRUE(g_file_test((std::string(IRVELO_DATA_DIR) + "/icons/" + name + ".svg").c_str(), G_FILE_TEST_EXISTS))
        << name;
  }
}

TEST(Data, DesktopEntryHandlesTheCallbackScheme) {
  GKeyFile* file = g_key_file_new();
  ASSERT_TRUE(
      g_key_file_load_from_file(file, IRVELO_DATA_DIR "/com.larkspan.Irvelo.desktop", G_KEY_FILE_NONE, nullptr));
  gsize count = 0;
  gchar** types = g_key_file_get_string_list(file, "Desktop Entry", "MimeType", &count, nullptr);
  ASSERT_NE(types, nullptr);
  EXPECT_TRUE(g_strv_contains(types, "x-scheme-handler/irvelo"));
  g_strfreev(types);
  gchar* exec = g_key_file_get_string(file, "Desktop Entry", "Exec", nullptr);
  EXPECT_STREQ(exec, "irvelo-desktop %u");
  g_free(exec);
  g_key_file_free(file);
}

}  // namespace
