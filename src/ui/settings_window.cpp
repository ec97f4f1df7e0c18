#include "ui/settings_window.hpp"

#include <glib.h>
#include <glib/gi18n-lib.h>
#include <glibmm/convert.h>
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/stringlist.h>

#include <vector>

#include "config.hpp"
#include "core/owned.hpp"
#include "core/tracker_store.hpp"
#include "core/work_hours.hpp"
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

bool valid_hours(const std::string& text) {
  return parse_work_hours(text).has_value();
}

bool valid_days(const std::string& text) {
  return parse_work_days(text).has_value();
}

}  // namespace

SettingsWindow::SettingsWindow(TrackerStore& store_in, Settings& settings_in) : store(store_in), settings(settings_in) {
  set_title(_("Irvelo Settings"));
  set_default_size(440, -1);
  set_resizable(false);
  set_hide_on_close(true);
  content.set_margin(18);
  // Taller than a small screen now: the groups scroll rather than run off it.
  scroller.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroller.set_propagate_natural_height(true);
  scroller.set_max_content_height(640);
  scroller.set_child(content);
  set_child(scroller);

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

  build_away();
  build_reminders();

  group(_("Account"), account_list);
  user_label.set_selectable(true);
  user_row = row(*account_list, _("Signed in as"), user_label);
  server_row = row(*account_list, _("Server"), server_label);
  key_place_label.set_wrap(true);
  key_place_label.set_selectable(true);
  key_place_label.set_xalign(1);
  key_place_row = row(*account_list, _("API key"), key_place_label);
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
  settings_changed();
}

void SettingsWindow::build_away() {
  Gtk::ListBox* away = nullptr;
  group(_("When away"), away);
  switch_row(*away, lock_switch, settings.stop_on_lock, _("Stop the timer when the screen locks"));
  switch_row(*away, sleep_switch, settings.stop_on_sleep, _("Stop the timer before the computer sleeps"));
  number_row(*away, idle_minutes, settings.idle_stop_minutes, Settings::kMaxIdleStopMinutes,
             _("Stop after minutes without input (0 is off)"));
  idle_source.add_css_class("caption");
  idle_source.set_xalign(0);
  idle_source.set_wrap(true);
  // Shown once it is known where idle time comes from.
  idle_source_row = lone_row(*away, idle_source);
  idle_source_row->set_visible(false);
}

void SettingsWindow::build_reminders() {
  Gtk::ListBox* reminders = nullptr;
  group(_("Reminders"), reminders);
  number_row(*reminders, long_hours, settings.long_timer_hours, Settings::kMaxLongTimerHours,
             _("Remind when a timer has run this many hours (0 is off)"));
  switch_row(*reminders, remind_switch, settings.remind_to_track, _("Remind to track in working hours"));
  text_row(*reminders, work_hours, settings.work_hours, valid_hours, _("Working hours"));
  text_row(*reminders, work_days, settings.work_days, valid_days, _("Working days (1 is Monday)"));
}

void SettingsWindow::switch_row(Gtk::ListBox& list, Gtk::Switch& control, bool& value, const Glib::ustring& title) {
  control.set_active(value);
  control.property_active().signal_changed().connect([this, &control, &value] {
    value = control.get_active();
    settings_changed();
  });
  set_accessible_name(control, title);
  row(list, title, control);
}

void SettingsWindow::text_row(Gtk::ListBox& list, Gtk::Entry& entry, std::string& value,
                              bool (*valid)(const std::string&), const Glib::ustring& title) {
  entry.set_text(value);
  entry.set_width_chars(11);
  entry.signal_activate().connect([this, &entry, &value, valid] { commit_text(entry, value, valid); });
  auto focus = Gtk::EventControllerFocus::create();
  focus->signal_leave().connect([this, &entry, &value, valid] { commit_text(entry, value, valid); });
  entry.add_controller(focus);
  set_accessible_name(entry, title);
  row(list, title, entry);
}

void SettingsWindow::number_row(Gtk::ListBox& list, Gtk::SpinButton& spin, int& value, int high,
                                const Glib::ustring& title) {
  spin.set_range(0, high);
  spin.set_increments(1, 10);
  spin.set_digits(0);
  spin.set_numeric(true);
  spin.set_value(value);
  spin.signal_value_changed().connect([this, &spin, &value] {
    value = spin.get_value_as_int();
    settings_changed();
  });
  set_accessible_name(spin, title);
  row(list, title, spin);
}

void SettingsWindow::commit_text(Gtk::Entry& entry, std::string& value, bool (*valid)(const std::string&)) {
  const std::string typed = entry.get_text();
  if (!valid(typed)) {
    entry.add_css_class("error");
    return;
  }
  entry.remove_css_class("error");
  if (typed == value) return;
  value = typed;
  settings_changed();
}

void SettingsWindow::settings_changed() {
  settings.save();
  signal_settings_changed_.emit();
}

void SettingsWindow::set_idle_source(const Glib::ustring& line) {
  idle_source.set_text(line);
  idle_source_row->set_visible(!line.empty());
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
  key_place_row->set_visible(signed_in);
  workspace_row->set_visible(signed_in);
  sign_out_row->set_visible(signed_in);
  hint_row->set_visible(!signed_in);

  if (signed_in) {
    user_label.set_text(store.me->user.email);
    server_label.set_text(server_host(store.server));
    switch (store.key_place) {
      case KeyPlace::Keyring:
        key_place_label.set_text(_("Kept in the keyring"));
        break;
      case KeyPlace::PrivateFile:
        // TRANSLATORS: %1 is the file's path; no keyring answered.
        key_place_label.set_text(Glib::ustring::compose(_("Kept in a private file, %1"),
                                                        Glib::filename_display_name(Credentials::fallback_path())));
        break;
      case KeyPlace::Nowhere:
        key_place_label.set_text(store.persist ? _("Not kept: sign in again after a restart")
                                               : _("Taken from IRVELO_API_KEY, not kept"));
        break;
    }

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
