#include "storage/credentials.hpp"

#include <glib.h>
#include <glib/gstdio.h>
#include <libsecret/secret.h>

#include "core/owned.hpp"
#include "storage/settings.hpp"

namespace irvelo {
namespace {

constexpr const char* kAttribute = "server";

const SecretSchema* schema() {
  static const SecretSchema instance = [] {
    SecretSchema s{};
    s.name = "com.larkspan.Irvelo.ApiKey";
    s.flags = SECRET_SCHEMA_NONE;
    s.attributes[0].name = kAttribute;
    s.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    return s;
  }();
  return &instance;
}

std::string fallback_file() {
  const CharPtr path(g_build_filename(config_dir().c_str(), "api-key", nullptr));
  return path.get();
}

// Every text this file logs passes through here with the key in hand, so that
// the key can never reach a log message, whatever a library put in its error
// text. Removal repeats until no occurrence is left (the text shrinks each
// round, so this ends).
std::string without_key(std::string text, const std::string& key) {
  if (key.empty()) return text;
  for (auto at = text.find(key); at != std::string::npos; at = text.find(key)) text.erase(at, key.size());
  return text;
}

std::optional<std::string> load_fallback(const std::string& server) {
  CharPtr data;
  gsize length = 0;
  if (!g_file_get_contents(fallback_file().c_str(), out(data), &length, nullptr)) return std::nullopt;
  const std::string content(data.get(), length);

  // At most three pieces at newlines: the server, the key, the rest.
  const auto first_end = content.find('\n');
  if (first_end == std::string::npos) return std::nullopt;
  const auto second_start = first_end + 1;
  const auto second_end = content.find('\n', second_start);
  std::string second =
      content.substr(second_start, second_end == std::string::npos ? std::string::npos : second_end - second_start);
  if (content.compare(0, first_end, server) != 0 || second.empty()) return std::nullopt;
  return second;
}

}  // namespace

std::string Credentials::fallback_path() {
  return fallback_file();
}

std::optional<std::string> Credentials::load(const std::string& server, KeyPlace* where) {
  KeyPlace unused = KeyPlace::Nowhere;
  KeyPlace& place = where != nullptr ? *where : unused;
  place = KeyPlace::Nowhere;
  const auto from_file = [&server, &place] {
    auto key = load_fallback(server);
    if (key) place = KeyPlace::PrivateFile;
    return key;
  };
  ErrorPtr error;
  const SecretPtr secret(
      secret_password_lookup_sync(schema(), nullptr, out(error), kAttribute, server.c_str(), nullptr));
  if (error != nullptr) {
    // The key is not known here; a lookup error carries no secret.
    g_info("Secret Service unavailable (%s), using the fallback file", error->message);
    return from_file();
  }
  if (secret != nullptr) {
    place = KeyPlace::Keyring;
    return std::string(secret.get());
  }
  return from_file();
}

namespace {

// After the Secret Service failed: the key goes to the private file.
bool store_in_file(const std::string& server, const std::string& key, const GError* failure, KeyPlace& place) {
  const std::string reason = without_key(failure != nullptr ? failure->message : "unknown error", key);
  g_info("Secret Service unavailable (%s), using the fallback file", reason.c_str());

  const std::string path = fallback_file();
  (void)g_mkdir_with_parents(config_dir().c_str(), 0700);
  const std::string content = server + "\n" + key + "\n";
  ErrorPtr error;
  if (!g_file_set_contents_full(path.c_str(), content.data(), static_cast<gssize>(content.size()),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, out(error))) {
    const std::string message = without_key(error != nullptr ? error->message : "unknown error", key);
    g_warning("cannot write %s: %s", without_key(path, key).c_str(), message.c_str());
    return false;
  }
  place = KeyPlace::PrivateFile;
  return true;
}

std::string label_for(const std::string& server) {
  return "Irvelo API key (" + server + ")";
}

}  // namespace

bool Credentials::store(const std::string& server, const std::string& key, KeyPlace* where) {
  KeyPlace unused = KeyPlace::Nowhere;
  KeyPlace& place = where != nullptr ? *where : unused;
  place = KeyPlace::Nowhere;
  ErrorPtr error;
  const gboolean stored =
      secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label_for(server).c_str(), key.c_str(), nullptr,
                                 out(error), kAttribute, server.c_str(), nullptr);
  if (stored && error == nullptr) {
    (void)g_unlink(fallback_file().c_str());
    place = KeyPlace::Keyring;
    return true;
  }
  return store_in_file(server, key, error.get(), place);
}

