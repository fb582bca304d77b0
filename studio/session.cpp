// session.cpp: the page's messages read and queued on the server's threads.
#include "studio/session.h"

namespace studio {

Session::Session(Inbox& in, const ServerOptions& options)
    : inbox(in),
      server(options, [this](ClientId client, std::string_view text) { Receive(client, text); }) {}

void Session::Receive(ClientId client, std::string_view text) {
  try {
    Request request = ReadRequest(text, client);
    const int64_t seq = request.seq;
    if (!inbox.Push(std::move(request))) {
      server.Send(client, ErrorMessage(seq, "the studio is busy or stopping: message dropped"));
    }
  } catch (const RequestError& error) {
    server.Send(client, ErrorMessage(error.seq, error.what()));
  }
}

}  // namespace studio
