#pragma once

#include <libsoup/soup.h>

#include <utility>
#include <vector>

#include "platform/HttpClient.h"

namespace brivok {

// HTTP to the local backend with libsoup on the main context: one session for the shell's
// life, never through a proxy (the backend is on this machine; an http_proxy in the user's
// environment must not reroute it), each request with its own time-out and reply limit.
class SoupHttpClient : public HttpClient {
 public:
  SoupHttpClient();
  ~SoupHttpClient() override;
  SoupHttpClient(const SoupHttpClient&) = delete;
  SoupHttpClient& operator=(const SoupHttpClient&) = delete;

  void send(const Request& request, std::function<void(Reply)> done) override;

 private:
  struct Exchange;
  static void sent(GObject* source, GAsyncResult* result, gpointer exchange);
  static void read(GObject* source, GAsyncResult* result, gpointer exchange);

  SoupSession* session_;
  // Exchanges that failed before they began, whose failure is told from the loop; let go
  // with the client.
  std::vector<std::pair<Exchange*, guint>> failing_;
  GCancellable* cancellable_;  // cancelled at teardown: no reply reaches a gone client
};

}  // namespace brivok
