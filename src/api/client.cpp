#include "api/client.hpp"

#include <gio/gio.h>
#include <libsoup/soup.h>
#include <sys/utsname.h>

#include <nlohmann/json.hpp>

#include <exception>
#include <string_view>
#include <utility>

#include "api/decode.hpp"
#include "api/intervals.hpp"
#include "api/pipeline.hpp"
#include "api/url.hpp"
#include "config.hpp"
#include "core/owned.hpp"

namespace irvelo::api {
namespace {

using json = nlohmann::json;

// The most of an answer that is read; a larger one is a bad answer, and
// reading stops there (a broken or hostile server could otherwise fill memory).
constexpr gsize kMaxAnswerBytes = 16 * 1024 * 1024;
constexpr gsize kReadChunkBytes = 64 * 1024;

// What one exchange hands on: the status and body, or a transport failure,
// or an answer too large to read.
struct Exchange {
  int status = 0;
  std::string body;
  std::optional<std::string> transport_error;
  bool oversized = false;
  bool unbuildable = false;  // never sent: the request could not be built
};
using RawCompletion = std::function<void(Exchange)>;

// One request in flight: owns its message, its body stream once the headers
// are in, a cancellable of its own (cancelled with the client's) and the
// completion. Deleted after the answer has been handled; for a cancelled
// request the completion is deleted without being called.
struct PendingRequest {
  ObjectPtr<SoupMessage> message;
  ObjectPtr<GCancellable> client_cancellable;
  ObjectPtr<GCancellable> cancellable;
  gulong forward_cancel = 0;
  ObjectPtr<GInputStream> stream;
  Exchange exchange;
  RawCompletion complete;

  ~PendingRequest() {
    if (forward_cancel != 0) g_cancellable_disconnect(client_cancellable.get(), forward_cancel);
  }

  [[nodiscard]] bool cancelled() const {
    return g_cancellable_is_cancelled(cancellable.get()) || g_cancellable_is_cancelled(client_cancellable.get());
  }
};

// Runs a caller's completion; a raise from it must not cross libsoup's C frames.
template <typename F, typename... Args>
void run_guarded(F& f, Args&&... args) {
  try {
    f(std::forward<Args>(args)...);
  } catch (const std::exception& e) {
    g_log(nullptr, G_LOG_LEVEL_WARNING, "API completion raised: %s", e.what());
  } catch (...) {
    g_log(nullptr, G_LOG_LEVEL_WARNING, "API completion raised");
  }
}

void finish(std::unique_ptr<PendingRequest> request) {
  // The message's connection is given up with an unfinished body: cancelling
  // first makes libsoup close it instead of reading the rest.
  if (request->exchange.oversized) g_cancellable_cancel(request->cancellable.get());
  request->stream.reset();
  run_guarded(request->complete, std::move(request->exchange));
}

void fail(std::unique_ptr<PendingRequest> request, const GError* error) {
  request->exchange.transport_error = error->message != nullptr ? error->message : "";
  finish(std::move(request));
}

void read_more(std::unique_ptr<PendingRequest> request);

void on_read(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<PendingRequest> request(static_cast<PendingRequest*>(data));
  ErrorPtr error;
  const BytesPtr bytes(g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, out(error)));
  // A cancelled request (its client destroyed) reaches nobody.
  if (request->cancelled()) return;
  if (error != nullptr) return fail(std::move(request), error.get());
  gsize size = 0;
  const auto* raw = static_cast<const char*>(g_bytes_get_data(bytes.get(), &size));
  if (size == 0) return finish(std::move(request));
  std::string& body = request->exchange.body;
  if (body.size() + size > kMaxAnswerBytes) {
    request->exchange.oversized = true;
    return finish(std::move(request));
  }
  body.append(raw, size);
  read_more(std::move(request));
}

void read_more(std::unique_ptr<PendingRequest> request) {
  GInputStream* stream = request->stream.get();
  GCancellable* cancellable = request->cancellable.get();
  g_input_stream_read_bytes_async(stream, kReadChunkBytes, G_PRIORITY_DEFAULT, cancellable, &on_read,
                                  request.release());
}

void on_headers(GObject* source, GAsyncResult* result, gpointer data) {
  std::unique_ptr<PendingRequest> request(static_cast<PendingRequest*>(data));
  ErrorPtr error;
  request->stream.reset(soup_session_send_finish(SOUP_SESSION(source), result, out(error)));
  if (request->cancelled()) return;
  if (error != nullptr) return fail(std::move(request), error.get());

  SoupMessage* message = request->message.get();
  request->exchange.status = static_cast<int>(soup_message_get_status(message));
  SoupMessageHeaders* headers = soup_message_get_response_headers(message);
  if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH &&
      soup_message_headers_get_content_length(headers) > static_cast<goffset>(kMaxAnswerBytes)) {
    request->exchange.oversized = true;
    return finish(std::move(request));
  }
  read_more(std::move(request));
}

