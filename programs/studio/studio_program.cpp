// studio_program.cpp: the studio's threads, its filter and its workbench,
// set up and taken down in order.
#include "studio/studio_program.h"

#include <memory>
#include <string>

#include "base/errors.h"
#include "formats/exr_document.h"
#include "frame/filter_session.h"
#include "host/scene.h"
#include "studio/browser.h"
#include "studio/dialog_bridge.h"
#include "studio/filter_host.h"
#include "studio/look.h"
#include "studio/session.h"
#include "studio/stop_signals.h"

namespace studio {

int RunStudio(const StudioSetup& setup, std::FILE* out, std::FILE* err) {
  Inbox inbox;
  // Before any thread starts, so that every thread leaves the signals to it.
  StopSignals signals([&inbox](int) { inbox.Close(); });

  // Frames are filtered here as the host application filters them, whose
  // renderer keeps one frame's memory for the next.
  KeepFrameMemory();
  // OpenEXR's threads, once for the program's every read and write.
  kestrion::SetExrThreadCount(setup.settings.threads);
  const std::unique_ptr<FilterModule> module = kestrion::LoadFilterModule(setup.modulePath);
  std::unique_ptr<ImageFilter> filter = module->CreateFilter();
  if (!filter) throw kestrion::FileError(setup.modulePath, "the module creates no filter");

  // The first frame is read before anything is served: a file that cannot
  // be read is one line and the exit code.
  FrameStore frames(setup.frames, setup.settings);
  const std::shared_ptr<const LoadedFrame> first =
      frames.Load(setup.firstFrame, [&inbox] { return inbox.Waiting(); });
  // A size in per cent of the width is the filter's size in pixels of the
  // first frame's width, as a render of the frame sizes it.
  StudioSetup sized = setup;
  if (sized.settings.sizeInPercent) {
    sized.settings = kestrion::SizeInPixels(sized.settings, first->input.FrameWidth());
  }

  LookTable looks;
  ServerOptions options;
  options.port = setup.port;
  std::unique_ptr<Session> session;
  try {
    session = std::make_unique<Session>(
        inbox, options, [&looks](const Request& look) { return looks.Answer(look); });
  } catch (const ServerError& e) {
    throw kestrion::Failure(e.what());
  }
  const auto sendText = [&session](std::string text, std::string key) {
    session->Send(ALL_CLIENTS, std::move(text), std::move(key));
  };
  const auto sendBinary = [&session](std::string bytes, std::string key) {
    session->Web().SendBinary(ALL_CLIENTS, std::move(bytes), std::move(key));
  };
  {
    DialogBridge bridge(inbox, [&session](ClientId client, std::string text, std::string key) {
      session->Send(client, std::move(text), std::move(key));
    });
    FilterHost host(*filter, bridge);
    Workbench bench(sized, frames, *filter, bridge, {sendText, sendBinary}, looks);
    bridge.SetHostState([&host, &bench] {
      nlohmann::json state = host.State();
      state["studio"] = bench.State();
      return state;
    });
    bridge.OnSettled([&bench] { bench.Settled(); });

    std::fprintf(out, "%s\n", session->Url().c_str());
    std::fflush(out);
    std::fprintf(err, "kestrion: the studio serves on 127.0.0.1:%u; Ctrl-C ends it\n",
                 static_cast<unsigned>(session->Web().Port()));
    std::string error;
    if (setup.open && !OpenInBrowser(session->Url(), error)) {
      std::fprintf(err, "kestrion: %s\n", error.c_str());
    }
    bridge.Post([&host] { host.OpenControl(); });
    bridge.Run();
  }
  session.reset();
  filter.reset();
  HostInterface().Reset();
  std::fprintf(err, "kestrion: the studio stopped\n");
  return 0;
}

}  // namespace studio
