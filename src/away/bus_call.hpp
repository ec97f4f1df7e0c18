#pragma once

// Asynchronous D-Bus method calls for the away watchers: each answer comes
// back as a value (nothing on any failure) and only while the caller's
// cancellable is not cancelled, so that a watcher destroyed mid-call is never
// reached.

#include <giomm/cancellable.h>
#include <giomm/dbusconnection.h>
#include <giomm/unixfdlist.h>

#include <functional>
#include <optional>

namespace irvelo::away {

using Reply = std::optional<Glib::VariantContainerBase>;

struct Call {
  const char* name;
  const char* path;
  const char* interface;
  const char* method;
};

void call(const Glib::RefPtr<Gio::DBus::Connection>& bus, const Call& call,
          const Glib::VariantContainerBase& parameters, const Glib::RefPtr<Gio::Cancellable>& cancellable,
          std::function<void(Reply)> done);

// As call(), for a method that answers with file descriptors: `done` receives
// the list as well (null on failure).
void call_with_fds(const Glib::RefPtr<Gio::DBus::Connection>& bus, const Call& call,
                   const Glib::VariantContainerBase& parameters, const Glib::RefPtr<Gio::Cancellable>& cancellable,
                   std::function<void(Reply, Glib::RefPtr<Gio::UnixFDList>)> done);

// The session or system bus, or null (logged) where there is none.
[[nodiscard]] Glib::RefPtr<Gio::DBus::Connection> bus(Gio::DBus::BusType type);

// The first child of `reply` as T, when it has that type.
template <typename T>
[[nodiscard]] std::optional<T> first(const Reply& reply) {
  if (!reply || reply->get_n_children() == 0) return std::nullopt;
  Glib::VariantBase child;
  reply->get_child(child, 0);
  if (!child.is_of_type(Glib::Variant<T>::variant_type())) return std::nullopt;
  return Glib::VariantBase::cast_dynamic<Glib::Variant<T>>(child).get();
}

}  // namespace irvelo::away
