// The page's requests, through the bridge, become the module's behaviour:
// the module file loaded as the host loads it, its control dialog run on
// this thread, the requests queued as the server's threads would queue
// them, and the states the page would receive read back.
#include "studio/dialog_bridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "host/custom_controls.h"
#include "host/filter_pipeline.h"
#include "host/hold.h"
#include "host/scene.h"
#include "platform/modal_loop.h"
#include "platform/scripted_user.h"
#include "studio/filter_host.h"
#include "tests/studio/module_suite.h"

namespace {

using nlohmann::json;

constexpr int CONTROL = 1;  // the control dialog's handle: the first dialog opened
constexpr int ABOUT = 2;

struct Sent {
  studio::ClientId client;
  json message;
};

class StudioBridge : public ModuleSuite {
 protected:
  void SetUp() override {
    ClearHost();
    filter = module->CreateFilter();
    ASSERT_NE(filter, nullptr);
    for (const char* name : {"Sphere01", "Box01", "Sphere02"}) HostInterface().AddNode(name);
    bridge = std::make_unique<studio::DialogBridge>(
        inbox, [this](studio::ClientId client, std::string text, std::string) {
          sent.push_back({client, json::parse(text)});
        });
    host = std::make_unique<studio::FilterHost>(*filter, *bridge);
  }
  void TearDown() override {
    host.reset();
    bridge.reset();
    filter.reset();
    ClearHost();
  }

  // A page message, read as the server's threads read it, from page 7.
  void Push(const json& message) {
    ASSERT_TRUE(inbox.Push(studio::ReadRequest(message.dump(), 7)));
  }
  void Act(int dialog, const char* action, json fields = json::object()) {
    fields["type"] = "action";
    fields["dialog"] = dialog;
    fields["action"] = action;
    fields["seq"] = ++seq;
    Push(fields);
  }
  void Host(const char* command) { Push({{"type", "host"}, {"command", command}, {"seq", ++seq}}); }

  // The state the page had once the request `ack` was handled.
  const json& StateAfter(int64_t ack) const {
    for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
      if (it->message["type"] == "state" && it->message["ack"] == ack) return it->message;
    }
    static const json none;
    ADD_FAILURE() << "no state after request " << ack;
    return none;
  }
  std::vector<std::string> Refusals() const {
    std::vector<std::string> reasons;
    for (const Sent& s : sent) {
      if (s.message["type"] == "refused") {
        EXPECT_EQ(s.client, 7u) << "a refusal goes to the page that asked";
        reasons.push_back(std::to_string(s.message["seq"].get<int64_t>()) + " " +
                          s.message["reason"].get<std::string>());
      }
    }
    return reasons;
  }

  static const json& Control(const json& state, int dialog, int id) {
    for (const json& d : state["dialogs"]) {
      if (d["handle"] != dialog) continue;
      for (const json& c : d["controls"]) {
        if (c["id"] == id) return c;
      }
    }
    static const json none;
    ADD_FAILURE() << "no control " << id << " in dialog " << dialog;
    return none;
  }

  std::unique_ptr<ImageFilter> filter;
  studio::Inbox inbox;
  std::vector<Sent> sent;
  std::unique_ptr<studio::DialogBridge> bridge;
  std::unique_ptr<studio::FilterHost> host;
  int64_t seq = 0;
};

