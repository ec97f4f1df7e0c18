#include "away/session_monitor.hpp"

#include <giomm/dbuswatchname.h>
#include <unistd.h>

#include <utility>

#include "away/bus_call.hpp"

namespace irvelo::away {
namespace {

constexpr const char* kLogin1 = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSession = "org.freedesktop.login1.Session";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

using Subscription = Gio::DBus::Connection::SlotSignal;

bool first_bool(const Glib::VariantContainerBase& parameters) {
  return first<bool>(parameters).value_or(false);
}

}  // namespace

SessionMonitor::SessionMonitor() = default;

SessionMonitor::~SessionMonitor() {
  cancellable_->cancel();
  for (auto& [bus, id] : subscriptions_) bus->signal_unsubscribe(id);
  for (auto& saver : savers_) {
    Gio::DBus::unwatch_name(saver.watch);
    if (saver.subscription != 0) session_->signal_unsubscribe(saver.subscription);
  }
  if (inhibitor_fd_ >= 0) close(inhibitor_fd_);
}

void SessionMonitor::start() {
  if (started_) return;
  started_ = true;
  system_ = bus(Gio::DBus::BusType::SYSTEM);
  session_ = bus(Gio::DBus::BusType::SESSION);
  const auto subscribe = [this](const Glib::RefPtr<Gio::DBus::Connection>& on, const Subscription& slot,
                                const char* sender, const char* interface, const char* member, const char* path) {
    if (!on) return;
    subscriptions_.emplace_back(on,
                                on->signal_subscribe(slot, sender ? sender : "", interface, member, path ? path : ""));
  };

  const Subscription sleep = [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&,
                                    const Glib::ustring&, const Glib::ustring&, const Glib::ustring& member,
                                    const Glib::VariantContainerBase& parameters) {
    // false: woken from sleep, or a shutdown called off (it never happened).
    if (first_bool(parameters)) {
      preparing.emit(member == "PrepareForShutdown");
    } else {
      resumed.emit();
    }
  };
  subscribe(system_, sleep, kLogin1, kManager, "PrepareForSleep", kManagerPath);
  subscribe(system_, sleep, kLogin1, kManager, "PrepareForShutdown", kManagerPath);

  if (session_) {
    for (const char* name : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"}) watch_screen_saver(name);
  }

  find_session();
}

void SessionMonitor::watch_screen_saver(const char* name) {
  auto& saver = savers_.emplace_back();
  saver.name = name;
  const std::size_t index = savers_.size() - 1;
  saver.watch = Gio::DBus::watch_name(
      session_, name,
      [this, index](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring& owner) {
        Saver& s = savers_[index];
        if (s.subscription != 0) session_->signal_unsubscribe(s.subscription);
        // From the name's owner only: anyone on the bus can send the signal,
        // and "locked" stops the timer. Screen savers announce on more than
        // one path (KDE also on /ScreenSaver): any path will do.
        s.subscription = session_->signal_subscribe(
            [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&,
                   const Glib::ustring&, const Glib::ustring&, const Glib::VariantContainerBase& parameters) {
              // An active screen saver may only be a blank screen; where
              // logind keeps the lock state, it alone tells a lock.
              if (!logind_locks_ && first_bool(parameters)) locked.emit();
            },
            owner, s.name, "ActiveChanged", "");
      },
      [this, index](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&) {
        Saver& s = savers_[index];
        if (s.subscription != 0) session_->signal_unsubscribe(s.subscription);
        s.subscription = 0;
      });
}

void SessionMonitor::find_session() {
  if (!system_) {
    session_known_ = true;
    session_found.emit();
    return;
  }
  call(system_, {kLogin1, kManagerPath, kManager, "GetSession"},
       Glib::VariantContainerBase::create_tuple(Glib::Variant<Glib::ustring>::create("auto")), cancellable_,
       [this](Reply reply) {
         if (auto path = first<Glib::DBusObjectPathString>(reply)) {
           session_path_ = *path;
           watch_session();
           return;
         }
         // Outside a logind session of its own (started from a service, say)
         // "auto" finds nothing; the session our process belongs to may.
         call(system_, {kLogin1, kManagerPath, kManager, "GetSessionByPID"},
              Glib::VariantContainerBase::create_tuple(Glib::Variant<guint32>::create(static_cast<guint32>(getpid()))),
              cancellable_, [this](Reply by_pid) {
                if (auto path = first<Glib::DBusObjectPathString>(by_pid)) {
                  session_path_ = *path;
                  watch_session();
                  return;
                }
                g_info("no login session found: locking is seen only through a screen saver");
                session_known_ = true;
                session_found.emit();
              });
       });
}

void SessionMonitor::watch_session() {
  const auto path = session_path_.c_str();
  subscriptions_.emplace_back(
      system_, system_->signal_subscribe([this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&,
                                                const Glib::ustring&, const Glib::ustring&, const Glib::ustring&,
                                                const Glib::VariantContainerBase&) { locked.emit(); },
                                         kLogin1, kSession, "Lock", path));
  subscriptions_.emplace_back(
      system_, system_->signal_subscribe(
                   [this](const Glib::RefPtr<Gio::DBus::Connection>&, const Glib::ustring&, const Glib::ustring&,
                          const Glib::ustring&, const Glib::ustring&,
                          const Glib::VariantContainerBase& parameters) { on_session_properties(parameters); },
                   kLogin1, kProperties, "PropertiesChanged", path));
  // Where the session has a lock state, a screen saver's word is not needed.
  call(system_, {kLogin1, path, kProperties, "Get"},
       Glib::VariantContainerBase::create_tuple(
           {Glib::Variant<Glib::ustring>::create(kSession), Glib::Variant<Glib::ustring>::create("LockedHint")}),
       cancellable_, [this](Reply reply) {
         logind_locks_ = reply.has_value();
         if (logind_locks_) g_info("locking is seen through logind");
       });
  session_known_ = true;
  session_found.emit();
}

void SessionMonitor::on_session_properties(const Glib::VariantContainerBase& parameters) {
  if (!parameters.is_of_type(Glib::VariantType("(sa{sv}as)"))) return;
  Glib::Variant<Glib::ustring> interface;
  parameters.get_child(interface, 0);
  if (interface.get() != kSession) return;
  Glib::Variant<std::map<Glib::ustring, Glib::VariantBase>> changed;
  parameters.get_child(changed, 1);
  const auto values = changed.get();
  const auto hint = values.find("LockedHint");
  if (hint != values.end() && hint->second.is_of_type(Glib::VARIANT_TYPE_BOOL) &&
      Glib::VariantBase::cast_dynamic<Glib::Variant<bool>>(hint->second).get()) {
    locked.emit();
  }
}

void SessionMonitor::query_idle(std::function<void(std::optional<std::int64_t>)> done) {
  if (!system_ || session_path_.empty()) {
    done(std::nullopt);
    return;
  }
  call(system_, {kLogin1, session_path_.c_str(), kProperties, "GetAll"},
       Glib::VariantContainerBase::create_tuple(Glib::Variant<Glib::ustring>::create(kSession)), cancellable_,
       [done = std::move(done)](Reply reply) {
         const auto all = first<std::map<Glib::ustring, Glib::VariantBase>>(reply);
         if (!all) return done(std::nullopt);
         const auto hint = all->find("IdleHint");
         const auto since = all->find("IdleSinceHint");
         if (hint == all->end() || since == all->end() || !hint->second.is_of_type(Glib::VARIANT_TYPE_BOOL) ||
             !since->second.is_of_type(Glib::VARIANT_TYPE_UINT64)) {
           return done(std::nullopt);
         }
         if (!Glib::VariantBase::cast_dynamic<Glib::Variant<bool>>(hint->second).get()) return done(0);
         // Microseconds of the realtime clock.
         const auto since_us =
             static_cast<std::int64_t>(Glib::VariantBase::cast_dynamic<Glib::Variant<guint64>>(since->second).get());
         const std::int64_t idle_ms = (g_get_real_time() - since_us) / 1000;
         done(idle_ms > 0 ? idle_ms : 0);
       });
}

void SessionMonitor::hold_inhibitor(const std::string& reason) {
  inhibitor_wanted_ = true;
  if (holding_inhibitor() || !system_) return;
  inhibitor_pending_ = true;
  call_with_fds(system_, {kLogin1, kManagerPath, kManager, "Inhibit"},
                Glib::VariantContainerBase::create_tuple({
                    Glib::Variant<Glib::ustring>::create("sleep:shutdown"),
                    Glib::Variant<Glib::ustring>::create("irvelo-desktop"),
                    Glib::Variant<Glib::ustring>::create(reason),
                    Glib::Variant<Glib::ustring>::create("delay"),
                }),
                cancellable_, [this](Reply reply, const Glib::RefPtr<Gio::UnixFDList>& fds) {
                  inhibitor_pending_ = false;
                  if (!reply || !fds || fds->get_length() < 1) {
                    g_info("no sleep inhibitor: the timer may not be stopped before sleeping");
                    return;
                  }
                  int fd = -1;
                  try {
                    fd = fds->get(0);
                  } catch (const Glib::Error& e) {
                    g_info("sleep inhibitor unreadable: %s", e.what());
                    return;
                  }
                  if (!inhibitor_wanted_) {
                    // Let go of while it was on its way.
                    close(fd);
                    return;
                  }
                  inhibitor_fd_ = fd;
                });
}

void SessionMonitor::release_inhibitor() {
  inhibitor_wanted_ = false;
  if (inhibitor_fd_ < 0) return;
  close(inhibitor_fd_);
  inhibitor_fd_ = -1;
}

}  // namespace irvelo::away
