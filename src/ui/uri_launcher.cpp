#include "ui/uri_launcher.hpp"

#include <gtk/gtk.h>

#include <memory>
#include <utility>
#include <vector>

#include "core/owned.hpp"

namespace irvelo::ui {
namespace {

std::vector<std::string>& kept_variables() {
  static std::vector<std::string> variables;
  return variables;
}

}  // namespace

void keep_from_launched(const char* variable) {
  kept_variables().emplace_back(variable);
}

void launch_uri(Gtk::Window* parent, const std::string& uri, std::function<void(bool)> done) {
  if (uri.empty()) return;
  GdkDisplay* display =
      parent != nullptr ? gtk_widget_get_display(GTK_WIDGET(parent->gobj())) : gdk_display_get_default();
  // The display's context brings startup notification and the display itself;
  // the child's environment is set here rather than in this process.
  ObjectPtr<GAppLaunchContext> context(display != nullptr
                                           ? G_APP_LAUNCH_CONTEXT(gdk_display_get_app_launch_context(display))
                                           : g_app_launch_context_new());
  for (const auto& variable : kept_variables()) g_app_launch_context_unsetenv(context.get(), variable.c_str());
  auto* heard = new std::function<void(bool)>(std::move(done));
  g_app_info_launch_default_for_uri_async(
      uri.c_str(), context.get(), nullptr,
      +[](GObject*, GAsyncResult* result, gpointer data) {
        const std::unique_ptr<std::function<void(bool)>> heard(static_cast<std::function<void(bool)>*>(data));
        ErrorPtr error;
        const bool opened = g_app_info_launch_default_for_uri_finish(result, out(error)) != FALSE;
        if (!opened) g_debug("no browser opened the address: %s", error ? error->message : "unknown error");
        if (*heard) (*heard)(opened);
      },
      heard);
}

}  // namespace irvelo::ui
