// The transport of the development service: a SoupServer on 127.0.0.1 that
// logs requests, applies injected faults, answers the admin prefix itself and
// hands everything else to the Service.

#include "devserver/dev_server.hpp"

#include <glib.h>
#include <libsoup/soup.h>

#include <cstdio>
#include <list>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <utility>

#include "core/owned.hpp"
#include "devserver/service.hpp"

namespace irvelo::devserver {

using nlohmann::json;

namespace {

constexpr std::string_view kAdminPrefix = "/__admin/";

bool fault_matches(const std::string& pattern, const std::string& path) {
  if (!pattern.empty() && pattern.back() == '*')
    return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
  return pattern == path;
}

HttpRequest read_request(SoupServerMessage* msg) {
  HttpRequest r;
  r.method = soup_server_message_get_method(msg);
  GUri* uri = soup_server_message_get_uri(msg);
  if (const char* p = g_uri_get_path(uri)) r.path = p;
  if (const char* q = g_uri_get_query(uri)) r.query = q;
  soup_message_headers_foreach(
      soup_server_message_get_request_headers(msg),
      [](const char* name, const char* value, gpointer data) {
        auto& headers = *static_cast<std::map<std::string, std::string>*>(data);
        const CharPtr lower(g_ascii_strdown(name, -1));
        auto [it, inserted] = headers.emplace(lower.get(), value);
        if (!inserted) it->second += std::string(", ") + value;
      },
      &r.headers);
  SoupMessageBody* body = soup_server_message_get_request_body(msg);
  if (body != nullptr && body->data != nullptr && body->length > 0)
    r.body.assign(body->data, static_cast<std::size_t>(body->length));
  return r;
}

void respond(SoupServerMessage* msg, const HttpResponse& response) {
  soup_server_message_set_status(msg, static_cast<guint>(response.status), nullptr);
  SoupMessageHeaders* headers = soup_server_message_get_response_headers(msg);
  for (const auto& [name, value] : response.headers) soup_message_headers_replace(headers, name.c_str(), value.c_str());
  if (!response.body.empty() || !response.content_type.empty())
    soup_server_message_set_response(msg, response.content_type.empty() ? nullptr : response.content_type.c_str(),
                                     SOUP_MEMORY_COPY, response.body.data(), response.body.size());
}

// Ends the connection in the middle of an answer: the headers promise a body
// that never comes. A silent close before any byte would make libsoup (and
// other clients) repeat the request on a new connection when the connection
// had been kept alive from an earlier request; a cut-off body is a transport
// failure that no client retries.
void drop(SoupServerMessage* msg) {
  const ObjectPtr<GIOStream> stream(soup_server_message_steal_connection(msg));
  if (stream == nullptr) return;
  static constexpr char kPartial[] =
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 4096\r\n\r\n{\"running\":";
  g_output_stream_write_all(g_io_stream_get_output_stream(stream.get()), kPartial, sizeof kPartial - 1, nullptr,
                            nullptr, nullptr);
  g_io_stream_close(stream.get(), nullptr, nullptr);
}

// Writes an oversized answer on a stolen connection: the Endless body in
// 1-MiB chunks, one write at a time, bounded so that a client that reads
// everything still ends (64 MiB); then the connection is held open.
struct OversizeWriter {
  static constexpr int kChunks = 64;
  static inline const std::string kChunk = [] {
    const std::string data(1024 * 1024, ' ');
    return "100000\r\n" + data + "\r\n";
  }();

  ObjectPtr<GIOStream> stream;
  GCancellable* cancellable = nullptr;  // the server's
  std::vector<ObjectPtr<GIOStream>>* held = nullptr;
  int* writing = nullptr;  // the server waits for this count to reach 0 before it goes
  int left = kChunks;

  ~OversizeWriter() { --*writing; }

  static void start(ObjectPtr<GIOStream> stream, Fault::Oversize kind, GCancellable* cancellable,
                    std::vector<ObjectPtr<GIOStream>>* held, int* writing) {
    ++*writing;
    auto* w = new OversizeWriter{std::move(stream), cancellable, held, writing,
                                 kind == Fault::Oversize::Endless ? kChunks : 0};
    static const std::string kDeclared =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 1073741824\r\n\r\n";
    static const std::string kEndless =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n";
    w->write(kind == Fault::Oversize::Endless ? kEndless : kDeclared);
  }

  void write(const std::string& data) {
    g_output_stream_write_all_async(g_io_stream_get_output_stream(stream.get()), data.data(), data.size(),
                                    G_PRIORITY_DEFAULT, cancellable, &OversizeWriter::written, this);
  }

  static void written(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<OversizeWriter> w(static_cast<OversizeWriter*>(data));
    const bool ok = g_output_stream_write_all_finish(G_OUTPUT_STREAM(source), result, nullptr, nullptr);
    // Cancelled: the server is going.
    if (!ok || g_cancellable_is_cancelled(w->cancellable)) return;
    if (w->left > 0) {
      --w->left;
      w.release()->write(kChunk);
      return;
    }
    w->held->push_back(std::move(w->stream));
  }
};

json request_json(const RecordedRequest& r) {
  return {{"method", r.method}, {"path", r.path}, {"query", r.query}, {"headers", r.headers}, {"body", r.body}};
}

HttpResponse admin_error(int status, const std::string& message) {
  HttpResponse r;
  r.status = status;
  r.body = json{{"error", {{"code", "ADMIN"}, {"message", message}}}}.dump();
  return r;
}

HttpResponse admin_json(const json& body) {
  HttpResponse r;
  r.body = body.dump();
  return r;
}

HttpResponse admin_done() {
  HttpResponse r;
  r.status = 204;
  r.content_type.clear();
  return r;
}

}  // namespace

struct DevServer::Impl {
  // A message held back by a delay.
  struct Pending {
    Impl* impl = nullptr;
    ObjectPtr<SoupServerMessage> msg;
    SourcePtr source;
    gulong disconnected = 0;
    bool gone = false;
    HttpRequest request;
    Fault fault;
    std::optional<HttpResponse> early;  // made on arrival
  };