// The request message for the address, or nullptr when libsoup cannot take
// it: the address must parse as libsoup parses HTTP addresses and name an
// http or https host (checked here, so that libsoup's own assertion never
// fires for an odd base address).
ObjectPtr<SoupMessage> new_message(const char* method, const std::string& address) {
  if (address.find('\0') != std::string::npos) return nullptr;
  const UriPtr uri(g_uri_parse(address.c_str(), static_cast<GUriFlags>(SOUP_HTTP_URI_FLAGS), nullptr));
  if (!uri) return nullptr;
  const char* scheme = g_uri_get_scheme(uri.get());
  const char* host = g_uri_get_host(uri.get());
  if (scheme == nullptr || (g_ascii_strcasecmp(scheme, "http") != 0 && g_ascii_strcasecmp(scheme, "https") != 0))
    return nullptr;
  if (host == nullptr || *host == '\0') return nullptr;
  ObjectPtr<SoupMessage> message(soup_message_new_from_uri(method, uri.get()));
  // A redirect would carry the key to whatever address the answer names,
  // another host or plain http included; a 3xx answer is a failure instead.
  soup_message_add_flags(message.get(), SOUP_MESSAGE_NO_REDIRECT);
  return message;
}

std::string workspace_path(const std::string& workspace_id, const std::string& suffix) {
  return "workspaces/" + url_encode(workspace_id) + suffix;
}

}  // namespace

struct Client::Impl {
  ObjectPtr<SoupSession> session;
  ObjectPtr<GCancellable> cancellable;
  std::string base_url;
  std::string api_key;

  // The request message, with headers and body, or nullptr when the request
  // cannot be built (address refused by the HTTP library, body that cannot be
  // serialised). Never raises.
  ObjectPtr<SoupMessage> build(const char* method, const std::string& address, const json* body,
                               bool authenticated) const {
    ObjectPtr<SoupMessage> message = new_message(method, address);
    if (!message) return nullptr;

    SoupMessageHeaders* headers = soup_message_get_request_headers(message.get());
    soup_message_headers_append(headers, "Accept", "application/json");
    soup_message_headers_append(headers, "X-Client", client_header().c_str());
    if (authenticated && !api_key.empty()) {
      // A key that cannot travel in a header line makes the request unbuildable.
      if (api_key.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) return nullptr;
      const std::string bearer = "Bearer " + api_key;
      soup_message_headers_append(headers, "Authorization", bearer.c_str());
    }

    if (body != nullptr) {
      std::string text;
      try {
        // Compact, keys in ascending byte order (std::map), non-ASCII as raw
        // UTF-8; raises type_error 316 for text that is not valid UTF-8.
        text = body->dump(-1, ' ', false, json::error_handler_t::strict);
      } catch (...) {
        return nullptr;
      }
      const BytesPtr bytes(g_bytes_new(text.data(), text.size()));
      soup_message_set_request_body_from_bytes(message.get(), "application/json", bytes.get());
    }
    return message;
  }

