#include "away/bus_call.hpp"

#include <giomm/init.h>

namespace irvelo::away {
namespace {

// A desktop service that takes longer than this is taken as absent.
constexpr int kTimeoutMs = 5000;

}  // namespace

void call(const Glib::RefPtr<Gio::DBus::Connection>& bus, const Call& call,
          const Glib::VariantContainerBase& parameters, const Glib::RefPtr<Gio::Cancellable>& cancellable,
          std::function<void(Reply)> done) {
  call_with_fds(
      bus, call, parameters, cancellable,
      [done = std::move(done)](Reply reply, const Glib::RefPtr<Gio::UnixFDList>&) { done(std::move(reply)); });
}

void call_with_fds(const Glib::RefPtr<Gio::DBus::Connection>& bus, const Call& call,
                   const Glib::VariantContainerBase& parameters, const Glib::RefPtr<Gio::Cancellable>& cancellable,
                   std::function<void(Reply, Glib::RefPtr<Gio::UnixFDList>)> done) {
  if (!bus) {
    done(std::nullopt, {});
    return;
  }
  bus->call(
      call.path, call.interface, call.method, parameters,
      [bus, cancellable, done = std::move(done),
       method = std::string(call.method)](const Glib::RefPtr<Gio::AsyncResult>& result) {
        Reply reply;
        Glib::RefPtr<Gio::UnixFDList> fds;
        try {
          reply = bus->call_finish(result, fds);
        } catch (const Glib::Error& e) {
          g_debug("%s: %s", method.c_str(), e.what());
        }
        if (cancellable->is_cancelled()) return;
        done(std::move(reply), reply ? fds : Glib::RefPtr<Gio::UnixFDList>());
      },
      cancellable, Glib::RefPtr<Gio::UnixFDList>(), call.name, kTimeoutMs,
      // Asking whether a desktop service answers must not start one.
      Gio::DBus::CallFlags::NO_AUTO_START);
}

Glib::RefPtr<Gio::DBus::Connection> bus(Gio::DBus::BusType type) {
  Gio::init();
  try {
    return Gio::DBus::Connection::get_sync(type);
  } catch (const Glib::Error& e) {
    g_info("no %s bus: %s", type == Gio::DBus::BusType::SYSTEM ? "system" : "session", e.what());
    return {};
  }
}

}  // namespace irvelo::away
