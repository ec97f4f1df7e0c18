#pragma once

// The login session as the system sees it: when it locks (logind's session
// object or a screen saver on the session bus), when the computer prepares to
// sleep or shut down, logind's idle hint, and a delay inhibitor that holds
// sleep back while the timer is stopped.

#include <giomm/cancellable.h>
#include <giomm/dbusconnection.h>
#include <sigc++/signal.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace irvelo::away {

class SessionMonitor {
 public:
  SessionMonitor();
  ~SessionMonitor();
  SessionMonitor(const SessionMonitor&) = delete;
  SessionMonitor& operator=(const SessionMonitor&) = delete;

  // Connects to the buses and listens; later calls do nothing. Nothing is
  // touched before, so that a user with every away setting off pays nothing.
  void start();

  // The session locked (may come more than once for one lock).
  sigc::signal<void()> locked;
  // The computer is about to sleep (false) or shut down (true).
  sigc::signal<void(bool)> preparing;
  // The computer woke from sleep, or a shutdown was called off.
  sigc::signal<void()> resumed;
  // logind's session object was found (or not: empty path).
  sigc::signal<void()> session_found;

  [[nodiscard]] const std::string& session_path() const { return session_path_; }
  // Whether the search for the session object is over (found or not).
  [[nodiscard]] bool session_known() const { return session_known_; }
  // The session's idle time from logind's hints: milliseconds, or nothing
  // where logind keeps no hint for it.
  void query_idle(std::function<void(std::optional<std::int64_t>)> done);

  // Takes a delay inhibitor for sleep and shutdown, unless one is held or on
  // its way; release_inhibitor() closes it (or the one still coming).
  void hold_inhibitor(const std::string& reason);
  void release_inhibitor();
  [[nodiscard]] bool holding_inhibitor() const { return inhibitor_fd_ >= 0 || inhibitor_pending_; }

 private:
  void watch_screen_saver(const char* name);
  void find_session();
  void watch_session();
  void on_session_properties(const Glib::VariantContainerBase& parameters);

  Glib::RefPtr<Gio::Cancellable> cancellable_ = Gio::Cancellable::create();
  Glib::RefPtr<Gio::DBus::Connection> system_;
  Glib::RefPtr<Gio::DBus::Connection> session_;
  std::vector<std::pair<Glib::RefPtr<Gio::DBus::Connection>, guint>> subscriptions_;
  // A screen saver's name, followed so that only its owner is listened to.
  struct Saver {
    const char* name = nullptr;
    guint watch = 0;
    guint subscription = 0;
  };
  std::vector<Saver> savers_;
  // logind keeps the session's lock state (LockedHint): screen savers are not asked.
  bool logind_locks_ = false;
  std::string session_path_;
  bool started_ = false;
  bool session_known_ = false;
  int inhibitor_fd_ = -1;
  bool inhibitor_pending_ = false;
  bool inhibitor_wanted_ = false;
};

}  // namespace irvelo::away
