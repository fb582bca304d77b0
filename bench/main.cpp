// The benchmark program's entry: runs the benchmarks as the host would run
// the filter, and ends with the ratios between their medians that tell how
// the blur stands against its own size, its direct summation, a frame copy
// and the whole render.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "host/filter_pipeline.h"

namespace {

// The console report, and at its end the ratios of medians.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median" ||
          run.error_occurred) {
        continue;
      }
      // Seconds per iteration, whatever unit the benchmark reports in.
      medians[run.run_name.function_name + "/" + run.run_name.args] =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::string lines;
    for (const std::string frame : {"1920/1080", "3840/2160"}) {
      const bool targeted = frame == "1920/1080";
      Line(lines, "BM_DepthBlur size 100 / size 2 at " + frame, "BM_DepthBlur/" + frame + "/100",
           "BM_DepthBlur/" + frame + "/2", AT_MOST, 1.2);
      for (const std::string size : {"2", "8", "20", "100"}) {
        Line(lines, "BM_DepthBlur / BM_FrameCopy at " + frame + " size " + size,
             "BM_DepthBlur/" + frame + "/" + size, "BM_FrameCopy/" + frame + "/0", AT_MOST,
             targeted ? 8.0 : 0.0);
      }
      for (const std::string size : {"2", "8", "20", "100"}) {
        Line(lines, "BM_Render / BM_DepthBlur at " + frame + " size " + size,
             "BM_Render/" + frame + "/" + size, "BM_DepthBlur/" + frame + "/" + size, AT_MOST,
             targeted ? 2.0 : 0.0);
      }
    }
    Line(lines, "BM_DirectBlur / BM_DepthBlur at 1920/1080 size 20", "BM_DirectBlur/1920/1080/20",
         "BM_DepthBlur/1920/1080/20", AT_LEAST, 100.0);
    if (!lines.empty()) GetOutputStream() << "\nRatios of medians:\n" << lines;
  }

 private:
  enum Bound { AT_MOST, AT_LEAST };

  // One ratio, when both benchmarks ran, with its target when it has one
  // (a nonzero target).
  void Line(std::string& out, const std::string& what, const std::string& numerator,
            const std::string& denominator, Bound bound, double target) const {
    const auto n = medians.find(numerator);
    const auto d = medians.find(denominator);
    if (n == medians.end() || d == medians.end() || d->second <= 0.0) return;
    const double ratio = n->second / d->second;
    char line[160];
    if (target == 0.0) {
      std::snprintf(line, sizeof line, "%9.3f  %s\n", ratio, what.c_str());
    } else {
      const bool met = bound == AT_MOST ? ratio <= target : ratio >= target;
      std::snprintf(line, sizeof line, "%9.3f  %s (target %s %g: %s)\n", ratio, what.c_str(),
                    bound == AT_MOST ? "<=" : ">=", target, met ? "met" : "NOT MET");
    }
    out += line;
  }

  std::map<std::string, double> medians;
};

}  // namespace

// Every benchmark runs as inside the host, whose pipeline keeps the memory
// of one frame's working copies for the next (KeepFrameMemory). The
// repetitions of all benchmarks run in random order unless the command
// line says otherwise, so that the medians compared in a ratio were taken
// over the same stretch of time: run one after the other, a busy spell on
// a shared machine would fall on one benchmark's repetitions only.
int main(int argc, char** argv) {
  KeepFrameMemory();
  // Another output format asked for on the command line (json, csv) goes to
  // the library's own reporter, without the ratios.
  bool console = true;
  constexpr std::string_view FORMAT = "--benchmark_format=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.substr(0, FORMAT.size()) == FORMAT) console = arg.substr(FORMAT.size()) == "console";
  }
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + (argc > 0 ? 1 : 0), interleave);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  if (console) {
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
  } else {
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  return 0;
}