  explicit Impl(const Options& options) : service(options.seed), log_requests(options.log_requests) {}

  Service service;
  bool log_requests = false;
  ObjectPtr<SoupServer> server;
  MainContextPtr context;
  std::uint16_t port = 0;
  std::vector<RecordedRequest> log;
  std::vector<std::pair<std::string, Fault>> faults;  // in injection order
  std::list<Pending> pending;
  // Connections of oversized answers: their writes end with the server, and
  // they stay open until then.
  ObjectPtr<GCancellable> cancellable{g_cancellable_new()};
  std::vector<ObjectPtr<GIOStream>> held;
  int writing = 0;

  std::optional<Fault> take_fault(const std::string& path) {
    for (auto it = faults.begin(); it != faults.end(); ++it) {
      if (!fault_matches(it->first, path)) continue;
      Fault f = it->second;
      if (it->second.count > 0 && --it->second.count == 0) faults.erase(it);
      return f;
    }
    return std::nullopt;
  }

  void add_fault(const std::string& path, Fault fault) {
    if (fault.count == 0) return;
    faults.emplace_back(path, std::move(fault));
  }

  void answer(SoupServerMessage* msg, const HttpRequest& request, const std::optional<Fault>& fault) {
    if (fault && fault->drop_connection) {
      drop(msg);
      return;
    }
    if (fault && fault->oversize != Fault::Oversize::Off) {
      if (ObjectPtr<GIOStream> stream{soup_server_message_steal_connection(msg)})
        OversizeWriter::start(std::move(stream), fault->oversize, cancellable.get(), &held, &writing);
      return;
    }
    if (fault && fault->status != 0) {
      HttpResponse r;
      r.status = fault->status;
      r.body = fault->body;
      r.content_type = fault->content_type;
      r.headers = fault->headers;
      respond(msg, r);
      return;
    }
    respond(msg, service.handle(request));
  }

  static void on_disconnected(SoupServerMessage*, gpointer data) { static_cast<Pending*>(data)->gone = true; }

  static gboolean on_delay_over(gpointer data) {
    auto* p = static_cast<Pending*>(data);
    Impl* impl = p->impl;
    // Kept past the erasing of its entry (which releases the source) below.
    const ObjectPtr<SoupServerMessage> msg = std::move(p->msg);
    if (!p->gone) {
      soup_server_message_unpause(msg.get());
      if (p->early)
        respond(msg.get(), *p->early);
      else
        impl->answer(msg.get(), p->request, p->fault);
    }
    g_signal_handler_disconnect(msg.get(), p->disconnected);
    for (auto it = impl->pending.begin(); it != impl->pending.end(); ++it)
      if (&*it == p) {
        impl->pending.erase(it);
        break;
      }
    return G_SOURCE_REMOVE;
  }

