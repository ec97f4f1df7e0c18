#pragma once

// Names for screen readers. This toolkit release names a control only from its
// own accessible label or a labelled-by relation: the text of a label inside
// a button, a tooltip or a placeholder does not count, and a control without a
// name announces its type name instead. Every control of the views is named
// through here, together with what it shows where it shows text.

#include <glibmm/ustring.h>
#include <gtkmm/widget.h>

#include "ui/style.hpp"

namespace irvelo::ui {

// Gives `widget` the accessible name `name`. A drop-down is announced through
// the toggle button inside it, which is named as well.
void set_accessible_name(Gtk::Widget& widget, const Glib::ustring& name);

// Names `widget` by whatever `label` shows or is named, also after it changes.
void set_labelled_by(Gtk::Widget& widget, Gtk::Widget& label);

// An icon-only button: the icon, and `text` as both its tooltip and its name.
void set_icon_and_name(Gtk::Widget& button, const Glib::ustring& icon_name, const Glib::ustring& text);

// Fills a button or check button with an icon and `text` beside it, and names
// it with the same text.
template <typename Control>
void set_labelled_content(Control& control, const Glib::ustring& icon_name, const Glib::ustring& text) {
  control.set_child(*labelled_button_content(icon_name, text));
  set_accessible_name(control, text);
}

// Escapes a text for a menu model, which reads "_" as a mnemonic marker: a
// workspace called "R_D" is shown as "R_D", not "RD" with an underlined D.
[[nodiscard]] Glib::ustring menu_text(const Glib::ustring& text);

}  // namespace irvelo::ui
