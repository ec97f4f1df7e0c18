#include "ui/style.hpp"

#include <gdkmm/display.h>
#include <gtkmm/cssprovider.h>
#include <gtkmm/stylecontext.h>

#include <glib.h>

namespace irvelo::ui {

const std::string_view kStylesheet = R"css(
.panel { padding: 14px; }
.timer-card {
  border-radius: 20px;
  padding: 14px;
  background-color: alpha(currentColor, 0.05);
  border: 1px solid alpha(currentColor, 0.08);
}
.clock-big { font-size: 34px; font-weight: 300; font-feature-settings: "tnum"; }
.clock-big.idle { opacity: 0.55; }
.caption { font-size: 0.85em; opacity: 0.65; }
.away-notice { font-size: 0.9em; }
.caption-strong { font-size: 0.85em; font-weight: 700; opacity: 0.65; }
entry.description-field {
  border-radius: 9px;
  border: none;
  box-shadow: none;
  outline: none;
  background-color: alpha(currentColor, 0.07);
  min-height: 32px;
  padding: 0 10px;
}
entry.description-field:focus-within { box-shadow: inset 0 0 0 2px alpha(#3584e4, 0.6); }
.field-icon { opacity: 0.6; min-width: 18px; }
button.picker { padding: 4px 8px; }
.total-value { font-weight: 500; font-feature-settings: "tnum"; }
.duration { font-feature-settings: "tnum"; }
button.recent-row { padding: 5px 6px; border-radius: 8px; min-height: 0; }
button.recent-row:hover { background-color: alpha(currentColor, 0.07); }
.recent-row .play { opacity: 0; }
.recent-row:hover .play { opacity: 0.7; }
.error-banner {
  border-radius: 12px;
  padding: 10px;
  background-color: alpha(#f59e0b, 0.15);
}
.error-banner .warning { color: #f59e0b; }
.sign-in-badge {
  min-width: 56px;
  min-height: 56px;
  border-radius: 999px;
  background-color: alpha(#3584e4, 0.14);
  color: #3584e4;
}
.sign-in-title { font-size: 1.25em; font-weight: 600; }
button.circular-menu { min-width: 28px; min-height: 28px; padding: 0; border-radius: 999px; }
.picker-section { font-size: 0.8em; font-weight: 700; opacity: 0.55; padding: 8px 10px 2px 10px; }
.picker-list row { padding: 4px 8px; border-radius: 6px; }
.settings-title { font-weight: 700; padding: 0 4px 6px 4px; }
.settings-group {
  border-radius: 10px;
  border: 1px solid alpha(currentColor, 0.12);
  background-color: alpha(currentColor, 0.03);
}
.settings-group > row { padding: 9px 12px; }
.settings-group > row:not(:last-child) { border-bottom: 1px solid alpha(currentColor, 0.08); }
.settings-error { color: #e01b24; font-size: 0.85em; }
)css";

namespace {

// Lives for the whole process, like the display it is attached to.
Glib::RefPtr<Gtk::CssProvider>& tint_provider() {
  static Glib::RefPtr<Gtk::CssProvider> provider;
  return provider;
}

// The stylesheet is a constant of ours: a parse error is a defect worth seeing.
void warn_on_parse_errors(const Glib::RefPtr<Gtk::CssProvider>& provider) {
  provider->signal_parsing_error().connect(
      [](const Glib::RefPtr<const Gtk::CssSection>& section, const Glib::Error& error) {
        const unsigned long line = section ? section->get_start_location().get_lines() + 1 : 0;
        g_warning("stylesheet error at line %lu: %s", line, error.what());
      });
}

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

void install_css() {
  auto display = Gdk::Display::get_default();
  if (!display) {
    g_warning("no display to install the stylesheet on");
    return;
  }
  auto provider = Gtk::CssProvider::create();
  warn_on_parse_errors(provider);
  provider->load_from_data(std::string(kStylesheet));
  Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);

  // One above the stylesheet, so the tint wins over the card's own background and border.
  auto tint = Gtk::CssProvider::create();
  warn_on_parse_errors(tint);
  Gtk::StyleContext::add_provider_for_display(display, tint, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 1);
  tint_provider() = tint;
}

std::string card_tint_rule(const std::string& color) {
  if (color.empty()) return {};
  // Only a checked #rrggbb reaches the CSS parser.
  const std::string c = safe_color(color, "#0ea5e9");
  return ".timer-card.tracking { background-color: alpha(" + c + ", 0.22); border-color: alpha(" + c + ", 0.35); }";
}

void set_card_tint(const std::string& color) {
  auto& tint = tint_provider();
  if (!tint) return;
  tint->load_from_data(card_tint_rule(color));
}

std::string safe_color(const std::string& value, const std::string& fallback) {
  if (value.size() != 7 || value[0] != '#') return fallback;
  for (std::size_t i = 1; i < value.size(); ++i) {
    if (!is_hex_digit(value[i])) return fallback;
  }
  return value;
}

Gtk::Label* caption(const Glib::ustring& text, const Glib::ustring& css_class) {
  auto* label = Gtk::make_managed<Gtk::Label>(text);
  label->set_xalign(0);
  label->add_css_class(css_class);
  return label;
}

Gtk::Image* icon(const Glib::ustring& name, const std::optional<Glib::ustring>& css_class) {
  auto* image = Gtk::make_managed<Gtk::Image>();
  image->set_from_icon_name(name);
  if (css_class) image->add_css_class(*css_class);
  return image;
}

Gtk::Box* labelled_button_content(const Glib::ustring& icon_name, const Glib::ustring& text) {
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  box->append(*icon(icon_name));
  box->append(*Gtk::make_managed<Gtk::Label>(text));
  return box;
}

}  // namespace irvelo::ui
