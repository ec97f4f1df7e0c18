#include "ui/tray_menu.hpp"

#include <glib/gi18n-lib.h>
#include <libdbusmenu-glib/client.h>
#include <libdbusmenu-glib/menuitem.h>

#include <string>

namespace irvelo::ui {
namespace {

// Long descriptions would widen the host's menu past the screen.
constexpr glong kLabelChars = 40;

struct Choice {
  TrayMenu* menu;
  TrayMenu::Item item;
};

void activated(DbusmenuMenuitem*, guint, gpointer data) {
  auto* choice = static_cast<Choice*>(data);
  choice->menu->choose(choice->item);
}

// A label shows an underscore as a mnemonic marker unless it is doubled.
std::string menu_text(const std::string& text) {
  const CharPtr valid(g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size())));
  std::string shown = valid.get();
  if (g_utf8_strlen(shown.c_str(), -1) > kLabelChars) {
    const char* end = g_utf8_offset_to_pointer(shown.c_str(), kLabelChars - 1);
    shown = std::string(shown.c_str(), end) + "…";
  }
  std::string escaped;
  for (const char c : shown) {
    escaped += c;
    if (c == '_') escaped += '_';
  }
  return escaped;
}

}  // namespace

TrayMenu::TrayMenu() : server_(dbusmenu_server_new(kObjectPath)), root_(dbusmenu_menuitem_new()) {
  const auto add = [this](Item item) {
    DbusmenuMenuitem* entry = dbusmenu_menuitem_new();
    dbusmenu_menuitem_child_append(root_.get(), entry);
    g_object_unref(entry);  // the root holds it now
    items_[static_cast<size_t>(item)] = entry;
    g_signal_connect_data(
        entry, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, G_CALLBACK(activated), new Choice{this, item},
        [](gpointer data, GClosure*) { delete static_cast<Choice*>(data); }, GConnectFlags(0));
  };
  const auto separator = [this] {
    DbusmenuMenuitem* line = dbusmenu_menuitem_new();
    dbusmenu_menuitem_property_set(line, DBUSMENU_MENUITEM_PROP_TYPE, DBUSMENU_CLIENT_TYPES_SEPARATOR);
    dbusmenu_menuitem_child_append(root_.get(), line);
    g_object_unref(line);
  };
  add(Item::Panel);
  separator();
  add(Item::Timer);
  add(Item::Continue);
  separator();
  add(Item::Settings);
  add(Item::Quit);
  dbusmenu_menuitem_property_set(items_[static_cast<size_t>(Item::Settings)], DBUSMENU_MENUITEM_PROP_LABEL,
                                 _("_Settings…"));
  dbusmenu_menuitem_property_set(items_[static_cast<size_t>(Item::Quit)], DBUSMENU_MENUITEM_PROP_LABEL, _("_Quit"));
  update(state_);
  dbusmenu_server_set_root(server_.get(), root_.get());
}

TrayMenu::~TrayMenu() {
  // Handlers hold this object's address: none may run past its end.
  for (auto* item : items_)
    g_signal_handlers_disconnect_matched(item, G_SIGNAL_MATCH_FUNC, 0, 0, nullptr,
                                         reinterpret_cast<gpointer>(activated), nullptr);
}

void TrayMenu::update(const State& state) {
  if (shown_once_ && state == state_) return;
  shown_once_ = true;
  state_ = state;
  const auto set = [this](Item item, const std::string& label, bool enabled) {
    DbusmenuMenuitem* entry = items_[static_cast<size_t>(item)];
    const char* old = dbusmenu_menuitem_property_get(entry, DBUSMENU_MENUITEM_PROP_LABEL);
    if (old == nullptr || label != old) {
      dbusmenu_menuitem_property_set(entry, DBUSMENU_MENUITEM_PROP_LABEL, label.c_str());
    }
    if (dbusmenu_menuitem_property_get_bool(entry, DBUSMENU_MENUITEM_PROP_ENABLED) != enabled) {
      dbusmenu_menuitem_property_set_bool(entry, DBUSMENU_MENUITEM_PROP_ENABLED, enabled);
    }
  };
  set(Item::Panel, state.panel_shown ? _("_Hide Panel") : _("S_how Panel"), true);
  set(Item::Timer, state.running ? _("S_top Timer") : _("_Start Timer"), state.signed_in && !state.busy);
  std::string continue_label = _("_Continue Last Entry");
  if (!state.last_description.empty()) {
    // TRANSLATORS: %s is the description of the entry that continues.
    const CharPtr text(g_strdup_printf(_("_Continue “%s”"), menu_text(state.last_description).c_str()));
    continue_label = text.get();
  }
  set(Item::Continue, continue_label, state.signed_in && !state.busy && !state.running && state.has_last);
}

}  // namespace irvelo::ui