TEST_F(StudioBridge, ShowsTheTemplateAndLetsTheModuleDecideWhatAClickEnables) {
  Act(CONTROL, "click", {{"id", 1026}});  // disabled while Whole Image is chosen
  Act(ABOUT, "click", {{"id", 1}});       // no such dialog
  Act(CONTROL, "click", {{"id", 1012}});  // 3: Object Channel
  Act(CONTROL, "click", {{"id", 1}});     // 4: OK
  EXPECT_EQ(host->OpenControl(), 1);

  const json& opened = StateAfter(0);
  ASSERT_EQ(opened["dialogs"].size(), 1u);
  const json& dialog = opened["dialogs"][0];
  EXPECT_EQ(dialog["caption"], "Kestrion Control");
  EXPECT_EQ(dialog["baseUnits"], json::array({6, 13}));
  EXPECT_EQ(dialog["pixels"], json::array({0, 0, 284, 301})) << "189 x 185 units";
  std::vector<int> order;
  for (const json& c : dialog["controls"]) order.push_back(c["id"]);
  EXPECT_EQ(order, (std::vector<int>{65535, 65535, 65535, 1010,  1011, 1012, 1026,  1046,
                                     1027,  1047,  65535, 65535, 1001, 1002, 65535, 1003,
                                     1004,  1,     2,     65535, 1005, 1006}))
      << "tab order";
  const json& browse = Control(opened, CONTROL, 1002);
  EXPECT_EQ(browse["text"], "Browse...");
  EXPECT_EQ(browse["units"], json::array({127, 117, 40, 12}));
  EXPECT_EQ(browse["pixels"], json::array({191, 190, 60, 20}));
  EXPECT_TRUE(browse["tabStop"]);
  EXPECT_TRUE(browse["focused"]) << "the first enabled tab stop";
  EXPECT_EQ(Control(opened, CONTROL, 1001)["text"], "Undefined");
  EXPECT_EQ(Control(opened, CONTROL, 1010)["checked"], 1);
  EXPECT_FALSE(Control(opened, CONTROL, 1027)["enabled"]);
  const json& range = Control(opened, CONTROL, 1006)["spinner"];
  EXPECT_EQ(range["value"], 50.0);
  EXPECT_EQ(range["max"], 99999.0);
  EXPECT_EQ(range["edit"], 1005);
  EXPECT_EQ(Control(opened, CONTROL, 1005)["text"], "50.0");

  const json& clicked = StateAfter(3);
  EXPECT_TRUE(Control(clicked, CONTROL, 1027)["enabled"]);
  EXPECT_TRUE(Control(clicked, CONTROL, 1047)["enabled"]);
  EXPECT_FALSE(Control(clicked, CONTROL, 1026)["enabled"]);
  EXPECT_EQ(Control(clicked, CONTROL, 1012)["checked"], 1);
  EXPECT_EQ(clicked["host"]["record"]["sourceMode"], 1010) << "stored on OK only";
  EXPECT_EQ(host->State()["record"]["sourceMode"], 1012);

  EXPECT_EQ(Refusals(), (std::vector<std::string>{
                            "1 the control is disabled, or the dialog has no such control",
                            "2 that dialog is not the one in front"}));
}

