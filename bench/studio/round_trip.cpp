// Round trips between a page and the studio over the real server on
// 127.0.0.1, measured at the page's end (the loopback client of the tests):
//   ServerEcho          a small message to the server and back: civetweb,
//                       the handler and the sender thread alone;
//   ActionToState/...   a user's action (a radio button click, a spinner
//                       drag step) through the inbox to the studio thread,
//                       into the loaded module's control dialog, and back
//                       as the state that acknowledges it (the window tree
//                       of the dialog and the host's record, about 5 KB).
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "host/filter_pipeline.h"
#include "host/scene.h"
#include "studio/dialog_bridge.h"
#include "studio/filter_host.h"
#include "studio/session.h"
#include "tests/studio/loopback_client.h"

namespace {

std::string OriginHeader(uint16_t port) {
  return "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n";
}

void ServerEcho(benchmark::State& state) {
  studio::Server* echo = nullptr;
  studio::Server server({}, [&echo](studio::ClientId client, std::string_view text) {
    echo->Send(client, std::string(text));
  });
  echo = &server;
  loopback::WebSocket page(server.Port(), "/ws?token=" + server.Secret(),
                           OriginHeader(server.Port()));
  if (page.Status() != 101) {
    state.SkipWithError("no WebSocket");
    return;
  }
  const std::string message = R"({"type":"action","dialog":1,"action":"click","id":1012})";
  for (auto _ : state) {
    page.Send(message);
    if (page.Receive().payload != message) state.SkipWithError("no echo");
  }
}
BENCHMARK(ServerEcho)->UseRealTime()->Unit(benchmark::kMillisecond);

// The studio on a test scene: the module's control dialog
// open on a studio thread of its own, the page on the benchmark's thread.
class Studio {
 public:
  Studio() : session(inbox, {}) {
    thread = std::thread([this] { Run(); });
    page = std::make_unique<loopback::WebSocket>(session.Web().Port(),
                                                 "/ws?token=" + session.Web().Secret(),
                                                 OriginHeader(session.Web().Port()));
    // The dialog is open once a state lists it.
    page->ReceiveContaining("\"Kestrion Control\"");
  }
  ~Studio() {
    inbox.Close();
    thread.join();
  }

  bool Open() const { return page->Status() == 101 && ready; }

  // Sends the action and waits for the state that acknowledges it.
  bool Act(const std::string& fields) {
    const std::string seq = std::to_string(++lastSeq);
    page->Send(R"({"type":"action","dialog":1,"seq":)" + seq + "," + fields + "}");
    return !page->ReceiveContaining("{\"ack\":" + seq + ",").empty();
  }

 private:
  void Run() {
    std::string error;
    auto module = FilterModule::Load(KESTRION_MODULE_PATH, error);
    if (!module) return;
    auto filter = module->CreateFilter();
    for (const char* name : {"Sphere01", "Box01", "Sphere02"}) HostInterface().AddNode(name);
    {
      studio::DialogBridge bridge(inbox, [this](studio::ClientId c, std::string t, std::string k) {
        session.Send(c, std::move(t), std::move(k));
      });
      studio::FilterHost host(*filter, bridge);
      ready = true;
      bridge.Post([&host] { host.OpenControl(); });
      bridge.Run();
    }
    filter.reset();
    HostInterface().Reset();
  }

  studio::Inbox inbox;
  studio::Session session;
  std::thread thread;
  std::unique_ptr<loopback::WebSocket> page;
  std::atomic<bool> ready{false};
  int64_t lastSeq = 0;
};

void ActionToState_Click(benchmark::State& state) {
  Studio studio;
  if (!studio.Open()) {
    state.SkipWithError("the studio did not open");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    // Object Channel and Material Effects Channel in turn: each click
    // enables and disables ID controls.
    const char* id = (i++ % 2) ? "1011" : "1012";
    if (!studio.Act(std::string(R"("action":"click","id":)") + id)) state.SkipWithError("no state");
  }
}
BENCHMARK(ActionToState_Click)->UseRealTime()->Unit(benchmark::kMillisecond);

void ActionToState_SpinnerDrag(benchmark::State& state) {
  Studio studio;
  if (!studio.Open() || !studio.Act(R"("action":"press","id":1006)")) {
    state.SkipWithError("the studio did not open");
    return;
  }
  int pixels = 0;
  for (auto _ : state) {
    // Each step writes Range into the record and the track, in the hold.
    pixels = (pixels + 1) % 200;
    if (!studio.Act(R"("action":"drag","id":1006,"pixels":)" + std::to_string(pixels))) {
      state.SkipWithError("no state");
    }
  }
}
BENCHMARK(ActionToState_SpinnerDrag)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
