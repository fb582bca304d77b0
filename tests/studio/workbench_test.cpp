// The studio's preview, focus and hand-off on the loaded module: the
// control dialog open on this thread, the page's requests queued as the
// server's threads queue them, and the states and images the page would
// receive read back.
#include "studio/workbench.h"

#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "base/allocation_record.h"
#include "demo/demo_scene.h"
#include "frame/frame_render.h"
#include "frame/settings_file.h"
#include "host/filter_pipeline.h"
#include "host/hold.h"
#include "host/scene.h"
#include "platform/scripted_user.h"
#include "studio/filter_host.h"
#include "studio/hand_off.h"
#include "tests/studio/module_suite.h"
#include "tests/support/test_files.h"
#include "tests/support/view_config.h"

namespace {

using nlohmann::json;
using namespace kestrion;

constexpr int CONTROL = 1;  // the control dialog's handle
constexpr uint16_t WIDTH = 160;
constexpr uint16_t HEIGHT = 90;

struct ImageSent {
  json header;
  std::string rgba;
};

// The RGBA bytes of an 8-bit PNG as it stores them.
std::string PngPixels(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
  image.format = PNG_FORMAT_RGBA;
  std::string pixels(PNG_IMAGE_SIZE(image), '\0');
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
  return pixels;
}

class StudioWorkbench : public ModuleSuite {
 protected:
  void SetUp() override {
    ClearHost();
    frame = RenderDemoScene(WIDTH, HEIGHT);
    test_files::Save(frame, dir / "plate.exr");
  }
  void TearDown() override {
    bench.reset();
    host.reset();
    bridge.reset();
    store.reset();
    filter.reset();
    ClearHost();
  }

  void Start(RenderSettings settings) {
    setup.frames = {{0, dir / "plate.exr"}};
    setup.settings = std::move(settings);
    setup.input = dir / "plate.exr";
    setup.output = "out.exr";
    filter = module->CreateFilter();
    ASSERT_NE(filter, nullptr);
    store = std::make_unique<studio::FrameStore>(setup.frames, setup.settings);
    store->Load(0, {});
    bridge = std::make_unique<studio::DialogBridge>(
        inbox, [this](studio::ClientId, std::string text, std::string) {
          states.push_back(json::parse(text));
          OnState(states.back());
        });
    host = std::make_unique<studio::FilterHost>(*filter, *bridge);
    studio::Outlet outlet{[this](std::string text, std::string) { OnText(json::parse(text)); },
                          [this](std::string bytes, std::string) { OnImage(bytes); }};
    bench = std::make_unique<studio::Workbench>(setup, *store, *filter, *bridge, outlet, looks);
    bridge->SetHostState([this] {
      json state = host->State();
      state["studio"] = bench->State();
      return state;
    });
    bridge->OnSettled([this] { bench->Settled(); });
  }

  // Opens the control dialog and, once the first preview is current,
  // sends the requests queued; once the preview is current after the last of them, runs
  // `atEnd` (the dialog still open) and quits, which ends the dialog as
  // Cancel.
  void Run(std::function<void()> atEnd = {}) {
    bridge->Post([this] { host->OpenControl(); });
    // As a person would: once the frame and its first preview are shown.
    send = [this] {
      if (!bench->PreviewCurrent()) {
        bridge->Post(send);
        return;
      }
      for (const json& message : queued)
        ASSERT_TRUE(inbox.Push(studio::ReadRequest(message.dump(), 7)));
    };
    bridge->Post(send);
    finish = [this, atEnd] {
      if (!bench->PreviewCurrent()) {
        bridge->Post(finish);
        return;
      }
      if (atEnd) atEnd();
      inbox.Close();
    };
    bridge->Post(finish);
    bridge->Run();
  }

  // The page's requests, sent by Run once the dialog is open.
  void Act(const char* action, json fields = json::object()) {
    fields["type"] = "action";
    fields["dialog"] = CONTROL;
    fields["action"] = action;
    fields["seq"] = ++seq;
    queued.push_back(fields);
  }
  void Host(const char* command, json fields = json::object()) {
    fields["type"] = "host";
    fields["command"] = command;
    fields["seq"] = ++seq;
    queued.push_back(fields);
  }