TEST_F(StudioBridge, DragWritesRangeLiveInAHoldAndCancelRestoresTheRest) {
  Act(CONTROL, "press", {{"id", 1006}});  // 1
  Act(CONTROL, "drag", {{"id", 1006}, {"pixels", 100}});
  Act(CONTROL, "drag", {{"id", 1006}, {"pixels", 300}});  // 3: one with the one before
  Act(CONTROL, "release", {{"id", 1006}, {"accept", true}});
  Act(CONTROL, "click", {{"id", 1002}});  // 5: Browse...
  Act(CONTROL, "click", {{"id", 2}});     // 6: refused, the pick dialog is in front
  Push({{"type", "pick"}, {"run", 1}, {"names", {"Box01"}}, {"seq", 7}});
  Act(CONTROL, "click", {{"id", 1011}});  // 8
  Act(CONTROL, "escape");                 // 9: Cancel
  EXPECT_EQ(host->OpenControl(), 0);

  const json& dragged = StateAfter(3);
  EXPECT_EQ(Control(dragged, CONTROL, 1006)["spinner"]["value"], 80.0);
  EXPECT_EQ(Control(dragged, CONTROL, 1005)["text"], "80.0");
  EXPECT_EQ(dragged["host"]["record"]["blurRange"], 80.0);
  EXPECT_EQ(dragged["host"]["tracks"]["Range"], json::parse("[[0, 80.0]]"));
  EXPECT_TRUE(dragged["host"]["undo"]["holding"]);
  const json& released = StateAfter(4)["host"]["undo"];
  EXPECT_FALSE(released["holding"]);
  EXPECT_EQ(released["steps"], 1);
  EXPECT_EQ(released["name"], "Parameter Change");

  const json& picking = StateAfter(5)["pick"];
  EXPECT_EQ(picking["title"], "Select Object");
  EXPECT_EQ(picking["button"], "Ok");
  EXPECT_EQ(picking["offered"], json({"Sphere01", "Box01", "Sphere02"}));
  EXPECT_TRUE(picking["single"]);
  const json& picked = StateAfter(7);
  EXPECT_TRUE(picked["pick"].is_null());
  EXPECT_EQ(Control(picked, CONTROL, 1001)["text"], "Box01");
  EXPECT_EQ(picked["host"]["record"]["focalObjectName"], "Box01") << "written at the pick";

  // Cancel: the snapshot's name and source come back; the live range stays,
  // on the record and on the track, as the module defines.
  const json cancelled = host->State();
  EXPECT_EQ(cancelled["record"]["focalObjectName"], "");
  EXPECT_EQ(cancelled["record"]["sourceMode"], 1010);
  EXPECT_EQ(cancelled["record"]["blurRange"], 80.0);
  EXPECT_EQ(cancelled["tracks"]["Range"], json::parse("[[0, 80.0]]"));
  EXPECT_EQ(cancelled["lastDialog"], json({{"dialog", "control"}, {"result", 0}}));
  EXPECT_EQ(Refusals(), (std::vector<std::string>{"6 the pick dialog is open"}));
  EXPECT_EQ(OutstandingSpinners(), 0);
}

TEST_F(StudioBridge, AboutBoxNestsOverTheDialogWithItsLogo) {
  Host("openControl");  // 1: refused, the control dialog is open
  Host("openAbout");    // 2
  Act(ABOUT, "escape");
  Host("undo");  // 4: nothing to undo
  Act(CONTROL, "close");
  EXPECT_EQ(host->OpenControl(), 0);

  const json& about = StateAfter(2);
  ASSERT_EQ(about["dialogs"].size(), 2u);
  EXPECT_EQ(about["dialogs"][1]["caption"], "About Kestrion");
  EXPECT_EQ(
      about["dialogs"][1]["placed"][1].get<int>() - about["dialogs"][0]["placed"][1].get<int>(), 35)
      << "centred over the control dialog: (185 - 115) / 2";
  EXPECT_EQ(Control(about, ABOUT, 1)["pixels"], json::array({104, 156, 75, 23}));
  const json* logo = nullptr;
  for (const json& c : about["dialogs"][1]["controls"]) {
    if (c.contains("bitmap")) logo = &c["bitmap"];
  }
  ASSERT_NE(logo, nullptr);
  EXPECT_EQ((*logo)["width"], 130);
  EXPECT_EQ((*logo)["height"], 32);
  EXPECT_EQ((*logo)["palette"].get<std::string>().size(), 256u * 6);
  EXPECT_EQ((*logo)["pixels"].get<std::string>().size(), (130u * 32 + 2) / 3 * 4);
  const json& back = StateAfter(3);
  EXPECT_EQ(back["dialogs"].size(), 1u);
  EXPECT_EQ(back["host"]["lastDialog"], json({{"dialog", "about"}, {"result", 0}}));
  EXPECT_EQ(Refusals(), (std::vector<std::string>{"1 a dialog is open", "4 nothing to undo"}));
}

TEST_F(StudioBridge, QuitEndsThePickAndEveryDialogAsCancel) {
  Act(CONTROL, "click", {{"id", 1002}});
  std::thread quit([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    inbox.Close();
  });
  EXPECT_EQ(host->OpenControl(), 0);
  quit.join();
  EXPECT_TRUE(bridge->Quitting());
  EXPECT_TRUE(platform::OpenModalDialogs().empty());
  EXPECT_EQ(OutstandingSpinners(), 0);
  EXPECT_TRUE(platform::User().Empty());
  EXPECT_EQ(sent.back().message["type"], "state");
  EXPECT_FALSE(sent.back().message["pick"].is_null())
      << "the last state was the pick, as it waited";
  bridge->Run();  // returns at once
}

