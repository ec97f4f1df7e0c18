#pragma once

// How long the user has left keyboard and mouse alone, from the first source
// that answers on this desktop: GNOME's idle monitor or the Wayland
// compositor (both tell us, through watches), a screen saver's idle time, the
// X server's screen saver extension, or logind's idle hint (the last three
// asked on each poll).

#include <giomm/cancellable.h>
#include <giomm/dbusconnection.h>
#include <glibmm/ustring.h>
#include <sigc++/connection.h>
#include <sigc++/signal.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "away/session_monitor.hpp"
#include "away/wayland_idle.hpp"
#include "away/x11_idle.hpp"

namespace irvelo::away {

enum class IdleSource { Unknown, None, Mutter, Wayland, ScreenSaver, X11, Logind };

// The source as the settings window names it ("GNOME", "X11", ...).
[[nodiscard]] Glib::ustring idle_source_name(IdleSource source);

class IdleMonitor {
 public:
  explicit IdleMonitor(SessionMonitor& session);
  ~IdleMonitor();
  IdleMonitor(const IdleMonitor&) = delete;
  IdleMonitor& operator=(const IdleMonitor&) = delete;

  // Finds the source once (asking the buses the first time) and then calls
  // `done` with it.
  void detect(std::function<void(IdleSource)> done);
  [[nodiscard]] IdleSource source() const { return source_; }

  // From now on, emits `idle` once the user has been idle `threshold_ms`: at
  // once through a watch where the source keeps one, else on poll().
  void watch(std::int64_t threshold_ms);
  void unwatch();
  [[nodiscard]] bool watching() const { return threshold_ms_ > 0; }
  // Asks a polled source while watching.
  void poll();
  // The idle time now in milliseconds; nothing where no source answers.
  void query(std::function<void(std::optional<std::int64_t>)> done);

  // The user has been away since this instant (Unix seconds).
  sigc::signal<void(std::int64_t)> idle;
  // The user came back after `idle` (known only where the source keeps watches).
  sigc::signal<void()> active;

 private:
  void try_mutter();
  void try_wayland();
  void watch_wayland();
  void try_screen_saver();
  void try_x11();
  void try_logind();
  void found(IdleSource source);
  void add_mutter_watch();
  void on_watch_fired(guint32 id);

  SessionMonitor& session_;
  Glib::RefPtr<Gio::Cancellable> cancellable_ = Gio::Cancellable::create();
  Glib::RefPtr<Gio::DBus::Connection> bus_;
  IdleSource source_ = IdleSource::Unknown;
  bool detecting_ = false;
  std::vector<std::function<void(IdleSource)>> waiting_;
  std::int64_t threshold_ms_ = 0;
  guint32 idle_watch_ = 0;
  guint32 active_watch_ = 0;
  bool adding_ = false;
  guint fired_subscription_ = 0;
  sigc::connection session_wait_;
  std::unique_ptr<X11Idle> x11_;
  std::unique_ptr<WaylandIdle> wayland_;
};

}  // namespace irvelo::away