  virtual void OnText(const json& message) { texts.push_back(message); }
  virtual void OnState(const json&) {}
  void OnImage(const std::string& bytes) {
    ASSERT_GE(bytes.size(), 8u);
    ASSERT_EQ(bytes.substr(0, 4), "KSI1");
    uint32_t length = 0;
    for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<uint8_t>(bytes.data()[4 + i]);
    images.push_back({json::parse(bytes.substr(8, length)), bytes.substr(8 + length)});
  }
  std::vector<const ImageSent*> Results() const {
    std::vector<const ImageSent*> results;
    for (const ImageSent& image : images) {
      if (image.header["kind"] == "result") results.push_back(&image);
    }
    return results;
  }
  // The last state that acknowledges request `ack`, before a later one is
  // acknowledged (the quit at the end is acknowledged as 0).
  const json& StateAfter(int64_t ack) const {
    const json* found = nullptr;
    for (const json& state : states) {
      if (state["type"] != "state") continue;
      if (state["ack"] == ack) {
        found = &state;
      } else if (found && state["ack"] > ack) {
        break;
      }
    }
    static const json none;
    if (!found) ADD_FAILURE() << "no state after request " << ack;
    return found ? *found : none;
  }
  static json Label(const json& state) {
    const json dialogs = state.value("dialogs", json::array());
    if (dialogs.empty()) return "no dialog";
    for (const json& c : dialogs[0].value("controls", json::array())) {
      if (c["id"] == 1001) return c["text"];
    }
    return "no label";
  }
  std::vector<std::string> Refusals() const {
    std::vector<std::string> reasons;
    for (const json& s : states) {
      if (s["type"] == "refused") {
        reasons.push_back(std::to_string(s["seq"].get<int64_t>()) + " " +
                          s["reason"].get<std::string>());
      }
    }
    return reasons;
  }
  // The first pixel holding `id` in the object channel, counted by `pick`.
  std::pair<int, int> PixelOf(uint16_t id) const {
    const uint16_t* ids = frame.Storage().ObjChannel();
    for (int i = 0; i < WIDTH * HEIGHT; ++i) {
      if (ids[i] == id) return {i % WIDTH, i / WIDTH};
    }
    ADD_FAILURE() << "no pixel of object " << id;
    return {0, 0};
  }

