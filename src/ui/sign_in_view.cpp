#include "ui/sign_in_view.hpp"

#include <glib/gi18n-lib.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/separator.h>
#include <sigc++/adaptors/track_obj.h>

#include <functional>

#include "api/defaults.hpp"
#include "core/tracker_store.hpp"
#include "ui/accessible.hpp"
#include "ui/style.hpp"

namespace irvelo::ui {

namespace {

// The application id followed by "-tracking-symbolic", from the icon bundle.
constexpr const char* kBadgeIcon = "com.larkspan.Irvelo-tracking-symbolic";

}  // namespace

SignInView::SignInView(TrackerStore& store_in)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 14),
      store(store_in),
      browser_button(_("Sign In with Browser")),
      cancel_button(_("Cancel")),
      expander(_("Use an API key instead")),
      connect_button(_("Connect")) {
  add_css_class("panel");
  set_margin(2);

  // Header: badge, product name, one line of explanation.
  auto* header = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
  header->set_margin_top(6);
  auto* badge = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
  badge->add_css_class("sign-in-badge");
  badge->set_halign(Gtk::Align::CENTER);
  auto* badge_image = Gtk::make_managed<Gtk::Image>();
  badge_image->set_from_icon_name(kBadgeIcon);
  badge_image->set_pixel_size(30);
  badge_image->set_hexpand(true);
  badge_image->set_vexpand(true);
  badge->append(*badge_image);
  header->append(*badge);
  auto* title = Gtk::make_managed<Gtk::Label>("Irvelo");  // the product name stays untranslated
  title->add_css_class("sign-in-title");
  header->append(*title);
  auto* blurb = Gtk::make_managed<Gtk::Label>(_("Start and stop your timer from the system tray."));
  blurb->add_css_class("caption");
  blurb->set_wrap(true);
  blurb->set_justify(Gtk::Justification::CENTER);
  header->append(*blurb);
  append(*header);

  // Server address.
  auto* server_box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
  server_box->append(*caption(_("Server"), "caption"));
  set_accessible_name(server_entry, _("Server"));
  server_entry.set_placeholder_text(std::string(kDefaultServerUrl));
  server_entry.set_text(store.server);
  server_entry.set_input_purpose(Gtk::InputPurpose::URL);
  server_box->append(server_entry);
  append(*server_box);

  set_accessible_name(browser_button, _("Sign In with Browser"));
  set_accessible_name(cancel_button, _("Cancel"));
  set_accessible_name(expander, _("Use an API key instead"));
  set_accessible_name(connect_button, _("Connect"));
  browser_button.add_css_class("suggested-action");
  browser_button.add_css_class("pill");
  append(browser_button);
  cancel_button.add_css_class("flat");
  append(cancel_button);

  // The API key route, collapsed by default.
  auto* key_box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
  key_box->set_margin_top(6);
  key_entry.set_show_peek_icon(true);
  key_entry.property_placeholder_text() = "iv_\u2026";
  set_accessible_name(key_entry, _("API key"));
  key_box->append(key_entry);
  auto* key_row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  auto* hint = caption(_("Create one in Profile \u2192 API keys."), "caption");
  hint->set_hexpand(true);
  hint->set_wrap(true);
  key_row->append(*hint);
  key_row->append(connect_button);
  key_box->append(*key_row);
  expander.set_child(*key_box);
  expander.set_expanded(false);
  append(expander);

  spinner.set_halign(Gtk::Align::CENTER);
  append(spinner);
  append(banner);
  append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::HORIZONTAL));

  auto* footer = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
  footer->set_halign(Gtk::Align::END);
  auto* quit = Gtk::make_managed<Gtk::Button>();
  set_labelled_content(*quit, "iv-power-symbolic", _("Quit"));
  footer->append(*quit);
  append(*footer);

  browser_button.signal_clicked().connect(sigc::mem_fun(*this, &SignInView::sign_in_with_browser));
  // Enter in the address does what the main button does.
  server_entry.signal_activate().connect(sigc::mem_fun(*this, &SignInView::sign_in_with_browser));
  cancel_button.signal_clicked().connect([this] { store.cancel_browser_sign_in(); });
  key_entry.signal_changed().connect(sigc::mem_fun(*this, &SignInView::sync));
  // gtkmm 4.8 does not wrap the password entry's "activate" signal. The entry
  // is a member of this view, so the handler cannot outlive it.
  g_signal_connect_swapped(key_entry.gobj(), "activate",
                           G_CALLBACK(+[](SignInView* self) { self->connect_with_key(); }), this);
  connect_button.signal_clicked().connect(sigc::mem_fun(*this, &SignInView::connect_with_key));
  banner.signal_dismiss().connect([this] { store.dismiss_error(); });
  quit->signal_clicked().connect([this] { signal_quit_.emit(); });
  // The panel stops syncing this view once a sign-in has succeeded (it
  // switches to its loading page, which unmaps the view), so sync alone would
  // leave a used key in the hidden entry until after the next sign-out.
  // Focus starts on the main button: an entry focused from the keyboard
  // selects its text, and the first keystroke would replace the address.
  signal_map().connect([this] {
    if (browser_button.is_sensitive()) browser_button.grab_focus();
  });
  signal_unmap().connect([this] {
    if (!store.api_key.empty()) key_entry.set_text("");
  });

  sync();
}

void SignInView::sign_in_with_browser() {
  if (store.busy) return;
  // The store calls this from a network answer; tracking it to the view
  // makes it a no-op should the view be gone by then.
  sigc::slot<void(const std::string&)> open =
      sigc::track_object([this](const std::string& url) { signal_open_url_.emit(url); }, *this);
  store.sign_in_with_browser(server_entry.get_text(), [open](const std::string& url) { open(url); });
}

void SignInView::connect_with_key() {
  const std::string key = key_entry.get_text();
  if (key.empty() || store.busy) return;
  // Trimming and checking both texts is the store's work.
  store.sign_in(server_entry.get_text(), key);
}

void SignInView::sync() {
  // First, so the change handler's nested sync sees the final entry text.
  if (!store.api_key.empty() && !key_entry.get_text().empty()) key_entry.set_text("");

  const bool busy = store.busy;
  browser_button.set_sensitive(!busy);
  cancel_button.set_visible(store.pending != nullptr);
  connect_button.set_sensitive(!busy && !key_entry.get_text().empty());
  spinner.set_visible(busy);
  spinner.set_spinning(busy);
  banner.set_message(store.error.value_or(std::string()));
}

}  // namespace irvelo::ui
