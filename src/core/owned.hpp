#pragma once

// The one way to own a C handle from GLib, GIO or libsecret: a std::unique_ptr
// whose deleter is the library's own release function, so that every path out
// of a scope releases it. unique_ptr never hands a null pointer to the deleter.
// GObjects that gtkmm or giomm wrap are owned by Glib::RefPtr instead.

#include <gio/gio.h>

#include <memory>

namespace irvelo {

namespace owned_detail {

template <auto release>
struct Release {
  template <typename T>
  void operator()(T* handle) const {
    release(handle);
  }
};

// soup_server_get_uris: the list and every address in it.
struct ReleaseUriList {
  void operator()(GSList* list) const {
    g_slist_free_full(list, [](gpointer uri) { g_uri_unref(static_cast<GUri*>(uri)); });
  }
};

}  // namespace owned_detail

// An owner of `T*` that releases it with `release`.
template <typename T, auto release>
using Owned = std::unique_ptr<T, owned_detail::Release<release>>;

// An error reported through a GError** parameter; see out() below.
using ErrorPtr = Owned<GError, g_error_free>;
// A string (or buffer) that GLib allocated for the caller.
using CharPtr = Owned<gchar, g_free>;
// A NULL-terminated array of strings, such as command-line arguments.
using StrvPtr = Owned<gchar*, g_strfreev>;
// Any GObject: a connection, a cancellable, a stream, a libsoup message...
template <typename T>
using ObjectPtr = Owned<T, g_object_unref>;
// A parsed key file (settings, desktop entries).
using KeyFilePtr = Owned<GKeyFile, g_key_file_unref>;
// A parsed address.
using UriPtr = Owned<GUri, g_uri_unref>;
// A list of parsed addresses, and the addresses in it.
using UriListPtr = std::unique_ptr<GSList, owned_detail::ReleaseUriList>;
// A variant: a D-Bus reply, or a floating value sunk with g_variant_ref_sink.
using VariantPtr = Owned<GVariant, g_variant_unref>;
// A time zone, and an instant placed in one.
using TimeZonePtr = Owned<GTimeZone, g_time_zone_unref>;
using DateTimePtr = Owned<GDateTime, g_date_time_unref>;
// An immutable byte buffer (request bodies, chunks of an answer).
using BytesPtr = Owned<GBytes, g_bytes_unref>;
// A hash table, such as the parameters of a query string.
using HashTablePtr = Owned<GHashTable, g_hash_table_unref>;
// A running digest.
using ChecksumPtr = Owned<GChecksum, g_checksum_free>;
// Parsed D-Bus introspection data.
using NodeInfoPtr = Owned<GDBusNodeInfo, g_dbus_node_info_unref>;
// A main context, a main loop, and a source attached to a context (a
// reference kept to destroy it later; destroying it is not releasing it).
using MainContextPtr = Owned<GMainContext, g_main_context_unref>;
using MainLoopPtr = Owned<GMainLoop, g_main_loop_unref>;
using SourcePtr = Owned<GSource, g_source_unref>;
// A command-line parser.
using OptionContextPtr = Owned<GOptionContext, g_option_context_free>;

// Lends an owner to a C function's out-parameter: the function stores a plain
// pointer, and the owner takes it at the end of the full expression holding
// the call (its statement, or the condition of an `if`); read it only after:
//   ErrorPtr error;
//   if (!g_key_file_save_to_file(file, path, out(error))) g_warning("%s", error->message);
template <typename Owner>
class OutParam {
 public:
  explicit OutParam(Owner& owner) : owner_(owner) {}
  OutParam(const OutParam&) = delete;
  OutParam& operator=(const OutParam&) = delete;
  ~OutParam() { owner_.reset(raw_); }

  // Implicit, to stand where `&raw` would stand in the call.
  operator typename Owner::pointer *() && { return &raw_; }

 private:
  Owner& owner_;
  typename Owner::pointer raw_ = nullptr;
};

template <typename Owner>
[[nodiscard]] OutParam<Owner> out(Owner& owner) {
  return OutParam<Owner>(owner);
}

}  // namespace irvelo

// libsecret's headers are on the include path only of the libraries that link
// it (irvelo_storage and what builds on it); the rest go without this section.
#if __has_include(<libsecret/secret.h>)
#include <libsecret/secret.h>

namespace irvelo {

// A secret that libsecret returned: wiped, then freed.
using SecretPtr = Owned<gchar, secret_password_free>;

}  // namespace irvelo
#endif