  // For a request that cannot be built: the completion still runs from the
  // main loop, as every other, unless the client is cancelled before then.
  void refuse(RawCompletion complete) const {
    struct Refused {
      ObjectPtr<GCancellable> cancellable;
      RawCompletion complete;
    };
    auto* refused = new Refused{ObjectPtr<GCancellable>(static_cast<GCancellable*>(g_object_ref(cancellable.get()))),
                                std::move(complete)};
    const SourcePtr source(g_idle_source_new());
    g_source_set_priority(source.get(), G_PRIORITY_DEFAULT);
    g_source_set_callback(
        source.get(),
        [](gpointer data) -> gboolean {
          auto* r = static_cast<Refused*>(data);
          if (!g_cancellable_is_cancelled(r->cancellable.get())) {
            Exchange exchange;
            exchange.unbuildable = true;
            run_guarded(r->complete, std::move(exchange));
          }
          return G_SOURCE_REMOVE;
        },
        refused, [](gpointer data) { delete static_cast<Refused*>(data); });
    const MainContextPtr context(g_main_context_ref_thread_default());
    g_source_attach(source.get(), context.get());
  }

  void dispatch(ObjectPtr<SoupMessage> message, RawCompletion complete) const {
    SoupMessage* sent = message.get();
    auto request = std::make_unique<PendingRequest>();
    request->message = std::move(message);
    request->client_cancellable.reset(static_cast<GCancellable*>(g_object_ref(cancellable.get())));
    request->cancellable.reset(g_cancellable_new());
    // The client's cancellation reaches the request's own cancellable; an
    // already cancelled client cancels it at once.
    request->forward_cancel = g_cancellable_connect(
        cancellable.get(), G_CALLBACK(+[](GCancellable*, gpointer own) { g_cancellable_cancel(G_CANCELLABLE(own)); }),
        request->cancellable.get(), nullptr);
    request->complete = std::move(complete);
    GCancellable* own = request->cancellable.get();
    // The request is owned by its callbacks from here on (on_headers, on_read).
    soup_session_send_async(session.get(), sent, G_PRIORITY_DEFAULT, own, &on_headers, request.release());
  }
};

Client::Client(std::string base_url, std::string api_key) : impl_(std::make_unique<Impl>()) {
  const std::string user_agent = std::string(config::kProgramName) + "/" + config::kVersion;
  impl_->session.reset(soup_session_new_with_options("user-agent", user_agent.c_str(), "timeout",
                                                     request_timeout_seconds(), static_cast<const char*>(nullptr)));
  impl_->cancellable.reset(g_cancellable_new());
  impl_->base_url = std::move(base_url);
  impl_->api_key = std::move(api_key);
}

Client::~Client() {
  // Every request in flight ends without reaching its completion; the
  // session and the cancellable go with impl_.
  g_cancellable_cancel(impl_->cancellable.get());
  soup_session_abort(impl_->session.get());
}

void Client::cancel_all() {
  g_cancellable_cancel(impl_->cancellable.get());
}

const std::string& Client::base_url() const {
  return impl_->base_url;
}

const std::string& Client::client_header() {
  // Thread-safe one-time initialisation (function-local static).
  static const std::string value = [] {
    std::string os = "Linux";
    struct utsname names {};
    if (uname(&names) == 0) os = std::string(names.sysname) + " " + names.release;
    return std::string("linux/") + config::kVersion + " (" + os + ")";
  }();
  return value;
}