  void delay(SoupServerMessage* msg, HttpRequest request, Fault fault) {
    Pending& p = pending.emplace_back();
    p.impl = this;
    p.msg.reset(static_cast<SoupServerMessage*>(g_object_ref(msg)));
    p.request = std::move(request);
    p.fault = std::move(fault);
    if (p.fault.answer_on_arrival && p.fault.status == 0) p.early = service.handle(p.request);
    p.disconnected = g_signal_connect(msg, "disconnected", G_CALLBACK(on_disconnected), &p);
    soup_server_message_pause(msg);
    p.source.reset(g_timeout_source_new(static_cast<guint>(p.fault.delay_ms)));
    g_source_set_callback(p.source.get(), on_delay_over, &p, nullptr);
    g_source_attach(p.source.get(), context.get());
  }

  static void on_request(SoupServer*, SoupServerMessage* msg, const char*, GHashTable*, gpointer data) {
    auto* impl = static_cast<Impl*>(data);
    HttpRequest request = read_request(msg);
    if (request.path.rfind(kAdminPrefix, 0) == 0) {
      respond(msg, impl->admin(request));
      return;
    }
    if (impl->log_requests)
      std::fprintf(stderr, "%s %s%s%s\n", request.method.c_str(), request.path.c_str(),
                   request.query.empty() ? "" : "?", request.query.c_str());
    impl->log.push_back(RecordedRequest{request.method, request.path, request.query, request.headers, request.body});
    std::optional<Fault> fault = impl->take_fault(request.path);
    if (fault && fault->delay_ms > 0) {
      impl->delay(msg, std::move(request), *fault);
      return;
    }
    impl->answer(msg, request, fault);
  }

