#include "ui/settings_window.hpp"

#include <glib.h>
#include <glib/gi18n-lib.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/stringlist.h>

#include <vector>

#include "config.hpp"
#include "core/owned.hpp"
#include "core/tracker_store.hpp"
#include "storage/autostart.hpp"
#include "storage/settings.hpp"
#include "ui/accessible.hpp"
#include "ui/escape_closes.hpp"

namespace irvelo::ui {

namespace {

// The host part of the server address, or the whole text when it has none.
std::string server_host(const std::string& server) {
  ErrorPtr error;
  const UriPtr uri(g_uri_parse(server.c_str(), G_URI_FLAGS_NONE, out(error)));
  if (!uri) {
    g_info("server address shown whole: %s", error != nullptr ? error->message : "unknown error");
    return server;
  }
  const char* host = g_uri_get_host(uri.get());
  return host && *host ? std::string(host) : server;
}

}  // namespace

SettingsWindow::SettingsWindow(TrackerStore& store_in, Settings& settings_in) : store(store_in), settings(settings_in) {
  set_title(_("Irvelo Settings"));
  set_default_size(440, -1);
  set_resizable(false);
  set_hide_on_close(true);
  content.set_margin(18);
  set_child(content);

  Gtk::ListBox* general = nullptr;
  group(_("General"), general);
  autostart_switch.set_active(autostart::enabled());
  autostart_switch.property_active().signal_changed().connect(
      sigc::mem_fun(*this, &SettingsWindow::on_autostart_toggled));
  set_accessible_name(autostart_switch, _("Open at login"));
  row(*general, _("Open at login"), autostart_switch);
  error_label.add_css_class("settings-error");
  error_label.set_wrap(true);
  error_label.set_xalign(0);
  error_label.set_visible(false);
  auto* error_row = lone_row(*general, error_label);
  error_row->set_visible(false);
  error_label.property_visible().signal_changed().connect(
      [this, error_row] { error_row->set_visible(error_label.get_visible()); });
  tray_switch.set_active(settings.tray_shows_time);
  tray_switch.property_active().signal_changed().connect(sigc::mem_fun(*this, &SettingsWindow::on_tray_toggled));
  set_accessible_name(tray_switch, _("Show elapsed time in the system tray"));
  row(*general, _("Show elapsed time in the system tray"), tray_switch);

  group(_("Account"), account_list);
  user_label.set_selectable(true);
  user_row = row(*account_list, _("Signed in as"), user_label);
  server_row = row(*account_list, _("Server"), server_label);
  workspace_dropdown.property_selected().signal_changed().connect(
      sigc::mem_fun(*this, &SettingsWindow::on_workspace_selected));
  set_accessible_name(workspace_dropdown, _("Workspace"));
  workspace_box.append(workspace_dropdown);
  workspace_box.append(workspace_name_label);
  workspace_row = row(*account_list, _("Workspace"), workspace_box);
  sign_out_button.set_label(_("Sign Out"));
  set_accessible_name(sign_out_button, _("Sign Out"));
  sign_out_button.signal_clicked().connect([this] { store.sign_out(); });
  sign_out_row = row(*account_list, "", sign_out_button);
  signed_out_hint.set_text(_("Not signed in. Open the panel from the system tray to sign in."));
  signed_out_hint.set_wrap(true);
  signed_out_hint.set_xalign(0);
  signed_out_hint.add_css_class("caption");
  hint_row = lone_row(*account_list, signed_out_hint);

  Gtk::ListBox* about = nullptr;
  group("", about);
  auto* version = Gtk::make_managed<Gtk::Label>(config::kVersion);
  version->add_css_class("caption");
  row(*about, _("Version"), *version);

  // Escape closes (hides) the window, as it does the panel.
  close_on_escape(*this);

  sync();
}

SettingsWindow::~SettingsWindow() = default;

void SettingsWindow::group(const Glib::ustring& title, Gtk::ListBox*& list) {
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
  if (!title.empty()) {
    auto* label = Gtk::make_managed<Gtk::Label>(title);
    label->set_halign(Gtk::Align::START);
    label->add_css_class("settings-title");
    box->append(*label);
  }
  list = Gtk::make_managed<Gtk::ListBox>();
  list->set_selection_mode(Gtk::SelectionMode::NONE);
  list->add_css_class("settings-group");
  box->append(*list);
  content.append(*box);
}

Gtk::ListBoxRow* SettingsWindow::row(Gtk::ListBox& list, const Glib::ustring& title, Gtk::Widget& widget) {
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  auto* label = Gtk::make_managed<Gtk::Label>(title);
  label->set_halign(Gtk::Align::START);
  label->set_hexpand(true);
  box->append(*label);
  widget.set_valign(Gtk::Align::CENTER);
  widget.set_halign(Gtk::Align::END);
  box->append(widget);
  auto* list_row = Gtk::make_managed<Gtk::ListBoxRow>();
  list_row->set_child(*box);
  list_row->set_activatable(false);
  // The row reads as its title; the sign-out row has none, its button says it.
  if (title.empty()) {
    set_labelled_by(*list_row, widget);
  } else {
    set_accessible_name(*list_row, title);
  }
  list.append(*list_row);
  return list_row;
}

Gtk::ListBoxRow* SettingsWindow::lone_row(Gtk::ListBox& list, Gtk::Widget& widget) {
  auto* list_row = Gtk::make_managed<Gtk::ListBoxRow>();
  list_row->set_child(widget);
  list_row->set_activatable(false);
  // Named by the label it holds, whose text changes.
  set_labelled_by(*list_row, widget);
  list.append(*list_row);
  return list_row;
}

void SettingsWindow::on_autostart_toggled() {
  if (updating) return;
  const bool wanted = autostart_switch.get_active();
  // The toolkit may deliver the notification of the flip-back below only
  // after `updating` is cleared; it then asks for what the entry already is,
  // and acting on it would wipe the error just shown.
  if (wanted == autostart::enabled()) return;
  const std::string err = autostart::set_enabled(wanted);
  error_label.set_text(err);
  error_label.set_visible(!err.empty());
  // A failed change flips the switch back to what the entry really says.
  updating = true;
  autostart_switch.set_active(autostart::enabled());
  updating = false;
}

void SettingsWindow::on_tray_toggled() {
  settings.tray_shows_time = tray_switch.get_active();
  settings.save();
  signal_settings_changed_.emit();
}

void SettingsWindow::on_workspace_selected() {
  if (updating) return;
  const auto workspaces = store.workspaces();
  const guint index = workspace_dropdown.get_selected();
  if (index < workspaces.size()) store.select_workspace(workspaces[index].workspace_id);
}

void SettingsWindow::sync() {
  updating = true;
  const bool signed_in = store.me.has_value();
  user_row->set_visible(signed_in);
  server_row->set_visible(signed_in);
  workspace_row->set_visible(signed_in);
  sign_out_row->set_visible(signed_in);
  hint_row->set_visible(!signed_in);

  if (signed_in) {
    user_label.set_text(store.me->user.email);
    server_label.set_text(server_host(store.server));

    const auto workspaces = store.workspaces();
    std::string key;
    for (const auto& m : workspaces) key += m.workspace_id + '\x1f' + m.name + "|";
    if (key != workspace_key) {
      workspace_key = std::move(key);
      std::vector<Glib::ustring> names;
      for (const auto& m : workspaces) names.emplace_back(m.name);
      workspace_dropdown.set_model(Gtk::StringList::create(names));
    }
    workspace_dropdown.set_visible(workspaces.size() >= 2);
    workspace_name_label.set_visible(workspaces.size() <= 1);
    if (const auto current = store.current_workspace()) workspace_name_label.set_text(current->name);
    for (std::size_t i = 0; i < workspaces.size(); ++i) {
      if (workspaces[i].workspace_id == store.workspace_id) workspace_dropdown.set_selected(static_cast<guint>(i));
    }
  }
  updating = false;
}

}  // namespace irvelo::ui