template <typename T>
void Client::send(const char* method, const std::string& path, const json* body, bool authenticated,
                  const char* api_prefix, std::function<T(const json&)> decode, Done<T> done) {
  const std::string address = impl_->base_url + "/" + api_prefix + "/" + path;
  ObjectPtr<SoupMessage> message = impl_->build(method, address, body, authenticated);
  RawCompletion complete = [decode = std::move(decode), done = std::move(done)](Exchange exchange) {
    if (exchange.unbuildable) {
      run_guarded(done, Result<T>::failure(bad_response(0, "the request could not be built")));
      return;
    }
    if (exchange.oversized) {
      g_log(nullptr, G_LOG_LEVEL_WARNING, "answer with HTTP %d is larger than %zu bytes; not read", exchange.status,
            static_cast<std::size_t>(kMaxAnswerBytes));
      run_guarded(done, Result<T>::failure(bad_response(exchange.status)));
      return;
    }
    run_guarded(done, classify<T>(exchange.status, exchange.body, exchange.transport_error, decode));
  };
  if (!message) {
    impl_->refuse(std::move(complete));
    return;
  }
  impl_->dispatch(std::move(message), std::move(complete));
}

void Client::health(Done<Health> done) {
  send<Health>("GET", "health", nullptr, false, "api", &parse_irvelo_health, std::move(done));
}

void Client::me(Done<Me> done) {
  send<Me>("GET", "me", nullptr, true, "api/v1", &parse_me, std::move(done));
}

void Client::exchange_connect_code(const std::string& code, const std::string& verifier, Done<TokenResponse> done) {
  json body = json::object();
  body["code"] = code;
  body["verifier"] = verifier;
  send<TokenResponse>("POST", "extension/token", &body, false, "api/v1", &parse_token_response, std::move(done));
}

void Client::revoke_key(Done<Empty> done) {
  send<Empty>("DELETE", "extension/token", nullptr, true, "api/v1", &ignore_answer, std::move(done));
}

void Client::bootstrap(const std::string& workspace_id, Done<Bootstrap> done) {
  send<Bootstrap>("GET", workspace_path(workspace_id, "/bootstrap"), nullptr, true, "api/v1", &parse_bootstrap,
                  std::move(done));
}

void Client::projects(const std::string& workspace_id, Done<std::vector<PickerProject>> done) {
  send<std::vector<PickerProject>>("GET", workspace_path(workspace_id, "/projects"), nullptr, true, "api/v1",
                                   &parse_projects, std::move(done));
}

void Client::running(const std::string& workspace_id, Done<std::optional<TimeEntry>> done) {
  send<std::optional<TimeEntry>>("GET", workspace_path(workspace_id, "/time-entries/running"), nullptr, true, "api/v1",
                                 &running_of, std::move(done));
}

void Client::start_timer(const std::string& workspace_id, const json& body, Done<std::optional<TimeEntry>> done) {
  send<std::optional<TimeEntry>>("POST", workspace_path(workspace_id, "/timer/start"), &body, true, "api/v1",
                                 &running_of, std::move(done));
}

void Client::stop_timer(const std::string& workspace_id, Done<Empty> done) {
  const json empty = json::object();
  send<Empty>("POST", workspace_path(workspace_id, "/timer/stop"), &empty, true, "api/v1", &ignore_answer,
              std::move(done));
}

void Client::discard_timer(const std::string& workspace_id, Done<Empty> done) {
  send<Empty>("DELETE", workspace_path(workspace_id, "/timer"), nullptr, true, "api/v1", &ignore_answer,
              std::move(done));
}

void Client::update_entry(const std::string& workspace_id, const std::string& entry_id, const json& patch,
                          Done<Empty> done) {
  send<Empty>("PATCH", workspace_path(workspace_id, "/time-entries/" + url_encode(entry_id)), &patch, true, "api/v1",
              &ignore_answer, std::move(done));
}

void Client::continue_entry(const std::string& workspace_id, const std::string& entry_id,
                            Done<std::optional<TimeEntry>> done) {
  const json empty = json::object();
  send<std::optional<TimeEntry>>("POST",
                                 workspace_path(workspace_id, "/time-entries/" + url_encode(entry_id) + "/continue"),
                                 &empty, true, "api/v1", &running_of, std::move(done));
}

}  // namespace irvelo::api
