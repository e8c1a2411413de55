#include "gtk/SoupHttpClient.h"

#include <algorithm>
#include <memory>

namespace brivok {

struct SoupHttpClient::Exchange {
  std::function<void(Reply)> done;
  SoupMessage* message = nullptr;
  GCancellable* cancellable = nullptr;
  GCancellable* all = nullptr;  // the client's, which cancels this one with it
  gulong allHandler = 0;
  GInputStream* stream = nullptr;
  guint timeout = 0;
  std::size_t limit = 0;
  Reply reply;
  SoupHttpClient* owner = nullptr;  // while its failure waits to be told

  ~Exchange() {
    g_clear_handle_id(&timeout, g_source_remove);
    if (stream) g_object_unref(stream);
    if (all) {
      g_cancellable_disconnect(all, allHandler);
      g_object_unref(all);
    }
    if (cancellable) g_object_unref(cancellable);
    if (message) g_object_unref(message);
  }
  // Ends the exchange: `done` runs once, with the reply or a failure.
  static void end(Exchange* exchange, bool ok) {
    std::unique_ptr<Exchange> self(exchange);
    if (!ok) self->reply = Reply{};
    if (self->done) self->done(std::move(self->reply));
  }
};

SoupHttpClient::SoupHttpClient()
    : session_(soup_session_new_with_options("timeout", 0u, "idle-timeout", 60u, nullptr)),
      cancellable_(g_cancellable_new()) {
  soup_session_set_proxy_resolver(session_, nullptr);
}

SoupHttpClient::~SoupHttpClient() {
  for (auto& [exchange, source] : failing_) {
    g_source_remove(source);
    delete exchange;
  }
  g_cancellable_cancel(cancellable_);
  soup_session_abort(session_);
  g_object_unref(cancellable_);
  g_object_unref(session_);
}

void SoupHttpClient::send(const Request& request, std::function<void(Reply)> done) {
  auto* exchange = new Exchange;
  exchange->done = std::move(done);
  exchange->limit = request.maxReplyBytes;
  exchange->message = soup_message_new(request.method.c_str(), request.url.c_str());
  if (!exchange->message) {
    // Not an address libsoup takes: a failure, reported later like every other.
    exchange->owner = this;
    const guint source = g_idle_add(
        +[](gpointer data) -> gboolean {
          auto* e = static_cast<Exchange*>(data);
          auto& failing = e->owner->failing_;
          failing.erase(std::find_if(failing.begin(), failing.end(),
                                     [e](const auto& f) { return f.first == e; }));
          Exchange::end(e, false);
          return G_SOURCE_REMOVE;
        },
        exchange);
    failing_.emplace_back(exchange, source);
    return;
  }
  SoupMessageHeaders* headers = soup_message_get_request_headers(exchange->message);
  const char* contentType = nullptr;
  for (const auto& [name, value] : request.headers) {
    if (g_ascii_strcasecmp(name.c_str(), "Content-Type") == 0) {
      contentType = value.c_str();
    } else {
      soup_message_headers_replace(headers, name.c_str(), value.c_str());
    }
  }
  if (request.body) {
    GBytes* body = g_bytes_new(request.body->data(), request.body->size());
    soup_message_set_request_body_from_bytes(exchange->message, contentType, body);
    g_bytes_unref(body);
  } else if (contentType) {
    soup_message_headers_replace(headers, "Content-Type", contentType);
  }
  // Each exchange can be given up alone (its time-out) or with all others (the client goes).
  exchange->cancellable = g_cancellable_new();
  exchange->all = G_CANCELLABLE(g_object_ref(cancellable_));
  exchange->allHandler = g_cancellable_connect(
      cancellable_,
      G_CALLBACK(+[](GCancellable*, gpointer own) { g_cancellable_cancel(G_CANCELLABLE(own)); }),
      g_object_ref(exchange->cancellable), g_object_unref);
  const auto ms = static_cast<guint>(std::max<long long>(1, request.timeout.count()));
  exchange->timeout = g_timeout_add(
      ms,
      +[](gpointer data) -> gboolean {
        auto* e = static_cast<Exchange*>(data);
        e->timeout = 0;
        g_cancellable_cancel(e->cancellable);
        return G_SOURCE_REMOVE;
      },
      exchange);
  soup_session_send_async(session_, exchange->message, G_PRIORITY_DEFAULT, exchange->cancellable,
                          &SoupHttpClient::sent, exchange);
}

void SoupHttpClient::sent(GObject* source, GAsyncResult* result, gpointer data) {
  auto* exchange = static_cast<Exchange*>(data);
  exchange->stream = soup_session_send_finish(SOUP_SESSION(source), result, nullptr);
  if (!exchange->stream) {
    Exchange::end(exchange, false);
    return;
  }
  exchange->reply.status = static_cast<int>(soup_message_get_status(exchange->message));
  g_input_stream_read_bytes_async(exchange->stream, 64 * 1024, G_PRIORITY_DEFAULT,
                                  exchange->cancellable, &SoupHttpClient::read, exchange);
}

void SoupHttpClient::read(GObject* source, GAsyncResult* result, gpointer data) {
  auto* exchange = static_cast<Exchange*>(data);
  GBytes* bytes = g_input_stream_read_bytes_finish(G_INPUT_STREAM(source), result, nullptr);
  if (!bytes) {
    Exchange::end(exchange, false);
    return;
  }
  gsize size = 0;
  const auto* chunk = static_cast<const char*>(g_bytes_get_data(bytes, &size));
  if (size == 0) {
    g_bytes_unref(bytes);
    Exchange::end(exchange, true);
    return;
  }
  // Beyond the limit the reply is no reply; the rest is never read.
  if (exchange->reply.body.size() + size > exchange->limit) {
    g_bytes_unref(bytes);
    Exchange::end(exchange, false);
    return;
  }
  exchange->reply.body.append(chunk, size);
  g_bytes_unref(bytes);
  g_input_stream_read_bytes_async(exchange->stream, 64 * 1024, G_PRIORITY_DEFAULT,
                                  exchange->cancellable, &SoupHttpClient::read, exchange);
}

}  // namespace brivok
