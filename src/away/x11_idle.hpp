#pragma once

// The X server's count of time without input (the MIT-SCREEN-SAVER
// extension), kept apart because Xlib's macros clash with ordinary names.

#include <cstdint>
#include <memory>
#include <optional>

namespace irvelo::away {

class X11Idle {
 public:
  // Null outside an X11 session (under Wayland an X server sees only the
  // input of X clients) or where the server lacks the extension.
  [[nodiscard]] static std::unique_ptr<X11Idle> open();
  ~X11Idle();
  X11Idle(const X11Idle&) = delete;
  X11Idle& operator=(const X11Idle&) = delete;

  [[nodiscard]] std::optional<std::int64_t> idle_ms() const;

 private:
  struct Connection;
  explicit X11Idle(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> connection_;
};

}  // namespace irvelo::away
