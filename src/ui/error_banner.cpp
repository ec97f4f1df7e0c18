#include "ui/error_banner.hpp"

#include <glib/gi18n-lib.h>

#include "ui/accessible.hpp"

namespace irvelo::ui {

ErrorBanner::ErrorBanner() {
  box.add_css_class("error-banner");

  image.set_from_icon_name("dialog-warning-symbolic");
  image.add_css_class("warning");
  image.set_valign(Gtk::Align::START);

  label.set_wrap(true);
  label.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  label.set_xalign(0);
  label.set_hexpand(true);
  label.set_selectable(true);
  label.set_max_width_chars(36);

  button.add_css_class("flat");
  button.add_css_class("circular");
  button.set_valign(Gtk::Align::START);
  set_icon_and_name(button, "window-close-symbolic", _("Dismiss"));
  button.signal_clicked().connect([this] { signal_dismiss_.emit(); });

  box.append(image);
  box.append(label);
  box.append(button);
  set_child(box);

  set_transition_type(Gtk::RevealerTransitionType::SLIDE_DOWN);
  set_transition_duration(200);
  set_reveal_child(false);
}

void ErrorBanner::set_message(const std::string& message) {
  if (!message.empty()) label.set_text(message);
  set_reveal_child(!message.empty());
}

}  // namespace irvelo::ui