void Credentials::clear(const std::string& server) {
  // Reports nothing (see the header): without a Secret Service, as on most
  // machines that use the fallback file, every call would fail here.
  (void)secret_password_clear_sync(schema(), nullptr, nullptr, kAttribute, server.c_str(), nullptr);
  (void)g_unlink(fallback_file().c_str());
}

namespace {

bool cancelled_by(GCancellable* cancellable) {
  return cancellable != nullptr && g_cancellable_is_cancelled(cancellable);
}

struct LookupCall {
  std::string server;
  std::function<void(KeyLookup)> done;
  ObjectPtr<GCancellable> cancellable;

  void from_file() {
    KeyLookup found;
    found.key = load_fallback(server);
    if (found.key) found.place = KeyPlace::PrivateFile;
    done(std::move(found));
  }
};

struct ItemList {
  void operator()(GList* items) const { g_list_free_full(items, g_object_unref); }
};

void searched(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<LookupCall> call(static_cast<LookupCall*>(data));
  ErrorPtr error;
  const std::unique_ptr<GList, ItemList> items(
      secret_service_search_finish(SECRET_SERVICE(source), result, out(error)));
  if (cancelled_by(call->cancellable.get())) return;
  if (error != nullptr) {
    g_info("Secret Service unavailable (%s), using the fallback file", error->message);
    return call->from_file();
  }
  bool locked = false;
  for (GList* item = items.get(); item != nullptr; item = item->next) {
    auto* secret_item = static_cast<SecretItem*>(item->data);
    const Owned<SecretValue, secret_value_unref> value(secret_item_get_secret(secret_item));
    if (value != nullptr) {
      KeyLookup found;
      found.key = secret_value_get_text(value.get());
      found.place = KeyPlace::Keyring;
      if (found.key) return call->done(std::move(found));
    }
    locked = locked || secret_item_get_locked(secret_item);
  }
  if (locked) {
    // A dismissed unlock leaves the item locked and says nothing else.
    KeyLookup found;
    found.locked = true;
    return call->done(std::move(found));
  }
  call->from_file();
}

void got_service(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<LookupCall> call(static_cast<LookupCall*>(data));
  ErrorPtr error;
  const ObjectPtr<SecretService> service(secret_service_get_finish(result, out(error)));
  if (cancelled_by(call->cancellable.get())) return;
  if (!service) {
    g_info("Secret Service unavailable (%s), using the fallback file",
           error != nullptr ? error->message : "unknown error");
    return call->from_file();
  }
  const HashTablePtr attributes(secret_attributes_build(schema(), kAttribute, call->server.c_str(), nullptr));
  GCancellable* cancellable = call->cancellable.get();
  secret_service_search(service.get(), schema(), attributes.get(),
                        static_cast<SecretSearchFlags>(SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS), cancellable,
                        searched, call.release());
}

struct SaveCall {
  std::string server;
  std::string key;
  std::function<void(bool, KeyPlace)> done;
  ObjectPtr<GCancellable> cancellable;
};

void saved(GObject*, GAsyncResult* result, gpointer data) {
  std::unique_ptr<SaveCall> call(static_cast<SaveCall*>(data));
  ErrorPtr error;
  const gboolean stored = secret_password_store_finish(result, out(error));
  if (cancelled_by(call->cancellable.get())) return;
  KeyPlace place = KeyPlace::Nowhere;
  if (stored && error == nullptr) {
    (void)g_unlink(fallback_file().c_str());
    return call->done(true, KeyPlace::Keyring);
  }
  const bool kept = store_in_file(call->server, call->key, error.get(), place);
  call->done(kept, place);
}

ObjectPtr<GCancellable> hold(GCancellable* cancellable) {
  return ObjectPtr<GCancellable>(cancellable != nullptr ? G_CANCELLABLE(g_object_ref(cancellable)) : nullptr);
}

}  // namespace

void Credentials::lookup(const std::string& server, GCancellable* cancellable, std::function<void(KeyLookup)> done) {
  auto* call = new LookupCall{server, std::move(done), hold(cancellable)};
  secret_service_get(SECRET_SERVICE_OPEN_SESSION, cancellable, got_service, call);
}

void Credentials::save(const std::string& server, const std::string& key, GCancellable* cancellable,
                       std::function<void(bool, KeyPlace)> done) {
  auto* call = new SaveCall{server, key, std::move(done), hold(cancellable)};
  secret_password_store(schema(), SECRET_COLLECTION_DEFAULT, label_for(server).c_str(), key.c_str(), cancellable, saved,
                        call, kAttribute, server.c_str(), nullptr);
}

void Credentials::forget(const std::string& server) {
  secret_password_clear(schema(), nullptr, nullptr, nullptr, kAttribute, server.c_str(), nullptr);
  (void)g_unlink(fallback_file().c_str());
}

}  // namespace irvelo
