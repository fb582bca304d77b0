// server.cpp: civetweb set up for the studio: the access rules on every
// request, the page's files, and the WebSocket connections with their
// outgoing queue.
#include "studio/server.h"

#include <arpa/inet.h>
#include <civetweb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "studio/access.h"
#include "studio/door_keeper.h"
#include "studio/page_assets.h"
#include "studio/text.h"

namespace studio {

namespace {

constexpr const char* WEBSOCKET_PATH = "/ws";
// HTTP handlers for every other path.
constexpr const char* EVERY_PATH = "**";
// Threads beyond one per connected page: for the page's own requests, and
// as many again for connections the door keeper has yet to judge.
constexpr int SPARE_THREADS = 2 * STRANGERS_KEPT;
// An idle connection of the page's is closed after this long: it holds a
// thread meanwhile.
constexpr const char* KEEP_ALIVE_TIMEOUT_MS = "1000";
constexpr const char* WEBSOCKET_TIMEOUT_MS = "30000";
constexpr uint16_t CLOSE_GOING_AWAY = 1001;
constexpr uint16_t CLOSE_PROTOCOL_ERROR = 1002;
constexpr uint16_t CLOSE_UNSUPPORTED = 1003;
constexpr int RESERVED_BITS = 0x70;
constexpr uint16_t CLOSE_TOO_BIG = 1009;

constexpr auto KNOCK_INTERVAL = std::chrono::milliseconds(10);

// Opens and closes a connection to the port.
void KnockOn(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  close(fd);
}

// civetweb's library-wide set-up, once per process.
void InitLibrary() {
  static const bool initialised = (mg_init_library(0), true);
  (void)initialised;
}

std::string_view Header(const mg_connection* conn, const char* name) {
  const char* value = mg_get_header(conn, name);
  return value ? value : "";
}

bool HasHeader(const mg_connection* conn, const char* name) {
  return mg_get_header(conn, name) != nullptr;
}

bool IsWebSocketUpgrade(const mg_connection* conn) {
  return SameNoCase(Header(conn, "Upgrade"), "websocket");
}

std::string ContentSecurityPolicy(uint16_t port) {
  const std::string p = std::to_string(port);
  return "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data: blob:; "
         "connect-src 'self' ws://127.0.0.1:" +
         p + " ws://localhost:" + p +
         "; frame-ancestors 'none'; base-uri 'none'; form-action 'none'";
}

struct Answer {
  int status;
  std::string_view contentType = "text/plain; charset=utf-8";
  std::string_view body;
  std::vector<std::pair<const char*, std::string>> headers;
  bool close = false;
};

int Respond(mg_connection* conn, uint16_t port, const Answer& answer) {
  const bool head = std::strcmp(mg_get_request_info(conn)->request_method, "HEAD") == 0;
  std::vector<std::pair<const char*, std::string>> headers{
      {"Content-Type", std::string(answer.contentType)},
      {"Content-Length", std::to_string(answer.body.size())},
      {"Cache-Control", "no-store"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
      {"Content-Security-Policy", ContentSecurityPolicy(port)}};
  headers.insert(headers.end(), answer.headers.begin(), answer.headers.end());
  if (answer.close) {
    // Written by hand: civetweb's header functions refuse a request that
    // asked for a WebSocket, and the connection ends here anyway.
    mg_disable_keep_alive(conn);
    std::string text = "HTTP/1.1 " + std::to_string(answer.status) + " " +
                       mg_get_response_code_text(conn, answer.status) + "\r\n";
    for (const auto& [name, value] : headers) text += std::string(name) + ": " + value + "\r\n";
    text += "Connection: close\r\n\r\n";
    mg_write(conn, text.data(), text.size());
  } else {
    mg_response_header_start(conn, answer.status);
    for (const auto& [name, value] : headers) {
      mg_response_header_add(conn, name, value.c_str(), static_cast<int>(value.size()));
    }
    mg_response_header_send(conn);
  }
  if (!head && !answer.body.empty()) mg_write(conn, answer.body.data(), answer.body.size());
  return answer.status;
}

// A WebSocket close frame: the code, big-endian, then the reason.
void CloseWith(mg_connection* conn, uint16_t code, std::string_view reason) {
  std::string payload{static_cast<char>(code >> 8), static_cast<char>(code & 0xFF)};
  payload += reason;
  mg_websocket_write(conn, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, payload.data(), payload.size());
}

int Refuse(mg_connection* conn, uint16_t port, int status, std::string_view why) {
  return Respond(conn, port, {status, "text/plain; charset=utf-8", why, {}, true});
}

Server& ServerOf(const mg_connection* conn) {
  return *static_cast<Server*>(mg_get_user_data(mg_get_context(conn)));
}

}  // namespace

struct Server::Client {
  ClientId id = 0;
  mg_connection* conn = nullptr;
  std::string partial;  // a message that arrives in fragments
};

Server::Server(const ServerOptions& opts, MessageHandler handler)
    : options(opts), onMessage(std::move(handler)), secret(NewSecret()) {
  InitLibrary();
  const std::string listening = "127.0.0.1:" + std::to_string(options.port);
  const std::string threads = std::to_string(options.maxClients + SPARE_THREADS);
  const std::string requestSize = std::to_string(MAX_REQUEST_BYTES);
  const std::string deadline = std::to_string(REQUEST_DEADLINE_MS);
  const char* settings[] = {"listening_ports",
                            listening.c_str(),
                            "num_threads",
                            threads.c_str(),
                            "tcp_nodelay",
                            "1",
                            "enable_keep_alive",
                            "yes",
                            "request_timeout_ms",
                            deadline.c_str(),
                            "keep_alive_timeout_ms",
                            KEEP_ALIVE_TIMEOUT_MS,
                            "websocket_timeout_ms",
                            WEBSOCKET_TIMEOUT_MS,
                            "enable_websocket_ping_pong",
                            "yes",
                            "max_request_size",
                            requestSize.c_str(),
                            nullptr};
  mg_callbacks callbacks{};
  callbacks.begin_request = &Server::BeginRequest;
  callbacks.connection_close = &Server::ConnectionClosing;
  // civetweb's own complaints (a client that went away, say) are no
  // concern of the user's.
  callbacks.log_message = [](const mg_connection*, const char*) { return 1; };
  mg_init_data init{};
  init.callbacks = &callbacks;
  init.user_data = this;
  init.configuration_options = settings;
  mg_error_data error{};
  char errorText[256] = "";
  error.text = errorText;
  error.text_buffer_size = sizeof errorText;
  context = mg_start2(&init, &error);
  if (!context) {
    throw ServerError("cannot listen on " + listening + " (is the port in use?)" +
                      (errorText[0] ? ": " : "") + errorText);
  }
  mg_server_port ports[1]{};
  if (mg_get_server_ports(context, 1, ports) < 1) {
    mg_stop(context);
    throw ServerError("cannot tell which port the server listens on");
  }
  port = static_cast<uint16_t>(ports[0].port);
  mg_set_request_handler(context, EVERY_PATH, &Server::ServeAsset, this);
  mg_set_websocket_handler(context, WEBSOCKET_PATH, &Server::WebSocketConnect,
                           &Server::WebSocketReady, &Server::WebSocketData, &Server::WebSocketClose,
                           this);
  sender = std::thread([this] { SendLoop(); });
  door.Start(port, REQUEST_DEADLINE_MS, MAX_REQUEST_BYTES);
}

Server::~Server() { Stop(); }

std::string Server::Url() const {
  return "http://127.0.0.1:" + std::to_string(port) + "/?" + TOKEN_PARAMETER + "=" + secret;
}

void Server::Stop() {
  door.Stop();
  if (context) {
    // Each page is told first: its answer ends its connection's thread at
    // once, where civetweb would look at the stop request only every two
    // seconds.
    {
      std::lock_guard lock(clientsMutex);
      for (const auto& [id, client] : clients) {
        CloseWith(client->conn, CLOSE_GOING_AWAY, "the studio stopped");
      }
    }
    // civetweb's listening thread looks at the stop request only between
    // connections, or every two seconds: a knock on the door wakes it.
    std::atomic<bool> stopped{false};
    std::thread knock([this, &stopped] {
      while (!stopped.load()) {
        KnockOn(port);
        std::this_thread::sleep_for(KNOCK_INTERVAL);
      }
    });
    mg_stop(context);
    stopped = true;
    knock.join();
    context = nullptr;
  }
  {
    std::lock_guard lock(outboxMutex);
    stopping = true;
  }
  outboxReady.notify_all();
  if (sender.joinable()) sender.join();
}

int Server::Clients() const {
  std::lock_guard lock(clientsMutex);
  return static_cast<int>(clients.size());
}

void Server::Send(ClientId client, std::string text, std::string key) {
  Queue({client, std::move(key), std::move(text), false});
}

void Server::SendBinary(ClientId client, std::string bytes, std::string key) {
  Queue({client, std::move(key), std::move(bytes), true});
}

void Server::Queue(Outgoing message) {
  {
    std::lock_guard lock(outboxMutex);
    if (stopping) return;
    if (!message.key.empty()) {
      std::erase_if(outbox, [&](const Outgoing& o) {
        return o.key == message.key && o.client == message.client;
      });
      if (message.client == ALL_CLIENTS) lastKeyed[message.key] = message;
    }
    outbox.push_back(std::move(message));
  }
  outboxReady.notify_one();
}

void Server::SendLoop() {
  for (;;) {
    Outgoing next;
    {
      std::unique_lock lock(outboxMutex);
      outboxReady.wait(lock, [this] { return stopping || !outbox.empty(); });
      if (stopping) return;
      next = std::move(outbox.front());
      outbox.pop_front();
    }
    // Held while writing: a connection's close handler waits for it, so no
    // connection is freed under a write.
    std::lock_guard lock(clientsMutex);
    for (const auto& [id, client] : clients) {
      if (next.client == ALL_CLIENTS || next.client == id) Write(*client, next);
    }
  }
}

void Server::Write(Client& client, const Outgoing& message) {
  mg_websocket_write(client.conn,
                     message.binary ? MG_WEBSOCKET_OPCODE_BINARY : MG_WEBSOCKET_OPCODE_TEXT,
                     message.text.data(), message.text.size());
}

int Server::BeginRequest(mg_connection* conn) {
  auto& self = *static_cast<Server*>(mg_get_request_info(conn)->user_data);
  return self.Admit(conn);
}

void Server::ConnectionClosing(const mg_connection* conn) {
  Server& self = ServerOf(conn);
  self.door.Forget(static_cast<uint16_t>(mg_get_request_info(conn)->remote_port));
}

// The access rules, for every request, the WebSocket handshake included.
// 0 lets civetweb go on to the handlers; otherwise the status answered.
int Server::Admit(mg_connection* conn) {
  const mg_request_info& request = *mg_get_request_info(conn);
  if (!AllowedHost(Header(conn, "Host"), port)) {
    return Refuse(conn, port, 403, "Forbidden: this server answers requests for 127.0.0.1 only\n");
  }
  const bool upgrade = IsWebSocketUpgrade(conn);
  if ((HasHeader(conn, "Origin") || upgrade) && !AllowedOrigin(Header(conn, "Origin"), port)) {
    return Refuse(conn, port, 403, "Forbidden: the request comes from another site\n");
  }
  const auto token = QueryValue(request.query_string ? request.query_string : "", TOKEN_PARAMETER);
  const auto cookie = CookieValue(Header(conn, "Cookie"), CookieName(port));
  const bool tokenGood = token && SameSecret(*token, secret);
  if (!tokenGood && !(cookie && SameSecret(*cookie, secret))) {
    return Refuse(conn, port, 403,
                  "Forbidden: open the address that kestrion studio printed when it started\n");
  }
  // The person's connection: the door keeper leaves it alone.
  door.Admit(static_cast<uint16_t>(request.remote_port));
  const std::string_view method = request.request_method;
  if (method != "GET" && method != "HEAD") {
    return Respond(
        conn, port,
        {405, "text/plain; charset=utf-8", "Method not allowed\n", {{"Allow", "GET, HEAD"}}, true});
  }
  if (request.content_length > 0 || HasHeader(conn, "Transfer-Encoding")) {
    return Refuse(conn, port, 413, "The page's requests carry no body\n");
  }
  if (tokenGood && !upgrade) {
    // The secret becomes the page's cookie, and leaves the address bar.
    const char* path = request.local_uri_raw ? request.local_uri_raw : "/";
    return Respond(conn, port,
                   {303,
                    "text/plain; charset=utf-8",
                    "",
                    {{"Location", path}, {"Set-Cookie", SessionCookie(port, secret)}},
                    false});
  }
  return 0;
}

int Server::ServeAsset(mg_connection* conn, void* self) {
  const uint16_t port = static_cast<Server*>(self)->port;
  const char* path = mg_get_request_info(conn)->local_uri;
  const PageAsset* asset = path ? FindPageAsset(path) : nullptr;
  if (!asset) return Refuse(conn, port, 404, "Not found\n");
  return Respond(conn, port,
                 {200,
                  asset->contentType,
                  std::string_view(reinterpret_cast<const char*>(asset->data), asset->size),
                  {},
                  false});
}

int Server::WebSocketConnect(const mg_connection* conn, void* self) {
  auto& server = *static_cast<Server*>(self);
  std::lock_guard lock(server.clientsMutex);
  if (static_cast<int>(server.clients.size()) >= server.options.maxClients) return 1;
  auto* client = new Client;
  client->id = ++server.lastClient;
  mg_set_user_connection_data(conn, client);
  return 0;
}

void Server::WebSocketReady(mg_connection* conn, void* self) {
  auto& server = *static_cast<Server*>(self);
  auto* client = static_cast<Client*>(mg_get_user_connection_data(conn));
  client->conn = conn;
  // Registered and given the last keyed messages in one step of the
  // outbox, so that whatever is sent after them comes after them.
  {
    std::lock_guard outboxLock(server.outboxMutex);
    {
      std::lock_guard clientsLock(server.clientsMutex);
      server.clients[client->id] = client;
    }
    for (const auto& [key, message] : server.lastKeyed) {
      Outgoing copy = message;
      copy.client = client->id;
      server.outbox.push_back(std::move(copy));
    }
  }
  server.outboxReady.notify_one();
}

int Server::WebSocketData(mg_connection* conn, int flags, char* data, size_t size, void* self) {
  auto& server = *static_cast<Server*>(self);
  auto* client = static_cast<Client*>(mg_get_user_connection_data(conn));
  if (!client) return 0;
  return server.Receive(*client, flags, data, size);
}

// 1 keeps the connection, 0 closes it.
int Server::Receive(Client& client, int flags, const char* data, size_t size) {
  const int opcode = flags & 0x0F;
  const bool final = (flags & 0x80) != 0;
  // No extension was agreed on: a frame with a reserved bit is no
  // browser's.
  if ((flags & RESERVED_BITS) != 0) {
    CloseWith(client.conn, CLOSE_PROTOCOL_ERROR, "malformed frame");
    return 0;
  }
  switch (opcode) {
    case MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE:
      return 0;
    case MG_WEBSOCKET_OPCODE_PING:
    case MG_WEBSOCKET_OPCODE_PONG:
      return 1;
    case MG_WEBSOCKET_OPCODE_TEXT:
      client.partial.clear();
      break;
    case MG_WEBSOCKET_OPCODE_CONTINUATION:
      break;
    default:
      CloseWith(client.conn, CLOSE_UNSUPPORTED, "the studio takes text messages only");
      return 0;
  }
  if (client.partial.size() + size > options.maxMessageBytes) {
    CloseWith(client.conn, CLOSE_TOO_BIG, "message too long");
    return 0;
  }
  client.partial.append(data, size);
  if (!final) return 1;
  const std::string text = std::move(client.partial);
  client.partial.clear();
  if (onMessage) onMessage(client.id, text);
  return 1;
}

void Server::WebSocketClose(const mg_connection* conn, void* self) {
  auto& server = *static_cast<Server*>(self);
  auto* client = static_cast<Client*>(mg_get_user_connection_data(conn));
  if (!client) return;
  {
    std::lock_guard lock(server.clientsMutex);
    server.clients.erase(client->id);
  }
  delete client;
}

}  // namespace studio
