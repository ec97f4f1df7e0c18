#pragma once

// Opening a URL in the desktop's default browser. The toolkit of this release
// has no URI launcher object, so this is the one place that knows how to ask
// it; every caller goes through here.

#include <gtkmm/window.h>

#include <functional>
#include <string>

namespace irvelo::ui {

// Asks the desktop to open `uri`, on the display of `parent` (the default
// display without one). Asynchronous and quiet: a desktop without a browser
// simply shows nothing, and nothing is logged above debug level. `done`, if
// given, hears whether a browser was started.
void launch_uri(Gtk::Window* parent, const std::string& uri, std::function<void(bool)> done = {});

// A variable this process set for itself alone: what it launches does not
// inherit it. The launch contexts unset it, so that the process's own
// environment is never changed while its threads may read it.
void keep_from_launched(const char* variable);

}  // namespace irvelo::ui
