// session.cpp: the page's messages read and queued on the server's threads.
#include "studio/session.h"

namespace studio {

Session::Session(Inbox& in, const ServerOptions& options, LookHandler handler)
    : inbox(in),
      look(std::move(handler)),
      server(options, [this](ClientId client, std::string_view text) { Receive(client, text); }) {}

void Session::Receive(ClientId client, std::string_view text) {
  try {
    Request request = ReadRequest(text, client);
    const int64_t seq = request.seq;
    if (request.kind == RequestKind::Look) {
      server.Send(client, look ? look(request) : ErrorMessage(seq, "there is no frame to look at"));
      return;
    }
    if (!inbox.Push(std::move(request))) {
      server.Send(client, ErrorMessage(seq, "the studio is busy or stopping: message dropped"));
    }
  } catch (const RequestError& error) {
    server.Send(client, ErrorMessage(error.seq, error.what()));
  }
}

}  // namespace studio
