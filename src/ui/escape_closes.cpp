#include "ui/escape_closes.hpp"

#include <gdk/gdkkeysyms.h>
#include <gtkmm/eventcontrollerkey.h>

namespace irvelo::ui {

void close_on_escape(Gtk::Window& window, Gtk::PropagationPhase phase) {
  auto keys = Gtk::EventControllerKey::create();
  keys->set_propagation_phase(phase);
  keys->signal_key_pressed().connect(
      [&window](guint keyval, guint, Gdk::ModifierType) {
        if (keyval != GDK_KEY_Escape) return false;
        window.close();
        return true;
      },
      false);
  window.add_controller(keys);
}

}  // namespace irvelo::ui