  test_files::ScratchDirectory dir;
  Image frame{Bitmap(1, 1), {}};
  studio::StudioSetup setup;
  std::unique_ptr<ImageFilter> filter;
  std::unique_ptr<studio::FrameStore> store;
  studio::Inbox inbox;
  studio::LookTable looks;
  std::unique_ptr<studio::DialogBridge> bridge;
  std::unique_ptr<studio::FilterHost> host;
  std::unique_ptr<studio::Workbench> bench;
  std::function<void()> send;
  std::function<void()> finish;
  std::vector<json> queued;
  std::vector<json> states;
  std::vector<json> texts;
  std::vector<ImageSent> images;
  int64_t seq = 0;
};

TEST_F(StudioWorkbench, PreviewIsWhatRenderWritesWithThePendingSourceAndTheLiveRange) {
  RenderSettings settings;
  settings.focusObject = 3;
  settings.size = FloatKeys{{0, 6.0f}};
  Start(settings);
  Act("click", {{"id", 1012}});  // Object Channel, pending until OK
  Act("type", {{"id", 1027}, {"text", "3"}});
  Act("press", {{"id", 1006}});
  Act("drag", {{"id", 1006}, {"pixels", 200}});  // Range 50 -> 70 by tenths, live
  Act("release", {{"id", 1006}, {"accept", true}});
  std::string saved;
  std::string command;
  Run([&] {
    saved = studio::SettingsFileText(bench->HandOffSettings());
    command = bench->HandOffCommand();
  });

  const std::vector<const ImageSent*> results = Results();
  ASSERT_FALSE(results.empty());
  const ImageSent& last = *results.back();
  EXPECT_EQ(last.header["source"], "object:3") << "the dialog's pending source";
  EXPECT_EQ(last.header["range"], 70.0);
  EXPECT_EQ(last.rgba.size(), size_t{WIDTH} * HEIGHT * 4);
  EXPECT_EQ(host->State()["record"]["sourceMode"], 1010)
      << "the pending source never reached the record: Cancel ended the dialog";
  EXPECT_EQ(command, "kestrion render " + setup.input +
                         " -o out.exr --focus-object 3 --range 70 --size 6 --source object:3");

  // What the hand-off's settings render through a new filter, as
  // `kestrion render --shot` does, is the preview byte for byte.
  RenderSettings base;
  base.output.bitDepth = 8;
  const RenderSettings handOff = ParseSettings(saved, "saved", base);
  const FrameOutcome outcome =
      RenderFrameFiles(*module, {setup.input, dir / "out.png", ""}, handOff);
  ASSERT_FALSE(outcome.error) << outcome.error->what();
  EXPECT_TRUE(PngPixels(dir / "out.png") == last.rgba) << "the review PNG differs from the preview";
}

TEST_F(StudioWorkbench, ViewChangesEncodeThePreviewAgainAndReachTheHandOff) {
  std::filesystem::copy_file(test_files::SMALL_VIEW_CONFIG_PATH, dir / "small.ocio");
  RenderSettings settings;
  settings.focusObject = 3;
  settings.size = FloatKeys{{0, 6.0f}};
  settings.output.review.choice.config = dir / "small.ocio";
  settings.output.review.view = OpenDisplayView(settings.output.review.choice);
  Start(settings);
  setup.output = "out.png";
  Host("view", {{"display", "sRGB"}, {"view", "Dim"}, {"look", ""}, {"exposure", 1}});  // 1
  Host("view", {{"display", "sRGB"}, {"view", "Filmic"}});                              // 2
  Host("view", {{"display", "P3"}});                                                    // 3
  Host("view", {{"display", "sRGB"}, {"view", "Dim"}, {"gamma", 0}});                   // 4
  std::string saved;
  std::string command;
  json view;
  Run([&] {
    saved = studio::SettingsFileText(bench->HandOffSettings());
    command = bench->HandOffCommand();
    view = bench->State()["view"];
  });
  const std::vector<std::string> refusals = Refusals();
  ASSERT_EQ(refusals.size(), 3u);
  EXPECT_EQ(refusals[0].rfind("2 ", 0), 0u) << refusals[0];
  EXPECT_NE(refusals[0].find("no view 'Filmic' (it has: Standard, Dim)"), std::string::npos);
  EXPECT_NE(refusals[1].find("no display 'P3'"), std::string::npos) << refusals[1];
  EXPECT_NE(refusals[2].find("gamma"), std::string::npos) << refusals[2];
  EXPECT_EQ(view["view"], "Dim");
  EXPECT_EQ(view["exposure"], 1.0);
  EXPECT_EQ(view["displays"][0]["views"], (json{"Standard", "Dim"}));

  // The view re-encoded the result without filtering again: the same
  // version, other bytes.
  const std::vector<const ImageSent*> results = Results();
  ASSERT_GE(results.size(), 2u);
  const ImageSent& before = *results[results.size() - 2];
  const ImageSent& last = *results.back();
  EXPECT_EQ(last.header["version"], before.header["version"]);
  EXPECT_NE(last.rgba, before.rgba);
  EXPECT_NE(command.find("--ocio-display sRGB --ocio-view Dim --exposure 1"), std::string::npos)
      << command;

  // The hand-off's settings file renders the preview byte for byte.
  RenderSettings base;
  base.output.bitDepth = 8;
  RenderSettings handOff = ParseSettings(saved, "saved", base);
  handOff.output.review.view = OpenDisplayView(handOff.output.review.choice);
  const FrameOutcome outcome =
      RenderFrameFiles(*module, {setup.input, dir / "out.png", ""}, handOff);
  ASSERT_FALSE(outcome.error) << outcome.error->what();
  EXPECT_TRUE(PngPixels(dir / "out.png") == last.rgba) << "the review PNG differs from the preview";
}

TEST_F(StudioWorkbench, TheLayeredSwitchFiltersAgainAndReachesTheHandOff) {
  RenderSettings settings;
  settings.focusObject = 3;
  settings.size = FloatKeys{{0, 6.0f}};
  Start(settings);
  Host("layered", {{"on", true}});   // 1
  Host("layered", {{"on", "yes"}});  // 2
  std::string saved;
  std::string command;
  Run([&] {
    saved = studio::SettingsFileText(bench->HandOffSettings());
    command = bench->HandOffCommand();
  });
  EXPECT_EQ(Refusals(), (std::vector<std::string>{"2 \"on\" must be true or false"}));
  EXPECT_EQ(StateAfter(0)["host"]["studio"]["layered"], false);
  EXPECT_EQ(StateAfter(2)["host"]["studio"]["layered"], true);

  // The switch is part of what the preview is filtered with: it renders
  // again, in layers, and comes out otherwise than the module's own blur.
  const std::vector<const ImageSent*> results = Results();
  ASSERT_GE(results.size(), 2u);
  const ImageSent& first = *results.front();
  const ImageSent& last = *results.back();
  EXPECT_EQ(first.header["layered"], false);
  EXPECT_EQ(first.header["layers"], 0);
  EXPECT_EQ(last.header["layered"], true);
  EXPECT_GT(last.header["layers"].get<int>(), 1);
  EXPECT_NE(last.rgba, first.rgba);
  const json preview = bench->State()["preview"];
  EXPECT_EQ(preview["layers"], last.header["layers"]);
  EXPECT_GT(preview["passes"].get<int>(), preview["layers"].get<int>());
  EXPECT_EQ(command, "kestrion render " + setup.input +
                         " -o out.exr --focus-object 3 --range 50 --size 6 --layered");

  // The hand-off's settings file renders the layered preview byte for byte.
  RenderSettings base;
  base.output.bitDepth = 8;
  const RenderSettings handOff = ParseSettings(saved, "saved", base);
  EXPECT_TRUE(handOff.layered);
  const FrameOutcome outcome =
      RenderFrameFiles(*module, {setup.input, dir / "out.png", ""}, handOff);
  ASSERT_FALSE(outcome.error) << outcome.error->what();
  EXPECT_TRUE(PngPixels(dir / "out.png") == last.rgba) << "the review PNG differs from the preview";
}

TEST_F(StudioWorkbench, ClickingTheImageFocusesThroughBrowseAsAPersonWould) {
  Start({});
  const auto [groundX, groundY] = PixelOf(GROUND_OBJECT_ID);
  const auto [sphereX, sphereY] = PixelOf(3);
  const auto [skyX, skyY] = PixelOf(0);
  Host("focusAt", {{"x", skyX}, {"y", skyY}});                          // 1: no geometry
  Host("focusAt", {{"x", groundX}, {"y", groundY}});                    // 2
  Host("focusAt", {{"x", sphereX}, {"y", sphereY}, {"object", true}});  // 3
  Host("undo");                                                         // 4: the focus key
  Run();

  EXPECT_EQ(StateAfter(0)["host"]["studio"]["preview"]["status"], "unfocused");
  EXPECT_EQ(Label(StateAfter(0)), "Undefined");
  const json& ground = StateAfter(2);
  EXPECT_EQ(Label(ground), "Focus") << "picked through Browse...";
  EXPECT_EQ(ground["host"]["record"]["focalObjectName"], "Focus");
  const float depth = -frame.Storage().ZChannel()[groundY * WIDTH + groundX];
  EXPECT_EQ(ground["host"]["studio"]["focus"]["keys"], json::array({json::array({0, depth})}));
  EXPECT_EQ(ground["host"]["undo"]["name"], "Focus Change");
  const json& sphere = StateAfter(3);
  EXPECT_EQ(Label(sphere), "Object 3");
  EXPECT_EQ(sphere["host"]["studio"]["focus"]["object"], 3);
  EXPECT_TRUE(StateAfter(4)["host"]["studio"]["focus"]["keys"].is_null());
  EXPECT_EQ(Refusals(),
            (std::vector<std::string>{"1 no geometry lies under the pointer to focus on"}));
  EXPECT_EQ(HostInterface().PickRuns().size(), 2u);

  // Every preview went out focused where the record pointed then; the last
  // on object 3, whose pixels are then left sharp: radius 0 in the readout.
  const std::vector<const ImageSent*> results = Results();
  ASSERT_FALSE(results.empty());
  studio::Request look;
  look.kind = studio::RequestKind::Look;
  look.x = sphereX;
  look.y = sphereY;
  EXPECT_EQ(json::parse(looks.Answer(look))["radius"], 0);
  EXPECT_EQ(json::parse(looks.Answer(look))["objectId"], 3);
  // Cancel at the end restores the snapshot's name.
  EXPECT_EQ(host->State()["record"]["focalObjectName"], "");
}

// Pushes a request when the first render reports its first rows: the
// render must give way, and what it wrote back must never be shown.
class InterruptedWorkbench : public StudioWorkbench {
 protected:
  void OnText(const json& message) override {
    StudioWorkbench::OnText(message);
    if (interrupted || message["type"] != "progress" || message["stage"] != "filtering") return;
    interrupted = true;
    Act("press", {{"id", 1004}});
    Act("drag", {{"id", 1004}, {"pixels", 30}});  // Size 6 -> 9 by tenths
    Act("release", {{"id", 1004}, {"accept", true}});
    for (const json& request : queued)
      ASSERT_TRUE(inbox.Push(studio::ReadRequest(request.dump(), 7)));
    queued.clear();
  }
  bool interrupted = false;
};

TEST_F(InterruptedWorkbench, AnAbortedPreviewIsNeverShown) {
  RenderSettings settings;
  settings.focusObject = 3;
  settings.size = FloatKeys{{0, 6.0f}};
  Start(settings);
  Run();
  ASSERT_TRUE(interrupted);
  const std::vector<const ImageSent*> results = Results();
  ASSERT_EQ(results.size(), 1u) << "the interrupted render sent nothing";
  EXPECT_EQ(results[0]->header["size"], 9.0);
  size_t starts = 0;
  for (const json& text : texts) {
    if (text["type"] == "progress" && text.value("row", -1) == 0 && text.value("pass", -1) == 0) {
      ++starts;
    }
  }
  EXPECT_GE(starts, 1u);
}

// A preview that runs out of memory: the page hears why, the record keeps
// the source and IDs it held (the dialog's pending ones go back), and the
// next change previews as usual. The frame is large enough that its
// planes cannot be had under the cap, while the dialog's messages can.
class StarvedWorkbench : public StudioWorkbench {
 protected:
  static constexpr uint16_t LARGE_WIDTH = 1024;
  static constexpr uint16_t LARGE_HEIGHT = 576;
  static constexpr size_t CAP = 1 << 20;

