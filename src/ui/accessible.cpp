#include "ui/accessible.hpp"

#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/menubutton.h>

namespace irvelo::ui {

void set_accessible_name(Gtk::Widget& widget, const Glib::ustring& name) {
  Glib::Value<Glib::ustring> value;
  value.init(Glib::Value<Glib::ustring>::value_type());
  value.set(name);
  widget.update_property(Gtk::Accessible::Property::LABEL, value);
  if (dynamic_cast<Gtk::DropDown*>(&widget)) {
    for (auto* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
      if (child->get_focusable() || dynamic_cast<Gtk::Button*>(child)) set_accessible_name(*child, name);
    }
  }
}

void set_labelled_by(Gtk::Widget& widget, Gtk::Widget& label) {
  gtk_accessible_update_relation(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_RELATION_LABELLED_BY, label.gobj(),
                                 nullptr, -1);
}

void set_icon_and_name(Gtk::Widget& button, const Glib::ustring& icon_name, const Glib::ustring& text) {
  if (auto* b = dynamic_cast<Gtk::Button*>(&button)) b->set_icon_name(icon_name);
  if (auto* m = dynamic_cast<Gtk::MenuButton*>(&button)) m->set_icon_name(icon_name);
  button.set_tooltip_text(text);
  set_accessible_name(button, text);
}

Glib::ustring menu_text(const Glib::ustring& text) {
  Glib::ustring out;
  for (const auto c : text) {
    out += c;
    if (c == '_') out += c;
  }
  return out;
}

}  // namespace irvelo::ui
