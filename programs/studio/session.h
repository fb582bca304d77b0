// session.h: one run of the studio: the server, and its link to the inbox
// that the studio thread takes the page's requests from.
//
// On the server's threads each message is read into a Request and queued;
// a message that cannot be read, or that finds the inbox full, is answered
// with an error at once, and the page's session goes on. A look request
// (what lies under the pointer) is answered there and then by the look
// handler, without the studio thread.
#pragma once

#include <functional>
#include <string>

#include "studio/inbox.h"
#include "studio/server.h"

namespace studio {

class Session {
 public:
  // Answers a look request, on a server thread.
  using LookHandler = std::function<std::string(const Request& look)>;

  // Starts the server; throws ServerError.
  Session(Inbox& inbox, const ServerOptions& options, LookHandler look = {});

  Server& Web() { return server; }
  std::string Url() const { return server.Url(); }
  // How the studio thread's messages go out (DialogBridge::Sender).
  void Send(ClientId client, std::string text, std::string key) {
    server.Send(client, std::move(text), std::move(key));
  }

 private:
  void Receive(ClientId client, std::string_view text);

  Inbox& inbox;
  LookHandler look;
  Server server;
};

}  // namespace studio
