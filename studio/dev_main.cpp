// kestrion_studio_dev: the module's control dialog live in a browser, on
// a small test scene, until Ctrl-C.
//
//   kestrion_studio_dev [--module KESTRION.FLT] [--port N] [--open]
//
// Loads the module through the platform's loader as the host's pipeline
// does, creates one filter, puts a few named objects into the scene, and
// opens the filter's control dialog. The first line of stdout is the
// page's address, secret included.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <string>

#include "host/filter_pipeline.h"
#include "host/scene.h"
#include "studio/browser.h"
#include "studio/dialog_bridge.h"
#include "studio/filter_host.h"
#include "studio/session.h"
#include "studio/stop_signals.h"

namespace {

// The scene's objects, nearest first, with their distance from the camera.
constexpr struct {
  const char* name;
  float depth;
} TEST_SCENE[] = {
    {"Sphere01", 5.0f}, {"Box01", 9.0f}, {"Sphere02", 14.0f}, {"Box02", 22.0f}, {"Sphere03", 34.0f},
};

std::string ModuleBesideProgram() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "KESTRION.FLT";
  std::string program(path, static_cast<size_t>(n));
  return program.substr(0, program.rfind('/') + 1) + "KESTRION.FLT";
}

int Run(const std::string& modulePath, uint16_t port, bool open) {
  studio::Inbox inbox;
  // Before any thread starts, so that every thread leaves the signals to it.
  studio::StopSignals signals([&inbox](int) { inbox.Close(); });

  std::string error;
  std::unique_ptr<FilterModule> module = FilterModule::Load(modulePath, error);
  if (!module) {
    std::cerr << "kestrion_studio_dev: " << error << "\n";
    return 1;
  }
  std::unique_ptr<ImageFilter> filter = module->CreateFilter();
  if (!filter) {
    std::cerr << "kestrion_studio_dev: the module creates no filter\n";
    return 1;
  }
  for (const auto& object : TEST_SCENE) {
    HostInterface()
        .AddNode(object.name)
        .SetWorldTransform(0, Matrix3::Translation({0.0f, 0.0f, -object.depth}));
  }

  studio::ServerOptions options;
  options.port = port;
  std::unique_ptr<studio::Session> session;
  try {
    session = std::make_unique<studio::Session>(inbox, options);
  } catch (const std::exception& e) {
    std::cerr << "kestrion_studio_dev: " << e.what() << "\n";
    return 1;
  }
  std::cout << session->Url() << std::endl;
  std::cerr << "kestrion_studio_dev: serving the studio on 127.0.0.1:" << session->Web().Port()
            << "; Ctrl-C ends it\n";
  if (open && !studio::OpenInBrowser(session->Url(), error)) {
    std::cerr << "kestrion_studio_dev: " << error << "\n";
  }

  {
    studio::DialogBridge bridge(inbox,
                                [&](studio::ClientId client, std::string text, std::string key) {
                                  session->Send(client, std::move(text), std::move(key));
                                });
    studio::FilterHost host(*filter, bridge);
    bridge.Post([&host] { host.OpenControl(); });
    bridge.Run();
  }
  session.reset();
  filter.reset();
  HostInterface().Reset();
  std::cerr << "kestrion_studio_dev: stopped\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The module's control dialog live in a browser, on a small test scene"};
  std::string modulePath = ModuleBesideProgram();
  uint16_t port = 0;
  bool open = false;
  app.add_option("--module", modulePath, "The module file (default: KESTRION.FLT beside this)");
  app.add_option("--port", port, "The port on 127.0.0.1 (default: a free one)");
  app.add_flag("--open", open, "Open the page with xdg-open");
  CLI11_PARSE(app, argc, argv);
  return Run(modulePath, port, open);
}
