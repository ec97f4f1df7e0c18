#include "http.hpp"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

#include "support/main_loop.hpp"

namespace irvelo::test {

struct Http::Impl {
  SoupSession* session = nullptr;
  GCancellable* cancellable = nullptr;
};

namespace {

struct Pending {
  SoupMessage* msg;
  Reply* out;
  bool* done;
};

void on_done(GObject* source, GAsyncResult* result, gpointer data) {
  auto* p = static_cast<Pending*>(data);
  GError* error = nullptr;
  GBytes* bytes = soup_session_send_and_read_finish(SOUP_SESSION(source), result, &error);
  if (error != nullptr) {
    p->out->status = 0;
    p->out->transport_error = error->message;
    g_error_free(error);
  } else {
    p->out->status = static_cast<int>(soup_message_get_status(p->msg));
    gsize size = 0;
    const char* data_ptr = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    p->out->body.assign(data_ptr != nullptr ? data_ptr : "", size);
    const char* ct = soup_message_headers_get_content_type(soup_message_get_response_headers(p->msg), nullptr);
    p->out->content_type = ct != nullptr ? ct : "";
    g_bytes_unref(bytes);
  }
  *p->done = true;
  g_object_unref(p->msg);
  delete p;
}

}  // namespace

Http::Http() : impl_(new Impl) {
  impl_->session = soup_session_new_with_options("timeout", 20, nullptr);
  impl_->cancellable = g_cancellable_new();
}

Http::~Http() {
  g_cancellable_cancel(impl_->cancellable);
  soup_session_abort(impl_->session);
  // Let cancelled calls finish so that nothing leaks.
  run_for(std::chrono::milliseconds(20));
  g_object_unref(impl_->cancellable);
  g_object_unref(impl_->session);
  delete impl_;
}

void Http::start(const Call& call, Reply* out, bool* done) {
  *done = false;
  SoupMessage* msg = soup_message_new(call.method.c_str(), call.url.c_str());
  ASSERT_NE(msg, nullptr) << call.url;
  SoupMessageHeaders* headers = soup_message_get_request_headers(msg);
  for (const auto& [name, value] : call.headers) soup_message_headers_append(headers, name.c_str(), value.c_str());
  if (call.body) {
    GBytes* bytes = g_bytes_new(call.body->data(), call.body->size());
    soup_message_set_request_body_from_bytes(msg, call.content_type.empty() ? nullptr : call.content_type.c_str(),
                                             bytes);
    g_bytes_unref(bytes);
  }
  auto* p = new Pending{msg, out, done};
  soup_session_send_and_read_async(impl_->session, msg, G_PRIORITY_DEFAULT, impl_->cancellable, on_done, p);
}

void Http::cancel_all() {
  g_cancellable_cancel(impl_->cancellable);
  g_object_unref(impl_->cancellable);
  impl_->cancellable = g_cancellable_new();
}

Reply Http::send(const Call& call) {
  Reply reply;
  bool done = false;
  start(call, &reply, &done);
  EXPECT_TRUE(run_until([&] { return done; })) << call.method << " " << call.url << " got no answer";
  return reply;
}

namespace {
Call make(const char* method, const std::string& url, const std::string& key) {
  Call c;
  c.method = method;
  c.url = url;
  c.headers["Accept"] = "application/json";
  if (!key.empty()) c.headers["Authorization"] = "Bearer " + key;
  return c;
}
}  // namespace

Reply Http::get(const std::string& url, const std::string& key) {
  return send(make("GET", url, key));
}

Reply Http::post(const std::string& url, const std::string& body, const std::string& key) {
  Call c = make("POST", url, key);
  c.body = body;
  return send(c);
}

Reply Http::patch(const std::string& url, const std::string& body, const std::string& key) {
  Call c = make("PATCH", url, key);
  c.body = body;
  return send(c);
}

Reply Http::del(const std::string& url, const std::string& key) {
  return send(make("DELETE", url, key));
}

}  // namespace irvelo::test
