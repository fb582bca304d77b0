// The benchmark program's entry: runs the benchmarks as the host would run
// the filter, and ends with the ratios between their medians that tell how
// the blur stands against its own size, its direct summation, a frame copy
// and the whole render.
//
// `kestrion_bench --smoke` runs every benchmark once, briefly, on a small
// frame only: a check that the benchmarks still build and run, for CI.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
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

  // The targets, all at 1920 x 1080 and on medians of one interleaved run.
  void Finalize() override {
    ConsoleReporter::Finalize();
    const std::string frame = "1920/1080/";
    const std::string copy = "BM_FrameCopy/" + frame + "0";
    std::string lines;
    Line(lines, "blur size 100 / blur size 8 (cost independent of size)",
         Median("BM_DepthBlur/" + frame + "100"), Median("BM_DepthBlur/" + frame + "8"), AT_MOST,
         1.15);
    // Each frame-copy target against the copy between blocks out of the
    // cache, as the blur finds its frame, and again, for comparison, against
    // the copy whose blocks stay in the cache: the former reference.
    const std::string cachedCopy = "BM_FrameCopyInCache/" + frame + "0";
    // The blur is held to 4 copies out of the cache, 6 in it.
    for (const auto& [reference, named, most] :
         {std::tuple{copy, std::string(), 4.0},
          std::tuple{cachedCopy, std::string(" in cache"), 6.0}}) {
      for (const std::string size : {"2", "8", "20", "100"}) {
        const std::string blur = "BM_DepthBlur/" + frame + size;
        Line(lines, "blur / frame copy" + named + " at size " + size, Median(blur),
             Median(reference), AT_MOST, most);
      }
      for (const std::string size : {"2", "8", "20", "100"}) {
        const double render = Median("BM_Render/" + frame + size);
        const double blur = Median("BM_DepthBlur/" + frame + size);
        Line(lines, "(render - blur) / frame copy" + named + " at size " + size,
             render > 0.0 && blur > 0.0 ? render - blur : 0.0, Median(reference), AT_MOST, 5.0);
      }
    }
    Line(lines, "direct blur / blur at size 20", Median("BM_DirectBlur/" + frame + "20"),
         Median("BM_DepthBlur/" + frame + "20"), AT_LEAST, 100.0);
    // kestrion render on a float RGBA + Z file against OpenEXR alone reading
    // and writing it, with the same threads: as processes, on frames with
    // highlights and below 1, and in-process.
    for (const std::string size : {"1920/1080", "3840/2160"}) {
      for (const auto& [frame, named] :
           {std::pair{"/1", " with highlights"}, std::pair{"/0", " below 1"},
            std::pair{"/2", " half RGBA with highlights"}}) {
        Line(lines, "kestrion render / OpenEXR read + write, processes, at " + size + named,
             Median("BM_CommandRender/" + size + frame),
             Median("BM_CommandReference/" + size + frame), AT_MOST, 0.8);
      }
    }
    for (const std::string size : {"1920/1080", "3840/2160"}) {
      Line(lines, "kestrion render / OpenEXR read + write, in-process, at " + size,
           Median("BM_RenderCommand/" + size + "/8/0"), Median("BM_ExrReadWrite/" + size), AT_MOST,
           1.2);
    }
    Line(lines, "kestrion render --layered / kestrion render, in-process, at 1920/1080 size 24",
         Median("BM_RenderCommand/1920/1080/24/1"), Median("BM_RenderCommand/1920/1080/24/0"),
         AT_MOST, 3.0);
    if (!lines.empty()) GetOutputStream() << "\nTargets (ratios of medians):\n" << lines;
  }

 private:
  enum Bound { AT_MOST, AT_LEAST };

  // The median of a benchmark in seconds, 0 when it did not run.
  double Median(const std::string& name) const {
    const auto found = medians.find(name);
    return found == medians.end() ? 0.0 : found->second;
  }

  // One ratio against its target, when both of its terms were measured.
  static void Line(std::string& out, const std::string& what, double numerator, double denominator,
                   Bound bound, double target) {
    if (numerator <= 0.0 || denominator <= 0.0) return;
    const double ratio = numerator / denominator;
    const bool met = bound == AT_MOST ? ratio <= target : ratio >= target;
    char line[200];
    std::snprintf(line, sizeof line, "%9.3f  %s (target %s %g: %s)\n", ratio, what.c_str(),
                  bound == AT_MOST ? "<=" : ">=", target, met ? "met" : "NOT MET");
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
  // The smoke run: the small frame only, each benchmark for a moment. The
  // full run leaves the small frame out unless a filter asks for it.
  char smokeFilter[] = "--benchmark_filter=/65/47/";
  char smokeTime[] = "--benchmark_min_time=0.001";
  char fullFilter[] = "--benchmark_filter=-/65/47/";
  bool filtered = false;
  for (auto it = args.begin() + 1; it != args.end();) {
    const std::string_view arg = *it;
    if (arg == "--smoke") {
      it = args.erase(it);
      it = args.insert(it, {smokeFilter, smokeTime}) + 2;
      filtered = true;
      continue;
    }
    filtered = filtered || arg.substr(0, 19) == "--benchmark_filter=";
    ++it;
  }
  if (!filtered) args.push_back(fullFilter);
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
