// The server's safety rules, against the real server on 127.0.0.1.
#include "studio/server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "studio/inbox.h"
#include "studio/session.h"
#include "tests/studio/loopback_client.h"

namespace {

using loopback::Exchange;
using loopback::Get;
using loopback::WebSocket;
using studio::ClientId;

// The messages the server handed over, for a test to wait on.
struct Received {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::pair<ClientId, std::string>> messages;

  void Add(ClientId client, std::string_view text) {
    std::lock_guard lock(mutex);
    messages.emplace_back(client, std::string(text));
    arrived.notify_all();
  }
  bool WaitFor(size_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, loopback::WAIT, [&] { return messages.size() >= count; });
  }
};

class StudioServer : public ::testing::Test {
 protected:
  StudioServer()
      : server(Options(), [this](ClientId c, std::string_view t) { received.Add(c, t); }) {}

  static studio::ServerOptions Options() {
    studio::ServerOptions options;
    options.maxClients = 2;
    options.maxMessageBytes = 1000;
    return options;
  }

  uint16_t Port() const { return server.Port(); }
  std::string Cookie() const {
    return "Cookie: other=1; kestrion_studio_" + std::to_string(Port()) + "=" + server.Secret() +
           "\r\n";
  }
  std::string Origin(std::string_view host = "127.0.0.1") const {
    return "Origin: http://" + std::string(host) + ":" + std::to_string(Port()) + "\r\n";
  }
  WebSocket Page() { return WebSocket(Port(), "/ws", Cookie() + Origin()); }
  // Closes reach the server's threads a moment after the socket closes.
  bool WaitForClients(int count) {
    const auto deadline = std::chrono::steady_clock::now() + loopback::WAIT;
    while (server.Clients() != count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  Received received;
  studio::Server server;
};

TEST_F(StudioServer, ServesThePageOnlyToTheHolderOfTheSecret) {
  const std::string secret = server.Secret();
  EXPECT_EQ(secret.size(), 64u);
  EXPECT_EQ(secret.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(server.Url(), "http://127.0.0.1:" + std::to_string(Port()) + "/?token=" + secret);

  for (const std::string& target : std::vector<std::string>{
           "/", "/main.js", "/control_ids.js", "/?token=", "/?token=" + secret.substr(1),
           "/?token=" + std::string(64, '0')}) {
    const auto refused = Exchange(Port(), Get(Port(), target), true);
    EXPECT_EQ(refused.status, 403) << target;
    EXPECT_TRUE(refused.closed) << target;
  }
  std::string wrongCookie = Cookie();
  wrongCookie[wrongCookie.size() - 3] ^= 1;
  EXPECT_EQ(Exchange(Port(), Get(Port(), "/", wrongCookie)).status, 403);
  EXPECT_EQ(
      Exchange(Port(), Get(Port(), "/", "Cookie: kestrion_studio_1=" + secret + "\r\n")).status,
      403)
      << "another port's cookie";

  // The printed address: the secret becomes a cookie and leaves the address.
  const auto first = Exchange(Port(), Get(Port(), "/?token=" + secret));
  EXPECT_EQ(first.status, 303);
  EXPECT_EQ(first.Header("Location"), "/");
  EXPECT_EQ(first.Header("Set-Cookie"), "kestrion_studio_" + std::to_string(Port()) + "=" + secret +
                                            "; Path=/; HttpOnly; SameSite=Strict");

  const auto page = Exchange(Port(), Get(Port(), "/", Cookie()));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.Header("Content-Type"), "text/html; charset=utf-8");
  EXPECT_NE(page.body.find("<title>Kestrion Studio</title>"), std::string::npos);
  EXPECT_NE(page.Header("Content-Security-Policy").find("default-src 'none'"), std::string::npos);
  EXPECT_EQ(page.Header("X-Frame-Options"), "DENY");
  // The page's ES modules, the generated one of the control IDs among them.
  for (const char* script : {"/main.js", "/desk.js", "/control_ids.js"}) {
    const auto module = Exchange(Port(), Get(Port(), script, Cookie()));
    EXPECT_EQ(module.status, 200) << script;
    EXPECT_EQ(module.Header("Content-Type"), "text/javascript; charset=utf-8") << script;
  }
  EXPECT_NE(Exchange(Port(), Get(Port(), "/control_ids.js", Cookie()))
                .body.find("export const IDC_BROWSE = 1002;"),
            std::string::npos);
  const auto head =
      Exchange(Port(), "HEAD / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(Port()) + "\r\n" +
                           Cookie() + "\r\n");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.Header("Content-Length"), std::to_string(page.body.size()));
  // Only the page's own files: nothing is read from the disk.
  for (const char* target : {"/index.htm", "/../CMakeLists.txt", "/etc/passwd", "/ws"}) {
    EXPECT_EQ(Exchange(Port(), Get(Port(), target, Cookie())).status, 404) << target;
  }
}

TEST_F(StudioServer, RefusesRequestsForOtherHostsAndFromOtherSites) {
  const std::string port = std::to_string(Port());
  const std::string secret = "/?token=" + server.Secret();
  const auto withHost = [&](const std::string& host) {
    return "GET " + secret + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
  };
  // DNS rebinding: the right address and secret under a name of another's.
  for (const std::string& host :
       std::vector<std::string>{"evil.example:" + port, "127.0.0.1:" + std::to_string(Port() + 1),
                                "127.0.0.1", "127.0.0.1:" + port + ".evil.example", ""}) {
    EXPECT_EQ(Exchange(Port(), withHost(host)).status, 403) << host;
  }
  EXPECT_EQ(Exchange(Port(), "GET " + secret + " HTTP/1.0\r\n\r\n").status, 403) << "no Host";
  EXPECT_EQ(Exchange(Port(), withHost("LocalHost:" + port)).status, 303);

  EXPECT_EQ(Exchange(Port(), Get(Port(), "/", Cookie() + "Origin: http://evil.example\r\n")).status,
            403);
  EXPECT_EQ(Exchange(Port(), Get(Port(), "/", Cookie() + "Origin: null\r\n")).status, 403);
  EXPECT_EQ(Exchange(Port(), Get(Port(), "/", Cookie() + Origin("localhost"))).status, 200);

  // A WebSocket must come from this server's page, with the secret.
  EXPECT_EQ(WebSocket(Port(), "/ws", Cookie()).Status(), 403) << "no Origin";
  EXPECT_EQ(WebSocket(Port(), "/ws", Cookie() + "Origin: http://evil.example\r\n").Status(), 403);
  EXPECT_EQ(WebSocket(Port(), "/ws", Origin()).Status(), 403) << "no secret";
  EXPECT_EQ(WebSocket(Port(), "/ws?token=" + server.Secret(), Origin()).Status(), 101);
  EXPECT_EQ(Page().Status(), 101);
}

TEST_F(StudioServer, AnswersBadRequestsAndGoesOn) {
  const std::string cookie = Cookie();
  const std::string host = "Host: 127.0.0.1:" + std::to_string(Port()) + "\r\n";
  EXPECT_EQ(Exchange(Port(), "POST / HTTP/1.1\r\n" + host + cookie + "Content-Length: 3\r\n\r\nabc")
                .status,
            405);
  EXPECT_EQ(Exchange(Port(), "DELETE / HTTP/1.1\r\n" + host + cookie + "\r\n").Header("Allow"),
            "GET, HEAD");
  EXPECT_EQ(
      Exchange(Port(), "GET / HTTP/1.1\r\n" + host + cookie + "Content-Length: 5\r\n\r\nabcde")
          .status,
      413);
  EXPECT_EQ(Exchange(Port(), "GET / HTTP/1.1\r\n" + host + cookie +
                                 "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n")
                .status,
            413);
  const auto garbage = Exchange(Port(), "\x01\x02 nonsense\r\n\r\n", true);
  EXPECT_GE(garbage.status, 400);
  EXPECT_TRUE(garbage.closed);
  const std::string huge = "X-Filler: " + std::string(studio::MAX_REQUEST_BYTES, 'x') + "\r\n";
  const auto oversized = Exchange(Port(), Get(Port(), "/", cookie + huge), true);
  EXPECT_TRUE(oversized.status >= 400 || oversized.closed);

  // Still serving, twice on one connection.
  loopback::Socket socket(Port());
  std::string rest;
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(socket.Write(Get(Port(), "/studio.css", cookie)));
    EXPECT_EQ(loopback::ReadResponse(socket, rest).status, 200) << i;
  }
}

