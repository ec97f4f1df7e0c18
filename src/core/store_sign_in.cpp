#include <glib.h>
#include <glib/gi18n-lib.h>
#include <glibmm/main.h>

#include <exception>
#include <memory>

#include "api/defaults.hpp"
#include "api/text.hpp"
#include "api/url.hpp"
#include "config.hpp"
#include "core/owned.hpp"
#include "core/store_random.hpp"
#include "core/tracker_store.hpp"

namespace irvelo {
namespace {

constexpr std::string_view kKeyPrefix = "iv_";
constexpr const char* kCallbackScheme = config::kUrlScheme;
constexpr const char* kCallbackHost = "connect";

bool looks_like_key(const std::string& key) {
  return key.size() >= 3 && key.starts_with(kKeyPrefix);
}

api::Error not_a_server() {
  api::Error e;
  e.kind = api::Error::Kind::BadResponse;
  return e;
}

api::Error api_error(std::string code, std::string message) {
  api::Error e;
  e.kind = api::Error::Kind::Api;
  e.code = std::move(code);
  e.message = std::move(message);
  return e;
}

}  // namespace

namespace detail {
RandomSource& store_random_source() {
  static RandomSource source = [](std::size_t n) { return random_urlsafe(n); };
  return source;
}
}  // namespace detail

std::optional<std::string> TrackerStore::normalized_server(const std::string& text) {
  if (trimmed(text).empty()) return std::string(kDefaultServerUrl);
  return normalise_server_url(text);
}

// The final step runs inside the probe's own answer; it goes away from an idle
// callback. Handing over this probe, rather than whatever `probe` holds when the
// idle runs, keeps a sign-in started meanwhile from losing its client.
void TrackerStore::schedule_probe_destruction() {
  retire(std::move(probe));
}

void TrackerStore::sign_in(const std::string& server_text, const std::string& key_text) {
  drop_key_lookup();
  perform(
      [this, server_text, key_text](Finish finish) {
        const auto target = normalized_server(server_text);
        if (!target) return finish(not_a_server());
        const std::string key = trimmed(key_text);
        if (!looks_like_key(key)) return finish(api_error("VALIDATION", _("API keys start with iv_")));

        probe = std::make_unique<api::Client>(*target, key);
        probe->health([this, finish, server_url = *target, key](api::Result<api::Health> health) {
          if (!health.ok()) return finish(*health.error);
          probe->me([this, finish, server_url, key](api::Result<api::Me> account) {
            if (account.ok()) {
              adopt(server_url, key, "personal", *account.value);
              return finish(std::nullopt);
            }
            if (account.error->kind == api::Error::Kind::Unauthenticated) {
              return finish(api_error("UNAUTHENTICATED", _("That API key is not valid.")));
            }
            finish(*account.error);
          });
        });
      },
      [this] {
        schedule_probe_destruction();
        refresh_all();
      });
}

void TrackerStore::sign_in_with_browser(const std::string& server_text,
                                        std::function<void(const std::string&)> open_url) {
  drop_key_lookup();
  perform(
      [this, server_text, open_url = std::move(open_url)](Finish finish) {
        const auto target = normalized_server(server_text);
        if (!target) return finish(not_a_server());

        probe = std::make_unique<api::Client>(*target, "");
        probe->health([this, finish, open_url, server_url = *target](api::Result<api::Health> health) {
          if (!health.ok()) return finish(*health.error);
          auto connect = std::make_unique<PendingConnect>();
          try {
            auto& random = detail::store_random_source();
            connect->verifier = random(48);
            connect->state = random(24);
          } catch (const std::exception&) {
            // Without a random source there is no safe proof; say so instead of ending the process.
            return finish(api_error("RANDOM", _("Could not start the browser sign-in: the system's random "
                                                "source is not available.")));
          }
          connect->challenge = pkce_challenge(connect->verifier);
          connect->server = server_url;
          const std::string callback = std::string(kCallbackScheme) + "://" + kCallbackHost;
          const std::string url = server_url + "/extension/connect?challenge=" + url_encode(connect->challenge) +
                                  "&state=" + url_encode(connect->state) + "&redirect_uri=" + url_encode(callback) +
                                  "&browser=" + url_encode("Linux app");
          pending = std::move(connect);
          connect_done = finish;
          changed.emit();
          open_url(url);
        });
      },
      [this] {
        schedule_probe_destruction();
        if (!api_key.empty()) refresh_all();
      });
}

bool TrackerStore::handle_callback(const std::string& uri_text) {
  const UriPtr uri(g_uri_parse(uri_text.c_str(), G_URI_FLAGS_NONE, nullptr));
  if (!uri) return false;
  const char* scheme = g_uri_get_scheme(uri.get());
  const char* host = g_uri_get_host(uri.get());
  if (!scheme || std::string_view(scheme) != kCallbackScheme) return false;
  if (!host || std::string_view(host) != kCallbackHost) return false;

  std::string code;
  std::string state;
  if (const char* query = g_uri_get_query(uri.get())) {
    const HashTablePtr params(g_uri_parse_params(query, -1, "&", G_URI_PARAMS_NONE, nullptr));
    if (params) {
      if (auto* v = static_cast<const char*>(g_hash_table_lookup(params.get(), "code"))) code = v;
      if (auto* v = static_cast<const char*>(g_hash_table_lookup(params.get(), "state"))) state = v;
    }
  }
  finish_browser_sign_in(code, state);
  return true;
}

void TrackerStore::finish_browser_sign_in(const std::string& code, const std::string& state) {
  if (!pending || !connect_done) return;
  std::unique_ptr<PendingConnect> connect = std::move(pending);
  Finish done = std::move(connect_done);
  connect_done = nullptr;

  if (state != connect->state || code.empty()) {
    api::Error e;
    e.kind = api::Error::Kind::Unauthenticated;
    e.status = 401;
    return done(e);
  }
  if (!probe) probe = std::make_unique<api::Client>(connect->server, "");
  probe->exchange_connect_code(
      code, connect->verifier, [this, done, server_url = connect->server](api::Result<api::TokenResponse> answer) {
        if (!answer.ok()) return done(*answer.error);
        // An answer without a usable key is not a session: it would leave the store loading for ever.
        if (!looks_like_key(answer.value->api_key)) {
          api::Error e = not_a_server();
          e.status = 200;
          return done(e);
        }
        adopt(server_url, answer.value->api_key, "connect", api::Me{answer.value->user, answer.value->workspaces});
        done(std::nullopt);
      });
}

void TrackerStore::cancel_browser_sign_in() {
  pending.reset();
  if (connect_done) {
    Finish done = std::move(connect_done);
    connect_done = nullptr;
    done(std::nullopt);
  }
}

}  // namespace irvelo
