// server.h: the studio's HTTP and WebSocket server on 127.0.0.1, built on
// civetweb.
//
// It serves the page's files, embedded in the program (page_assets.h), and
// one WebSocket endpoint, /ws, over which the page and the studio exchange
// messages, text and binary. It reads no file and writes none. Every request passes
// the access rules of access.h first. Refused requests are answered and
// the server goes on: 403 for another Host or Origin or a missing secret,
// 405 for a method other than GET and HEAD, 413 for a request with a body,
// 404 for a path the page does not have; civetweb itself answers a
// malformed request with 400 and a request whose header exceeds
// MAX_REQUEST_BYTES with 413. WebSocket messages are text of at most
// ServerOptions::maxMessageBytes: a longer one, or a binary one, closes
// that connection (1009, 1003), and so does a frame with a reserved bit
// (1002); at most maxClients pages connect at once.
//
// Other local clients cannot lock the person out. civetweb serves each
// connection on a thread of a fixed pool; a connection that has not sent a
// whole request header within REQUEST_DEADLINE is closed, and the server's
// door keeper closes connections that have not passed the access rules
// and hold a place for nothing: queued ones with half a header at once,
// and, oldest first, the others once more than STRANGERS_KEPT of them are
// older than STRANGER_GRACE (door_keeper.h), so that half-open and slow
// connections never hold every thread while the page's own requests wait.
//
// Threads: civetweb's worker threads run the request and WebSocket
// callbacks, the server's sender thread writes the outgoing messages and
// its door keeper watches the connections not yet admitted. None touches
// anything but the server's own state: each complete incoming message is
// handed to the message handler, on a worker thread, which must only queue
// it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "studio/door_keeper.h"

struct mg_context;
struct mg_connection;

namespace studio {

constexpr size_t MAX_REQUEST_BYTES = 16384;
constexpr int REQUEST_DEADLINE_MS = 2000;

struct ServerOptions {
  uint16_t port = 0;  // 0: a free port
  int maxClients = 4;
  size_t maxMessageBytes = 64 * 1024;
};

// A page connection, numbered from 1 in the order they connect.
using ClientId = uint32_t;
constexpr ClientId ALL_CLIENTS = 0;

// One complete text message from a page; runs on a server thread.
using MessageHandler = std::function<void(ClientId client, std::string_view text)>;

// Why the server could not start (the port is taken, say), as one line.
class ServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Server {
 public:
  // Listens at once; throws ServerError when it cannot.
  Server(const ServerOptions& options, MessageHandler onMessage);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  uint16_t Port() const { return port; }
  const std::string& Secret() const { return secret; }
  // The address to open: http://127.0.0.1:PORT/?token=SECRET
  std::string Url() const;

  // Queues a text message for one page or for all. A message with a key
  // replaces any queued, not yet sent message of the same key and target;
  // the last one sent to all with a key is also sent to each page that
  // connects later (the current state, say).
  void Send(ClientId client, std::string text, std::string key = {});
  // The same for a binary message (an image, say).
  void SendBinary(ClientId client, std::string bytes, std::string key = {});
  // Closes the connections and stops every thread; called by the
  // destructor, and harmless twice.
  void Stop();

  // How many pages are connected now.
  int Clients() const;

 private:
  struct Client;
  struct Outgoing {
    ClientId client;
    std::string key;
    std::string text;
    bool binary = false;
  };

  static int BeginRequest(mg_connection* conn);
  static void ConnectionClosing(const mg_connection* conn);
  static int ServeAsset(mg_connection* conn, void* self);
  static int WebSocketConnect(const mg_connection* conn, void* self);
  static void WebSocketReady(mg_connection* conn, void* self);
  static int WebSocketData(mg_connection* conn, int flags, char* data, size_t size, void* self);
  static void WebSocketClose(const mg_connection* conn, void* self);

  int Admit(mg_connection* conn);
  int Receive(Client& client, int flags, const char* data, size_t size);
  void SendLoop();
  void Queue(Outgoing message);
  void Write(Client& client, const Outgoing& message);

  ServerOptions options;
  MessageHandler onMessage;
  std::string secret;
  uint16_t port = 0;
  mg_context* context = nullptr;

  mutable std::mutex clientsMutex;
  std::map<ClientId, Client*> clients;
  ClientId lastClient = 0;

  std::mutex outboxMutex;
  std::condition_variable outboxReady;
  std::deque<Outgoing> outbox;
  std::map<std::string, Outgoing> lastKeyed;
  bool stopping = false;
  std::thread sender;

  DoorKeeper door;
};

}  // namespace studio