TEST_F(StudioServer, WebSocketMessagesAreBoundedTextAndStatesReachLatePages) {
  WebSocket page = Page();
  ASSERT_EQ(page.Status(), 101);
  ASSERT_TRUE(page.Send("first"));
  // Fragments make one message.
  page.SendFrame(0x1, "sec", false);
  page.SendFrame(0x0, "ond", true);
  ASSERT_TRUE(received.WaitFor(2));
  EXPECT_EQ(received.messages[0].second, "first");
  EXPECT_EQ(received.messages[1].second, "second");
  const ClientId id = received.messages[0].first;

  server.Send(studio::ALL_CLIENTS, "state 1", "state");
  server.Send(studio::ALL_CLIENTS, "state 2", "state");
  server.Send(id, "just you");
  EXPECT_FALSE(page.ReceiveContaining("state 2").empty());
  EXPECT_FALSE(page.ReceiveContaining("just you").empty());
  {
    WebSocket late = Page();
    ASSERT_EQ(late.Status(), 101);
    EXPECT_EQ(late.Receive().payload, "state 2") << "the last state, first";
    EXPECT_EQ(WebSocket(Port(), "/ws", Cookie() + Origin()).Status(), 0)
        << "a third page is one more than maxClients";
  }
  ASSERT_TRUE(WaitForClients(1));

  // A message over the bound closes that connection with 1009 unread.
  page.Send(std::string(1001, 'x'));
  loopback::Frame close = page.Receive();
  EXPECT_EQ(close.opcode, 0x8);
  ASSERT_GE(close.payload.size(), 2u);
  EXPECT_EQ(static_cast<uint8_t>(close.payload[0]) << 8 | static_cast<uint8_t>(close.payload[1]),
            1009);
  ASSERT_TRUE(WaitForClients(0));
  WebSocket binary = Page();
  EXPECT_EQ(binary.Receive().payload, "state 2");
  binary.SendFrame(0x2, std::string("\x00\x01", 2));
  close = binary.Receive();
  EXPECT_EQ(close.opcode, 0x8);
  EXPECT_EQ(static_cast<uint8_t>(close.payload[0]) << 8 | static_cast<uint8_t>(close.payload[1]),
            1003);

  ASSERT_TRUE(WaitForClients(0));
  WebSocket again = Page();
  ASSERT_EQ(again.Status(), 101);
  again.Send(std::string(1000, 'y'));
  ASSERT_TRUE(received.WaitFor(3));
  EXPECT_EQ(received.messages.size(), 3u);
  EXPECT_EQ(received.messages[2].second.size(), 1000u);
}

