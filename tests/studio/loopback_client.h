// loopback_client.h: a plain HTTP and WebSocket client over a socket to
// 127.0.0.1, for tests that must send what a browser never would (another
// Host, no Origin, oversized or malformed requests, unmasked frames...).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace loopback {

class Socket {
 public:
  explicit Socket(uint16_t port) : fd(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd);
      fd = -1;
    }
  }
  ~Socket() {
    if (fd >= 0) close(fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool Open() const { return fd >= 0; }

  bool Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }

  // Appends what arrives within `timeout`; false once the peer closed.
  bool ReadMore(std::string& into, std::chrono::milliseconds timeout) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeout.count())) <= 0) return true;
    char buffer[65536];
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    into.append(buffer, static_cast<size_t>(got));
    return true;
  }

 private:
  int fd;
};

struct Response {
  int status = 0;  // 0: no answer
  std::string head;
  std::string body;
  bool closed = false;  // the server closed the connection after it

  std::string Header(std::string_view name) const {
    const std::string key = "\r\n" + std::string(name) + ": ";
    const size_t at = head.find(key);
    if (at == std::string::npos) return {};
    const size_t start = at + key.size();
    return head.substr(start, head.find("\r\n", start) - start);
  }
};

constexpr auto WAIT = std::chrono::milliseconds(3000);

// Reads one response (its head and a Content-Length body) from `socket`,
// leaving anything after it in `rest`.
inline Response ReadResponse(Socket& socket, std::string& rest) {
  Response response;
  const auto deadline = std::chrono::steady_clock::now() + WAIT;
  size_t end = std::string::npos;
  while ((end = rest.find("\r\n\r\n")) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline || !socket.ReadMore(rest, WAIT)) {
      response.closed = true;
      return response;
    }
  }
  response.head = rest.substr(0, end + 2);
  rest.erase(0, end + 4);
  if (response.head.size() > 12) response.status = std::stoi(response.head.substr(9, 3));
  const std::string length = response.Header("Content-Length");
  const size_t bodySize = length.empty() ? 0 : std::stoul(length);
  while (rest.size() < bodySize && socket.ReadMore(rest, WAIT)) {
  }
  response.body = rest.substr(0, bodySize);
  rest.erase(0, std::min(bodySize, rest.size()));
  return response;
}

// Sends the raw request on a new connection and reads the answer; with
// `watchClose`, also whether the server then closes the connection.
inline Response Exchange(uint16_t port, std::string_view request, bool watchClose = false) {
  Socket socket(port);
  socket.Write(request);
  std::string rest;
  Response response = ReadResponse(socket, rest);
  if (watchClose && !response.closed) {
    // Whatever else comes, until the server closes or the wait is over.
    const auto deadline = std::chrono::steady_clock::now() + WAIT;
    std::string more;
    while (!response.closed && std::chrono::steady_clock::now() < deadline) {
      response.closed = !socket.ReadMore(more, WAIT);
    }
  }
  return response;
}

// A GET with the Host header of this server and the given extra lines.
inline std::string Get(uint16_t port, std::string_view target, std::string_view extra = {}) {
  return "GET " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
         "\r\n" + std::string(extra) + "\r\n";
}

struct Frame {
  int opcode = -1;  // -1: none arrived
  std::string payload;
};

// A WebSocket connection, masked frames out as a browser's.
class WebSocket {
 public:
  WebSocket(uint16_t port, std::string_view target, std::string_view extra) : socket(port) {
    socket.Write("GET " + std::string(target) +
                 " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                 "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n" +
                 std::string(extra) + "\r\n");
    handshake = ReadResponse(socket, rest);
  }

  int Status() const { return handshake.status; }
  const Response& Handshake() const { return handshake; }

  bool SendFrame(int opcode, std::string_view payload, bool final = true) {
    std::string frame;
    frame += static_cast<char>((final ? 0x80 : 0) | opcode);
    const uint64_t n = payload.size();
    if (n < 126) {
      frame += static_cast<char>(0x80 | n);
    } else if (n < 65536) {
      frame += static_cast<char>(0x80 | 126);
      frame += static_cast<char>(n >> 8);
      frame += static_cast<char>(n & 0xFF);
    } else {
      frame += static_cast<char>(0x80 | 127);
      for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xFF);
    }
    const uint32_t mask = random();
    for (int i = 0; i < 4; ++i) frame += static_cast<char>((mask >> (8 * i)) & 0xFF);
    for (size_t i = 0; i < n; ++i) {
      frame += static_cast<char>(payload[i] ^ static_cast<char>((mask >> (8 * (i % 4))) & 0xFF));
    }
    return socket.Write(frame);
  }
  bool Send(std::string_view text) { return SendFrame(0x1, text); }
  // A frame's header announcing `length` bytes, and a few of them.
  bool Announce(int opcode, uint64_t length) {
    std::string frame{static_cast<char>(0x80 | opcode), static_cast<char>(0x80 | 127)};
    for (int shift = 56; shift >= 0; shift -= 8)
      frame += static_cast<char>((length >> shift) & 0xFF);
    frame += std::string(4 + 64, 'm');
    return socket.Write(frame);
  }

  // The next frame within `timeout`; opcode -1 when none came, 8 for a close.
  Frame Receive(std::chrono::milliseconds timeout = WAIT) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (std::optional<Frame> frame = Parse()) return *frame;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !socket.ReadMore(rest, left)) return Parse().value_or(Frame{});
    }
  }

  // Whether the server ends the connection within `timeout`, with a close
  // frame or without; frames before it are read and dropped.
  bool EndsWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      while (std::optional<Frame> frame = Parse()) {
        if (frame->opcode == 0x8) return true;
      }
      if (!socket.ReadMore(rest, std::chrono::milliseconds(50))) return true;
    }
    return false;
  }

  // Text frames until one contains `needle`; empty when none does in time.
  std::string ReceiveContaining(std::string_view needle, std::chrono::milliseconds timeout = WAIT) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      const Frame frame = Receive(std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now()));
      if (frame.opcode == -1 || frame.opcode == 0x8) return {};
      if (frame.payload.find(needle) != std::string::npos) return frame.payload;
    }
    return {};
  }

 private:
  std::optional<Frame> Parse() {
    if (rest.size() < 2) return std::nullopt;
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(rest[i]); };
    uint64_t n = byte(1) & 0x7F;
    size_t offset = 2;
    if (n == 126) {
      if (rest.size() < 4) return std::nullopt;
      n = static_cast<uint64_t>(byte(2)) << 8 | byte(3);
      offset = 4;
    } else if (n == 127) {
      if (rest.size() < 10) return std::nullopt;
      n = 0;
      for (size_t i = 2; i < 10; ++i) n = n << 8 | byte(i);
      offset = 10;
    }
    if (rest.size() < offset + n) return std::nullopt;
    Frame frame{byte(0) & 0x0F, rest.substr(offset, n)};
    rest.erase(0, offset + n);
    return frame;
  }

  Socket socket;
  std::string rest;
  Response handshake;
  std::minstd_rand random{12345};
};

}  // namespace loopback
