#include "away/x11_idle.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>
#include <glib.h>

#include "core/owned.hpp"

namespace irvelo::away {
namespace {

using DisplayPtr = Owned<Display, XCloseDisplay>;
using InfoPtr = Owned<XScreenSaverInfo, XFree>;

}  // namespace

struct X11Idle::Connection {
  DisplayPtr display;
};

X11Idle::X11Idle(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}

X11Idle::~X11Idle() = default;

std::unique_ptr<X11Idle> X11Idle::open() {
  const char* display = g_getenv("DISPLAY");
  const char* type = g_getenv("XDG_SESSION_TYPE");
  const bool wayland = g_getenv("WAYLAND_DISPLAY") != nullptr || g_strcmp0(type, "wayland") == 0;
  if (display == nullptr || *display == '\0' || wayland) return nullptr;
  auto connection = std::make_unique<Connection>();
  connection->display.reset(XOpenDisplay(nullptr));
  int event_base = 0;
  int error_base = 0;
  if (!connection->display || !XScreenSaverQueryExtension(connection->display.get(), &event_base, &error_base)) {
    return nullptr;
  }
  return std::unique_ptr<X11Idle>(new X11Idle(std::move(connection)));
}

std::optional<std::int64_t> X11Idle::idle_ms() const {
  Display* display = connection_->display.get();
  InfoPtr info(XScreenSaverAllocInfo());
  if (!info || !XScreenSaverQueryInfo(display, DefaultRootWindow(display), info.get())) return std::nullopt;
  return static_cast<std::int64_t>(info->idle);
}

}  // namespace irvelo::away