// How long the person's page takes to load on a new connection: the
// answer's status and the time, or 0 when none came within the wait.
std::pair<int, std::chrono::milliseconds> LoadPage(uint16_t port, const std::string& cookie) {
  const auto start = std::chrono::steady_clock::now();
  const int status = Exchange(port, Get(port, "/", cookie)).status;
  return {status, std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)};
}

// Whether the server closes `socket` within `wait`, reading what comes.
bool ClosedWithin(loopback::Socket& socket, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::string ignored;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!socket.ReadMore(ignored, std::chrono::milliseconds(50))) return true;
  }
  return false;
}

constexpr auto PAGE_WAIT = std::chrono::milliseconds(1000);
// A connection that never completes its header is closed within about
// REQUEST_DEADLINE_MS; this is the bound the tests allow.
constexpr auto CLOSE_WAIT = std::chrono::milliseconds(studio::REQUEST_DEADLINE_MS + 1500);

TEST_F(StudioServer, HalfOpenConnectionsNeitherLockThePersonOutNorStay) {
  const std::string half = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(Port()) + "\r\nX-";
  std::vector<std::unique_ptr<loopback::Socket>> held;
  for (int i = 0; i < 96; ++i) {
    held.push_back(std::make_unique<loopback::Socket>(Port()));
    ASSERT_TRUE(held.back()->Open()) << i;
    held.back()->Write(half);
  }
  // The page loads while they are held, again and again, until they are
  // gone.
  const auto start = std::chrono::steady_clock::now();
  int loads = 0;
  while (std::chrono::steady_clock::now() - start < CLOSE_WAIT) {
    const auto [status, took] = LoadPage(Port(), Cookie());
    ASSERT_EQ(status, 200) << "load " << loads;
    EXPECT_LT(took, PAGE_WAIT) << "load " << loads;
    ++loads;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_GE(loads, 10);
  for (size_t i = 0; i < held.size(); ++i) {
    EXPECT_TRUE(ClosedWithin(*held[i], std::chrono::milliseconds(100)))
        << "half-open connection " << i << " still open after " << CLOSE_WAIT.count() << " ms";
  }
}

TEST_F(StudioServer, ASlowHeaderIsClosedWhileItsBytesStillCome) {
  loopback::Socket slow(Port());
  ASSERT_TRUE(slow.Open());
  const std::string request = Get(Port(), "/", Cookie());
  const auto start = std::chrono::steady_clock::now();
  bool closed = false;
  // A byte each 200 ms: the whole request would take many seconds.
  for (size_t i = 0; i < request.size() && !closed; ++i) {
    closed =
        !slow.Write(request.substr(i, 1)) || ClosedWithin(slow, std::chrono::milliseconds(200));
    if (std::chrono::steady_clock::now() - start > CLOSE_WAIT) break;
  }
  EXPECT_TRUE(closed) << "a header sent a byte at a time is still being read";
  EXPECT_LT(std::chrono::steady_clock::now() - start, CLOSE_WAIT);
}

TEST_F(StudioServer, AnUnauthenticatedFloodIsRefusedWhileThePageLoads) {
  std::atomic<int> refused{0};
  std::atomic<int> other{0};
  std::thread flood([&] {
    for (int i = 0; i < 200; ++i) {
      (Exchange(Port(), Get(Port(), "/")).status == 403 ? refused : other)++;
    }
  });
  std::vector<std::chrono::milliseconds> loads;
  while (refused + other < 200 && loads.size() < 100) {
    const auto [status, took] = LoadPage(Port(), Cookie());
    EXPECT_EQ(status, 200);
    loads.push_back(took);
  }
  flood.join();
  EXPECT_EQ(refused, 200);
  EXPECT_EQ(other, 0);
  ASSERT_FALSE(loads.empty());
  EXPECT_LT(*std::max_element(loads.begin(), loads.end()), PAGE_WAIT);
}

TEST_F(StudioServer, AHugeOrBrokenWebSocketMessageEndsOnlyItsConnection) {
  WebSocket page = Page();
  ASSERT_EQ(page.Status(), 101);
  {
    WebSocket huge = Page();
    ASSERT_EQ(huge.Status(), 101);
    ASSERT_TRUE(huge.Announce(0x1, uint64_t{1} << 40));  // 1 TiB
    EXPECT_TRUE(huge.EndsWithin(loopback::WAIT));
  }
  ASSERT_TRUE(WaitForClients(1));
  {
    // A frame no browser sends: reserved bits set, no extension agreed.
    WebSocket broken = Page();
    ASSERT_EQ(broken.Status(), 101);
    ASSERT_TRUE(broken.SendFrame(0x71, "hello"));
    const loopback::Frame close = broken.Receive();
    EXPECT_EQ(close.opcode, 0x8);
    ASSERT_GE(close.payload.size(), 2u);
    EXPECT_EQ(static_cast<uint8_t>(close.payload[0]) << 8 | static_cast<uint8_t>(close.payload[1]),
              1002);
  }
  ASSERT_TRUE(WaitForClients(1));
  EXPECT_TRUE(received.messages.empty()) << "a broken frame reached the studio";
  // The other page goes on both ways.
  server.Send(studio::ALL_CLIENTS, "still here");
  EXPECT_FALSE(page.ReceiveContaining("still here").empty());
  ASSERT_TRUE(page.Send("and you"));
  ASSERT_TRUE(received.WaitFor(1));
  EXPECT_EQ(received.messages.back().second, "and you");
}

TEST(StudioServerStart, ATakenPortIsOneLineOfError) {
  studio::Server first({}, {});
  studio::ServerOptions options;
  options.port = first.Port();
  try {
    studio::Server second(options, {});
    FAIL() << "a second server on port " << first.Port();
  } catch (const studio::ServerError& error) {
    EXPECT_NE(std::string(error.what()).find("127.0.0.1:" + std::to_string(first.Port())),
              std::string::npos);
    EXPECT_EQ(std::string(error.what()).find('\n'), std::string::npos);
  }
}

// The session reads each message on the server's thread: what cannot be
// read, or finds the inbox full, is answered at once and the page goes on.
TEST(StudioSession, AnswersUnreadableMessagesAndQueuesTheRest) {
  studio::Inbox inbox(2);
  studio::Session session(inbox, {});
  const uint16_t port = session.Web().Port();
  WebSocket page(port, "/ws?token=" + session.Web().Secret(),
                 "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n");
  ASSERT_EQ(page.Status(), 101);

  page.Send("{\"type\":\"action\"");
  EXPECT_NE(page.ReceiveContaining("\"error\"").find("not JSON"), std::string::npos);
  page.Send(R"({"type":"action","seq":4,"dialog":1,"action":"drag","id":1006,"pixels":40000})");
  const std::string range = page.ReceiveContaining("\"error\"");
  EXPECT_NE(range.find("\"seq\":4"), std::string::npos);
  EXPECT_NE(range.find("pixels"), std::string::npos);

  page.Send(R"({"type":"action","seq":5,"dialog":1,"action":"click","id":1012})");
  page.Send(R"({"type":"host","seq":6,"command":"openAbout"})");
  page.Send(R"({"type":"host","seq":7,"command":"undo"})");
  EXPECT_NE(page.ReceiveContaining("busy").find("\"seq\":7"), std::string::npos);
  const studio::Request click = inbox.Take();
  EXPECT_EQ(click.kind, studio::RequestKind::Action);
  EXPECT_EQ(click.control, 1012);
  EXPECT_EQ(click.seq, 5);
  EXPECT_EQ(inbox.Take().command, "openAbout");
}

}  // namespace