  void SetUp() override {
    ClearHost();
    frame = RenderDemoScene(LARGE_WIDTH, LARGE_HEIGHT);
    test_files::Save(frame, dir / "plate.exr");
  }
  void OnText(const json& message) override {
    StudioWorkbench::OnText(message);
    if (message["type"] != "progress" || !message.value("done", false)) return;
    ++previews;
    if (previews == 1) {
      // The first preview is in: the next one, for a pending source,
      // renders under the cap.
      recordBefore = host->State()["record"];
      cap.emplace(CAP);
      Push("action", {{"dialog", CONTROL}, {"action", "click"}, {"id", 1012}});
    } else if (previews == 2) {
      cap.reset();
      recordAfterFailure = host->State()["record"];
    }
  }
  // Once the page has seen the failure, the person goes on.
  void OnState(const json& state) override {
    const json preview = state.value("/host/studio/preview"_json_pointer, json::object());
    if (preview.value("status", "") != "failed" || failure.is_object()) return;
    failure = preview;
    Push("action", {{"dialog", CONTROL}, {"action", "type"}, {"id", 1027}, {"text", "3"}});
  }
  void Push(const char* type, json fields) {
    fields["type"] = type;
    fields["seq"] = ++seq;
    ASSERT_TRUE(inbox.Push(studio::ReadRequest(fields.dump(), 7)));
  }

  std::optional<AllocationCapForTesting> cap;
  int previews = 0;
  json recordBefore;
  json recordAfterFailure;
  json failure;  // the failed preview, as the page saw it
};

TEST_F(StarvedWorkbench, APreviewOutOfMemoryIsShownAndLeavesTheRecordAsItWas) {
  RenderSettings settings;
  settings.focusObject = 3;
  Start(settings);
  Run();
  cap.reset();
  ASSERT_TRUE(failure.is_object()) << "no state showed the failed preview";
  ASSERT_GE(previews, 3) << "the session ended after the failed preview";
  EXPECT_NE(failure.value("message", "").find("memory"), std::string::npos) << failure.dump();
  ASSERT_TRUE(recordBefore.is_object());
  EXPECT_EQ(recordAfterFailure["sourceMode"], recordBefore["sourceMode"])
      << "the pending source stayed in the record after the failed preview";
  EXPECT_EQ(recordAfterFailure["objectChannelId"], recordBefore["objectChannelId"]);
  const std::vector<const ImageSent*> results = Results();
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results.back()->header["source"], "object:3")
      << "the preview after the failure renders the dialog's pending source";
}

}  // namespace
