#pragma once

// Escape closes a window (hides it, where it hides on close), as users expect
// of a panel or a settings window.

#include <gtkmm/eventcontroller.h>
#include <gtkmm/window.h>

namespace irvelo::ui {

// With the capture phase, Escape closes the window before a focused widget
// inside can take the key.
void close_on_escape(Gtk::Window& window, Gtk::PropagationPhase phase = Gtk::PropagationPhase::BUBBLE);

}  // namespace irvelo::ui