TEST_F(StudioBridge, PostedWorkRunsWhileNothingWaitsAndGivesWayToARequest) {
  // Work that runs until a request arrives, as a preview render answers
  // the abort query: it must stop as soon as the page's next action comes,
  // and the action then reaches the dialog open around it.
  std::atomic<bool> working{false};
  int runs = 0;
  bool interrupted = false;
  bridge->Post([this] {
    host->OpenControl();
    inbox.Close();
  });
  bridge->Post([&] {
    ++runs;
    working = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!bridge->Interrupted() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    interrupted = bridge->Interrupted();
  });
  std::thread page([this, &working] {
    while (!working) std::this_thread::yield();
    Act(CONTROL, "click", {{"id", 1}});
  });
  bridge->Run();
  page.join();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(interrupted);
  EXPECT_EQ(host->State()["lastDialog"], json({{"dialog", "control"}, {"result", 1}}));
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back().message["dialogs"].size(), 0u) << "the page learns that the dialog closed";
}

TEST_F(StudioBridge, EachWaitRefusesWhatItCannotTakeAndGoesOn) {
  // Requests queued before the studio thread takes any, each answered in
  // the wait it reaches: the program's loop, the control dialog's modal
  // loop, the host's pick dialog inside it.
  bridge->AddHostCommand("stop", [this](const studio::Request&, HWND) {
    inbox.Close();
    return std::string();
  });
  const auto pick = [this](json fields) {
    fields["type"] = "pick";
    fields["seq"] = ++seq;
    Push(fields);
  };
  Act(CONTROL, "click", {{"id", 1}});                            // 1: no dialog is open yet
  pick({{"run", 1}, {"cancel", true}});                          // 2
  Push({{"type", "look"}, {"seq", ++seq}, {"x", 0}, {"y", 0}});  // 3
  Host("noSuchCommand");                                         // 4
  Host("openControl");                                           // 5: the dialog opens
  Act(ABOUT, "click", {{"id", 1}});                              // 6: no such dialog in front
  pick({{"run", 1}, {"cancel", true}});                          // 7
  Act(CONTROL, "click", {{"id", 1002}});                         // 8: Browse... opens the pick
  Act(CONTROL, "click", {{"id", 1}});                            // 9
  Host("undo");                                                  // 10
  pick({{"run", 5}, {"names", {"Box01"}}});                      // 11: not this pick dialog
  pick({{"run", 1}, {"names", {"Box01"}}});                      // 12: picked
  Act(CONTROL, "click", {{"id", 1}});                            // 13: OK
  Act(CONTROL, "click", {{"id", 1}});                            // 14: closed again
  Host("stop");                                                  // 15
  bridge->Run();

  EXPECT_EQ(Refusals(), (std::vector<std::string>{
                            "1 no dialog is open",
                            "2 no pick dialog is open",
                            "3 the server answers looks itself",
                            "4 no such host command",
                            "6 that dialog is not the one in front",
                            "7 no pick dialog is open",
                            "9 the pick dialog is open",
                            "10 the pick dialog is open",
                            "11 that dialog is not the one in front",
                            "14 no dialog is open",
                        }));
  EXPECT_FALSE(StateAfter(8)["pick"].is_null());
  EXPECT_TRUE(StateAfter(12)["pick"].is_null());
  EXPECT_EQ(host->State()["lastDialog"], json({{"dialog", "control"}, {"result", 1}}));
  EXPECT_EQ(host->State()["record"]["focalObjectName"], "Box01") << "the pick reached the record";
  EXPECT_TRUE(bridge->Quitting());
  EXPECT_TRUE(platform::OpenModalDialogs().empty());
}

}  // namespace
