#include "ui/panel_window.hpp"

#include <giomm/menu.h>
#include <giomm/menuitem.h>
#include <glib/gi18n-lib.h>
#include <gtkmm/eventcontrollerkey.h>

#include "config.hpp"
#include "core/tracker_store.hpp"
#include "ui/accessible.hpp"
#include "ui/escape_closes.hpp"
#include "ui/uri_launcher.hpp"

namespace irvelo::ui {

PanelWindow::PanelWindow(TrackerStore& store_in)
    : store(store_in), title_label("Irvelo"), sign_in_view(store_in), tracker_view(store_in) {
  set_title("Irvelo");
  set_icon_name(config::kApplicationId);
  set_default_size(340, -1);
  set_resizable(false);

  // Header: workspace and user at the start, the product name while there is
  // no workspace to show, busy spinner and "More" menu at the end.
  left_box.set_valign(Gtk::Align::CENTER);
  workspace_label.add_css_class("heading");
  workspace_label.set_xalign(0);
  workspace_label.set_ellipsize(Pango::EllipsizeMode::END);
  workspace_label.set_max_width_chars(24);
  user_label.add_css_class("caption");
  user_label.set_xalign(0);
  user_label.set_ellipsize(Pango::EllipsizeMode::END);
  user_label.set_max_width_chars(28);
  left_box.append(workspace_label);
  left_box.append(user_label);
  header.pack_start(left_box);
  title_label.add_css_class("heading");
  header.set_title_widget(title_label);
  set_icon_and_name(more_button, "iv-more-symbolic", _("More"));
  more_button.add_css_class("circular-menu");
  // The stylesheet styles the button node; a menu button draws its frame on
  // the toggle button inside it, so that one carries the class as well.
  if (auto* inner = more_button.get_first_child()) inner->add_css_class("circular-menu");
  header.pack_end(more_button);
  header.pack_end(header_spinner);
  header.set_decoration_layout(":close");
  set_titlebar(header);

  // The stack takes the height of the page shown.
  stack.add(sign_in_view, "signed-out");
  loading_page.set_size_request(340, 220);
  loading_spinner.set_size_request(24, 24);
  loading_spinner.set_halign(Gtk::Align::CENTER);
  // The spinner, or what the keyring said, in the middle of the page.
  loading_content.set_valign(Gtk::Align::CENTER);
  loading_content.set_vexpand(true);
  loading_content.append(loading_spinner);
  // While the stored key is read: the keyring may be asking for its password.
  loading_label.set_wrap(true);
  loading_label.set_justify(Gtk::Justification::CENTER);
  loading_label.set_margin_start(24);
  loading_label.set_margin_end(24);
  loading_content.append(loading_label);
  keyring_retry.set_label(_("Try Again"));
  keyring_retry.set_halign(Gtk::Align::CENTER);
  keyring_retry.signal_clicked().connect([this] { store.read_stored_key(); });
  loading_content.append(keyring_retry);
  loading_page.append(loading_content);
  stack.add(loading_page, "loading");
  stack.add(tracker_view, "ready");
  stack.set_hhomogeneous(false);
  stack.set_vhomogeneous(false);
  stack.set_interpolate_size(true);
  stack.set_transition_type(Gtk::StackTransitionType::CROSSFADE);
  stack.set_size_request(340, -1);
  set_child(stack);

  add_action("refresh", [this] { store.refresh_all(); });
  add_action("open-browser", [this] { open_url(store.web_app_url()); });
  add_action("settings", [this] { signal_settings_.emit(); });
  add_action("sign-out", [this] { store.sign_out(); });
  workspace_action = add_action_radio_string(
      "workspace",
      [this](const Glib::ustring& id) {
        // Marked at once, before the store has switched.
        workspace_action->change_state(Glib::Variant<Glib::ustring>::create(id));
        store.select_workspace(id);
      },
      store.workspace_id);

  sign_in_view.signal_open_url().connect([this](const std::string& url) { open_url(url); });
  sign_in_view.signal_quit().connect([this] { signal_quit_.emit(); });
  tracker_view.signal_open_browser().connect([this] { open_url(store.web_app_url()); });

  // Escape closes the panel from any page, before a focused widget sees it.
  close_on_escape(*this, Gtk::PropagationPhase::CAPTURE);

  signal_show().connect([this] { store.refresh_all(); });

  sync();
}

void PanelWindow::sync() {
  const auto phase = store.phase;
  const bool ready = phase == TrackerStore::Phase::Ready;
  const bool loading = phase == TrackerStore::Phase::Loading;

  stack.set_visible_child(ready ? "ready" : loading ? "loading" : "signed-out");
  const bool locked = store.keyring == TrackerStore::Keyring::Locked;
  loading_spinner.set_visible(!locked);
  loading_spinner.set_spinning(loading && !locked);
  loading_label.set_visible(store.keyring != TrackerStore::Keyring::Idle);
  loading_label.set_text(locked ? _("The keyring is locked, so your API key cannot be read. Unlock it and try again.")
                                : _("Waiting for the keyring…"));
  keyring_retry.set_visible(locked);
  left_box.set_visible(ready);
  more_button.set_visible(ready);
  title_label.set_visible(!ready);

  if (ready) {
    header_spinner.set_visible(store.busy);
    header_spinner.set_spinning(store.busy);

    std::string workspace_name = "Irvelo";
    if (store.bootstrap) {
      workspace_name = store.bootstrap->workspace_name;
    } else if (const auto current = store.current_workspace()) {
      workspace_name = current->name;
    }
    workspace_label.set_text(workspace_name);
    user_label.set_text(store.me ? store.me->user.email : std::string());
    user_label.set_visible(store.me.has_value());

    rebuild_menu();
    workspace_action->change_state(Glib::Variant<Glib::ustring>::create(store.workspace_id));
    tracker_view.sync();
  } else {
    header_spinner.set_visible(false);
    header_spinner.set_spinning(false);
    if (phase == TrackerStore::Phase::SignedOut) sign_in_view.sync();
  }
}

void PanelWindow::focus_first_field() {
  if (store.phase == TrackerStore::Phase::Ready) tracker_view.focus_description();
}

void PanelWindow::sync_clock() {
  if (store.phase == TrackerStore::Phase::Ready) tracker_view.sync_clock();
}

void PanelWindow::open_url(const std::string& url) {
  launch_uri(this, url);
}

void PanelWindow::rebuild_menu() {
  const auto workspaces = store.workspaces();
  std::string key = store.api_key.empty() ? "out|" : "in|";
  for (const auto& m : workspaces) {
    key += m.workspace_id;
    key += '\x1f';
    key += m.name;
    key += '\x1e';
  }
  // An open menu is not replaced under the pointer while nothing in it changes.
  if (key == menu_key) return;
  menu_key = std::move(key);

  auto menu = Gio::Menu::create();
  if (workspaces.size() >= 2) {
    auto section = Gio::Menu::create();
    for (const auto& m : workspaces) {
      auto item = Gio::MenuItem::create(menu_text(m.name), "win.workspace");
      item->set_action_and_target("win.workspace", Glib::Variant<Glib::ustring>::create(m.workspace_id));
      section->append_item(item);
    }
    menu->append_section(_("Workspace"), section);
  }
  auto actions = Gio::Menu::create();
  actions->append(_("Refresh"), "win.refresh");
  actions->append(_("Open in Browser"), "win.open-browser");
  actions->append(_("Settings\u2026"), "win.settings");
  menu->append_section(actions);
  auto session = Gio::Menu::create();
  session->append(_("Sign Out"), "win.sign-out");
  session->append(_("Quit Irvelo"), "app.quit");
  menu->append_section(session);
  more_button.set_menu_model(menu);
}

}  // namespace irvelo::ui
