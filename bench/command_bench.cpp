// `kestrion render` as a user runs it, a process from start to exit, on
// float RGBA + Z renders at 1920 x 1080 and 3840 x 2160, ZIP-compressed,
// with HDR highlights and with every value below 1, against a program that
// only reads the same file with OpenEXR and writes it back
// (kestrion_exr_reference) with the same threads. The command should take
// at most 0.8 times as long (main.cpp prints the ratios).
//
// Benchmark arguments: width, height, highlights (1), not (0), or
// highlights with half-float R, G, B and A (2; Z stays float). Both
// programs run with their default threads (one a core) unless
// KESTRION_BENCH_THREADS names a count, which both are given.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "float_frame.h"

extern char** environ;

namespace {

using kestrion_bench::FrameFile;
using kestrion_bench::REPETITIONS;

// The frame files, written once for all repetitions.
const FrameFile& InputFile(int width, int height, int64_t kind) {
  static std::map<std::tuple<int, int, int64_t>, std::unique_ptr<FrameFile>> files;
  std::unique_ptr<FrameFile>& file = files[{width, height, kind}];
  if (!file) {
    file = std::make_unique<FrameFile>(
        kestrion_bench::MakeFloatFrame(static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                                       kind != 0),
        "command-" + std::to_string(width) + "x" + std::to_string(height) +
            (kind == 2 ? "-half"
             : kind    ? "-hdr"
                       : "-low"),
        kind == 2);
  }
  return *file;
}

std::string ThreadsAsked() {
  const char* threads = std::getenv("KESTRION_BENCH_THREADS");
  return threads ? threads : "";
}

// Runs the program with its arguments; false when it cannot be started or
// does not exit with 0.
bool Run(const std::vector<std::string>& words) {
  std::vector<char*> argv;
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  // The command's "wrote" line goes nowhere; its errors stay on stderr.
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int started = posix_spawn(&child, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (started != 0) return false;
  int status = 0;
  if (waitpid(child, &status, 0) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Measure(benchmark::State& state, const std::vector<std::string>& words,
             const std::string& output) {
  for (auto _ : state) {
    if (!Run(words)) {
      state.SkipWithError((words[0] + " failed").c_str());
      break;
    }
  }
  std::remove(output.c_str());
}

void BM_CommandRender(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const FrameFile& input = InputFile(width, height, state.range(2));
  const std::string output = kestrion_bench::TemporaryPath("command-render-out");
  const auto [x, y] = kestrion_bench::FocalPixel(width, height);
  std::vector<std::string> words = {KESTRION_APP_PATH,
                                    "render",
                                    input.path,
                                    "-o",
                                    output,
                                    "--focus-pixel",
                                    std::to_string(x) + "," + std::to_string(y),
                                    "--range",
                                    "6",
                                    "--size",
                                    std::to_string(std::max(width / 80, 1)),
                                    "-q",
                                    "--module",
                                    KESTRION_MODULE_PATH};
  if (!ThreadsAsked().empty()) words.insert(words.end(), {"--threads", ThreadsAsked()});
  Measure(state, words, output);
}

void BM_CommandReference(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int height = static_cast<int>(state.range(1));
  const FrameFile& input = InputFile(width, height, state.range(2));
  const std::string output = kestrion_bench::TemporaryPath("command-reference-out");
  std::vector<std::string> words = {KESTRION_EXR_REFERENCE_PATH, input.path, output};
  if (!ThreadsAsked().empty()) words.push_back(ThreadsAsked());
  Measure(state, words, output);
}

void CommandFrames(benchmark::internal::Benchmark* benchmark) {
  for (const int kind : {1, 0, 2}) {
    benchmark->Args({1920, 1080, kind});
    benchmark->Args({3840, 2160, kind});
  }
  benchmark->Args({65, 47, 1});
  benchmark->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Repetitions(REPETITIONS)
      ->ReportAggregatesOnly(true);
}

}  // namespace

BENCHMARK(BM_CommandRender)->Apply(CommandFrames);
BENCHMARK(BM_CommandReference)->Apply(CommandFrames);
