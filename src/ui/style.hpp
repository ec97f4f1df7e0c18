#pragma once

// The application's one stylesheet, the timer card's tint and the small
// factories every view uses for captions, icons and button contents.

#include <gtkmm/box.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>

#include <optional>
#include <string>
#include <string_view>

namespace irvelo::ui {

// The stylesheet text loaded by install_css.
extern const std::string_view kStylesheet;

// Loads the stylesheet into the default display (application priority) and
// creates the tint provider one priority above it. Call once, before any
// window is built.
void install_css();

// The one-rule stylesheet that tints a tracking timer card in `color`
// (checked, #0ea5e9 when malformed); the empty text for an empty colour.
[[nodiscard]] std::string card_tint_rule(const std::string& color);

// Tints the timer card in a project colour; the empty text removes the tint.
// A no-op before install_css.
void set_card_tint(const std::string& color);

// `value` when it is exactly "#rrggbb", otherwise `fallback`.
[[nodiscard]] std::string safe_color(const std::string& value, const std::string& fallback);

// A managed label with x-alignment 0 and the given CSS class.
Gtk::Label* caption(const Glib::ustring& text, const Glib::ustring& css_class);

// A managed image of the named icon, with the CSS class when one is given.
Gtk::Image* icon(const Glib::ustring& name, const std::optional<Glib::ustring>& css_class = std::nullopt);

// A managed horizontal box (spacing 6): the icon, then a label with the text.
Gtk::Box* labelled_button_content(const Glib::ustring& icon_name, const Glib::ustring& text);

}  // namespace irvelo::ui
