#pragma once

// Idle time from the Wayland compositor, over the connection GTK already
// holds: ext-idle-notify-v1 where the compositor offers it, else KDE's
// org_kde_kwin_idle (sway 1.7, Plasma 5.27). The compositor says when input
// stops for a span and when it comes back; there is no idle time to ask for,
// so a short span tracks when the user was last seen.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace irvelo::away {

class WaylandIdle {
 public:
  // Null unless GDK talks Wayland in this process and the compositor offers
  // either protocol. From here on, the user's input is followed.
  [[nodiscard]] static std::unique_ptr<WaylandIdle> open();
  ~WaylandIdle();
  WaylandIdle(const WaylandIdle&) = delete;
  WaylandIdle& operator=(const WaylandIdle&) = delete;

  // `idle` once the user has been idle `threshold_ms`, with the instant the
  // spell began (Unix seconds; 0 where it began before open(), unknown), and
  // `active` when they come back.
  void watch(std::int64_t threshold_ms, std::function<void(std::int64_t)> idle, std::function<void()> active);
  void unwatch();
  // The idle time now in milliseconds, as far as it is known.
  [[nodiscard]] std::optional<std::int64_t> idle_ms() const;

  struct Objects;
  struct Timeout;

 private:
  explicit WaylandIdle(std::unique_ptr<Objects> objects);
  void on_tracker(bool idle);

  std::unique_ptr<Objects> objects_;
  std::unique_ptr<Timeout> tracker_;
  std::unique_ptr<Timeout> watch_;
  std::int64_t opened_ms_ = 0;
  // Whether input was seen since open(): only then is a spell's start known.
  bool seen_input_ = false;
  bool idle_ = false;
  std::int64_t spell_began_ms_ = 0;
  std::int64_t threshold_ms_ = 0;
  std::function<void(std::int64_t)> on_idle_;
  std::function<void()> on_active_;
};

}  // namespace irvelo::away
