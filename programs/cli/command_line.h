// command_line.h: kestrion's command line, read with CLI11: the commands,
// their options and help, and every number read by the strict reader
// (numbers.h) instead of CLI11's own conversions, which take hexadecimal
// and spaces.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "shot/shot_runner.h"

namespace CLI {
class App;
}

namespace kestrion {

// One option of render's, by its long name without the dashes
// ("focus-depth"); a flag takes no value.
struct RenderOptionName {
  std::string name;
  bool flag = false;
};

enum class Command { Info, Demo, Render, Shot, Inspect, Studio };

class CommandLine {
 public:
  CommandLine();
  ~CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  // Reads argv into the options below. Returns the exit code when the run
  // ends here: help shown, or a parse error printed on stderr (and for a
  // render asked for a JSON report, its failed frame's line on stdout).
  std::optional<int> Parse(int argc, char** argv);
  // The command chosen: a render whose INPUT holds a frame pattern is a
  // shot. Throws a UsageError for a shot's own options without a pattern.
  Command Chosen() const;
  // The shot a render over a frame pattern runs: every word after "render"
  // that is not the shot's own goes to each frame.
  ShotRun Shot() const;
  // The studio's options, with the words its hand-off's command repeats.
  StudioRun Studio() const;

  // Render's options from `words`, the words after "render" as Parse reads
  // them (INPUT among them), for a host that gives the command's options
  // another way. Prints nothing: a word Parse would refuse throws a
  // UsageError with the parser's message. A frame pattern in INPUT (a shot)
  // and the shot's own options are refused the same way.
  static RenderOptions ParseRenderWords(const std::vector<std::string>& words);
  // Every option render takes, in the order of its help.
  static std::vector<RenderOptionName> RenderOptionNames();

  InfoOptions info;
  DemoOptions demo;
  RenderOptions render;
  ShotOptions shot;
  InspectCommandOptions inspect;
  StudioOptions studio;

 private:
  std::unique_ptr<CLI::App> app;
  int argc = 0;
  char** argv = nullptr;
};

}  // namespace kestrion