  HttpResponse admin(const HttpRequest& request) {
    const std::string what = request.path.substr(kAdminPrefix.size());
    const std::string& method = request.method;
    json body = json::object();
    if (!request.body.empty()) {
      body = json::parse(request.body, nullptr, false);
      if (body.is_discarded() || !body.is_object()) return admin_error(400, "the body must be a JSON object");
    }
    try {
      if (what == "requests" && method == "GET") {
        json out = json::array();
        for (const auto& r : log) out.push_back(request_json(r));
        return admin_json(out);
      }
      if (what == "requests" && method == "DELETE") {
        log.clear();
        return admin_done();
      }
      if (what == "faults" && method == "POST") {
        if (!body.contains("path") || !body["path"].is_string()) return admin_error(400, "a fault needs a \"path\"");
        Fault f;
        f.status = body.value("status", f.status);
        f.body = body.value("body", f.body);
        f.content_type = body.value("contentType", f.content_type);
        f.delay_ms = body.value("delayMs", f.delay_ms);
        f.drop_connection = body.value("dropConnection", f.drop_connection);
        f.count = body.value("count", f.count);
        f.answer_on_arrival = body.value("answerOnArrival", f.answer_on_arrival);
        f.headers = body.value("headers", f.headers);
        const std::string oversize = body.value("oversize", std::string());
        if (oversize == "declared") f.oversize = Fault::Oversize::Declared;
        if (oversize == "endless") f.oversize = Fault::Oversize::Endless;
        add_fault(body["path"].get<std::string>(), f);
        return admin_done();
      }
      if (what == "faults" && method == "DELETE") {
        faults.clear();
        return admin_done();
      }
      if (what == "reset" && method == "POST") {
        service.reset_state();
        return admin_done();
      }
      if (what == "state" && method == "GET") {
        return admin_json({{"baseUrl", "http://127.0.0.1:" + std::to_string(port)},
                           {"apiKey", service.api_key()},
                           {"workspaceIds", service.workspace_ids()}});
      }
      if (what == "rules" && method == "POST") {
        service.set_rules(body.at("workspaceId").get<std::string>(), body.value("project", false),
                          body.value("task", false), body.value("description", false));
        return admin_done();
      }
      if (what == "billable" && method == "POST") {
        service.set_can_change_billable(body.at("workspaceId").get<std::string>(), body.at("allowed").get<bool>());
        return admin_done();
      }
      if (what == "keys" && method == "POST") return admin_json({{"apiKey", service.add_api_key()}});
      if (what == "connect-codes" && method == "POST")
        return admin_json({{"code", service.issue_connect_code(body.at("challenge").get<std::string>())}});
    } catch (const std::exception& e) {
      return admin_error(400, e.what());
    }
    return admin_error(404, "no such admin call: " + method + " " + request.path);
  }
};

DevServer::DevServer(Options options) : impl_(std::make_unique<Impl>(options)) {
  impl_->context.reset(g_main_context_ref_thread_default());
  // raw-paths: the path arrives (and is logged) as sent; segments are decoded here.
  impl_->server.reset(soup_server_new("server-header", "irvelo-devserver ", "raw-paths", TRUE, nullptr));
  soup_server_add_handler(impl_->server.get(), nullptr, &Impl::on_request, impl_.get(), nullptr);
  ErrorPtr error;
  if (!soup_server_listen_local(impl_->server.get(), options.port, SOUP_SERVER_LISTEN_IPV4_ONLY, out(error))) {
    // The server and the context go with impl_ as the exception leaves.
    const std::string message = error != nullptr ? error->message : "unknown error";
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(options.port) + ": " + message);
  }
  const UriListPtr uris(soup_server_get_uris(impl_->server.get()));
  if (uris != nullptr) impl_->port = static_cast<std::uint16_t>(g_uri_get_port(static_cast<GUri*>(uris->data)));
}

DevServer::~DevServer() {
  for (auto& p : impl_->pending) {
    g_source_destroy(p.source.get());
    g_signal_handler_disconnect(p.msg.get(), p.disconnected);
  }
  soup_server_disconnect(impl_->server.get());
  impl_->server.reset();
  // The held-back messages, after the server, with their destroyed sources.
  impl_->pending.clear();
  g_cancellable_cancel(impl_->cancellable.get());
  // Cancelled writes report back through the main context.
  while (impl_->writing > 0) g_main_context_iteration(impl_->context.get(), TRUE);
  impl_->held.clear();
  impl_->cancellable.reset();
  impl_->context.reset();
}

void DevServer::refuse_connections() {
  soup_server_disconnect(impl_->server.get());
}

void DevServer::accept_connections() {
  ErrorPtr error;
  if (!soup_server_listen_local(impl_->server.get(), impl_->port, SOUP_SERVER_LISTEN_IPV4_ONLY, out(error))) {
    throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(impl_->port) + ": " +
                             (error != nullptr ? error->message : "unknown error"));
  }
}

std::string DevServer::base_url() const {
  return "http://127.0.0.1:" + std::to_string(impl_->port);
}
std::uint16_t DevServer::port() const {
  return impl_->port;
}
std::string DevServer::api_key() const {
  return impl_->service.api_key();
}
std::vector<std::string> DevServer::workspace_ids() const {
  return impl_->service.workspace_ids();
}
const std::vector<RecordedRequest>& DevServer::requests() const {
  return impl_->log;
}
void DevServer::clear_requests() {
  impl_->log.clear();
}
void DevServer::inject_fault(const std::string& path, Fault fault) {
  impl_->add_fault(path, std::move(fault));
}
void DevServer::clear_faults() {
  impl_->faults.clear();
}

void DevServer::set_rules(const std::string& workspace_id, bool require_project, bool require_task,
                          bool require_description) {
  impl_->service.set_rules(workspace_id, require_project, require_task, require_description);
}
void DevServer::set_can_change_billable(const std::string& workspace_id, bool allowed) {
  impl_->service.set_can_change_billable(workspace_id, allowed);
}
std::string DevServer::add_api_key() {
  return impl_->service.add_api_key();
}
void DevServer::set_clock_offset(std::int64_t seconds) {
  impl_->service.set_clock_offset(seconds);
}
void DevServer::remove_membership(const std::string& workspace_id) {
  impl_->service.remove_membership(workspace_id);
}
void DevServer::reset_state() {
  impl_->service.reset_state();
}
std::string DevServer::issue_connect_code(const std::string& code_challenge) {
  return impl_->service.issue_connect_code(code_challenge);
}

}  // namespace irvelo::devserver
