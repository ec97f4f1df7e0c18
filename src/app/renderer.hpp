#pragma once

// The panel is a small form that the software renderer draws perfectly well;
// GTK's default GL renderer maps Mesa and LLVM into the process even while no
// window is shown, which costs a tray app several times its own memory.

namespace irvelo {

// Before GTK initialises: turns GL off for this process (GDK_DEBUG=gl-disable,
// which makes GSK fall back to cairo) unless the user chose a renderer or
// debug flags themselves (GSK_RENDERER or GDK_DEBUG set, even empty).
void prefer_software_rendering();

// Once GTK has opened its display: keeps what prefer_software_rendering set
// from everything this process launches (the browser, say), without changing
// the environment again,
// and names the cairo renderer on the display, so that GSK goes there
// directly instead of first trying GL and logging why it could not. What the
// user set stays as it was.
void forget_rendering_choice();

}  // namespace irvelo
