#pragma once

// Stand-ins for the desktop services that tell an application the user has
// gone: a login manager on a private system bus, and GNOME's idle monitor, a
// screen saver and a notification server on the test's session bus. Each
// records what the application asked of it and sends the signals a test
// chooses. They run on the test's main loop.

#include <gio/gio.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/owned.hpp"
#include "support/private_bus.hpp"

namespace irvelo::test {

struct StandInAccess;

// Service objects of ours on a bus of `address`, owning `names`, their
// interfaces parsed from `xml`.
class StandIn {
 public:
  StandIn(const std::string& address, const std::vector<const char*>& names, const char* xml);
  virtual ~StandIn();
  StandIn(const StandIn&) = delete;
  StandIn& operator=(const StandIn&) = delete;

 protected:
  friend struct StandInAccess;
  // Exports the parsed interface `interface` at `path`.
  void serve(const char* path, const char* interface);
  void emit(const char* path, const char* interface, const char* signal, GVariant* parameters);
  // Answers a call: the reply (null for an error).
  virtual GVariant* answer(const std::string& method, GVariant* parameters, GUnixFDList** fds) = 0;
  virtual GVariant* property(const std::string& name);

  ObjectPtr<GDBusConnection> connection_;

 private:
  NodeInfoPtr node_;
  std::vector<guint> registrations_;
};

class StandInLogin : public StandIn {
 public:
  // Owns org.freedesktop.login1 on `bus`, with one session (or, without
  // `with_session`, none that a client can find).
  explicit StandInLogin(const PrivateBus& bus, bool with_session = true);
  ~StandInLogin() override;

  void lock();
  void set_locked_hint(bool locked);
  void prepare_for_sleep(bool going);
  void prepare_for_shutdown(bool going = true);

  // The session has logind's idle hint (IdleHint, IdleSinceHint).
  bool keeps_idle_hint = false;

  // Inhibitors handed out, and how many of them the holder still keeps open.
  int inhibitors_taken = 0;
  [[nodiscard]] int inhibitors_held() const;
  std::vector<std::string> inhibit_what;

 protected:
  GVariant* answer(const std::string& method, GVariant* parameters, GUnixFDList** fds) override;
  GVariant* property(const std::string& name) override;

 private:
  bool with_session_;
  bool locked_hint_ = false;
  std::vector<int> inhibitor_ends_;
};

struct Notification {
  std::string summary;
  std::string body;
  std::vector<std::pair<std::string, std::string>> actions;  // key, label
  std::uint32_t id = 0;
};

class StandInDesktop : public StandIn {
 public:
  struct Parts {
    bool mutter = false;
    bool screen_saver = false;
    // The notification server renders markup in bodies.
    bool body_markup = false;
    // GNOME Shell's own notification interface, which GLib prefers.
    bool gtk_notifications = false;
  };
  // Owns the notification server's name, and the others `parts` asks for.
  StandInDesktop(const std::string& address, Parts parts);
  ~StandInDesktop() override;

  // The button labelled `label` on `notification` pressed (or its body,
  // "default").
  void invoke(const Notification& notification, const std::string& label);
  void fire_watch(std::uint32_t id);
  void screen_saver_active(bool active);
  // The same signal from a connection that does not own the screen saver's name.
  void screen_saver_active_from_stranger(bool active);

  std::vector<Notification> notifications;
  std::vector<std::uint64_t> idle_watches;  // AddIdleWatch intervals, in order
  std::vector<std::uint32_t> removed_watches;
  std::vector<std::uint32_t> closed;  // CloseNotification ids, in order
  // When the user's current idle spell began (real time, milliseconds; 0:
  // the user is at the keyboard), as the idle monitor and screen saver tell.
  std::int64_t idle_since_ms = 0;
  // GetSessionIdleTime answers in seconds, as most screen savers do, not in
  // milliseconds as KDE's.
  bool idle_in_seconds = false;

 protected:
  GVariant* answer(const std::string& method, GVariant* parameters, GUnixFDList** fds) override;

 private:
  std::uint32_t next_id_ = 1;
  std::string address_;
  bool body_markup_;
};

// Real time in milliseconds, the clock of idle_since_ms.
[[nodiscard]] std::int64_t now_ms();

}  // namespace irvelo::test
