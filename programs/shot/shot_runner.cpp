#include "shot/shot_runner.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <nlohmann/json.hpp>
#include <thread>

#include "base/errors.h"
#include "base/frame_numbers.h"
#include "base/report_stream.h"
#include "formats/output_file.h"
#include "formats/whole_file.h"
#include "shot/exit_codes.h"
#include "shot/frame_pattern.h"
#include "shot/frame_workers.h"
#include "shot/shot_arguments.h"
#include "shot/shot_progress.h"

namespace kestrion {

namespace {

// How often the parent looks at its workers, the stop signal and the clock
// while frames render.
constexpr auto POLL_PERIOD = std::chrono::milliseconds(10);

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

std::string SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(signal);
  }
}

struct Frame {
  int64_t number = 0;
  std::string input;
  std::string output;
  std::optional<std::string> report;  // its JSON line, once known
  bool failed = false;
  std::string warning;  // what the shot found wrong before rendering it
};

// The shot's own field, last on every line: a warning about the frame.
void SetWarning(nlohmann::ordered_json& record, const Frame& frame) {
  record["warning"] = frame.warning.empty() ? nlohmann::ordered_json(nullptr)
                                            : nlohmann::ordered_json(frame.warning);
}

// A report line kestrion makes for a frame no worker reported on: the
// fields of a frame's own line (frame_report.h), in the same order, with
// what is not known null.
nlohmann::ordered_json Record(const Frame& frame, const std::string& status,
                              const std::string& error) {
  nlohmann::ordered_json record;
  record["input"] = ShownName(frame.input);
  record["output"] = ShownName(frame.output);
  record["frame"] = frame.number;
  for (const char* unknown :
       {"width", "height", "focusDepth", "range", "size", "source", "passes", "layers"}) {
    record[unknown] = nullptr;
  }
  record["seconds"] = nullptr;
  record["status"] = status;
  record["error"] = error.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(error);
  SetWarning(record, frame);
  return record;
}

// A report line. Names are shown escaped, so the line is UTF-8; anything
// else would be replaced rather than fail the shot.
std::string ReportLine(const nlohmann::ordered_json& record) {
  return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

class Shot {
 public:
  Shot(const ShotRun& run, std::FILE* out, std::FILE* err) : run(run), out(out, err), err(err) {}
  int Run();

 private:
  // The frames the patterns, the frame list and the chunk name, checked.
  void Plan();
  std::vector<int64_t> FrameNumbers(const FramePattern& input) const;
  // Reports missing inputs and skipped outputs; returns the frames to render.
  std::vector<size_t> Sort();
  // Renders them, `jobs` at a time, until all are done or the shot stops.
  void RenderFrames(const std::vector<size_t>& toRender, size_t jobs);
  void Start(size_t index);
  void Reap(const FrameWorker& worker, const WorkerResult& result);
  void WriteReportFile(OutputFile& file) const;
  void Emit(size_t index, const std::string& line);
  void Message(const std::string& text);
  int StopSignal() const { return run.stopSignal ? run.stopSignal() : 0; }

  const ShotRun& run;
  // The frames' files are the shot's output: a closed stdout stops none.
  ReportStream out;
  std::FILE* err;
  std::vector<Frame> frames;
  std::vector<FrameWorker> running;
  std::optional<ShotProgress> progress;
  std::string reportText;
  size_t rendered = 0;  // frames done by their worker
  size_t skipped = 0;
  size_t emitted = 0;  // frames whose report line has been written, in order
  bool usageFailure = false;
  std::vector<std::string> limitWords;  // every frame's share of the memory and cores
  std::vector<std::string> shotWords;   // the shot a frame belongs to
};

std::vector<int64_t> Shot::FrameNumbers(const FramePattern& input) const {
  std::vector<int64_t> numbers;
  if (run.shot.frames) {
    numbers = ParseFrameList(*run.shot.frames);
  } else {
    numbers = input.FramesOnDisk();
    if (numbers.empty()) {
      throw UsageError(ShownName(input.Text()) +
                       ": no frame fits this pattern; check the name, or give --frames");
    }
    for (const int64_t number : numbers) {
      if (std::string problem = FrameProblem(number); !problem.empty()) {
        throw UsageError(ShownName(input.FileOf(number)) + ": " + problem +
                         "; give --frames to leave it out");
      }
    }
  }
  if (run.shot.chunk) {
    const auto text = [](const std::optional<std::string>& value) {
      return value ? value->c_str() : nullptr;
    };
    numbers = ChunkOf(numbers,
                      ParseChunk(*run.shot.chunk, text(run.arrayTaskId), text(run.arrayTaskMin)));
    if (numbers.empty()) {
      throw UsageError("--chunk " + QuotedValue(*run.shot.chunk) +
                       ": this chunk holds no frame; use no more chunks than frames");
    }
  }
  return numbers;
}

void Shot::Plan() {
  const std::optional<FramePattern> input = FramePattern::Parse(run.input, "INPUT");
  if (!input) {
    throw UsageError(ShownName(run.input) + ": not a frame pattern (e.g. frame.####.exr)");
  }
  const std::optional<FramePattern> output = FramePattern::Parse(run.output, "-o");
  const std::vector<int64_t> numbers = FrameNumbers(*input);
  if (!output && numbers.size() > 1) {
    throw UsageError("-o " + ShownName(run.output) + ": " + std::to_string(numbers.size()) +
                     " frames need an output pattern, e.g. out.####.exr");
  }
  if (const auto at = FocusMapName(run.forwarded); at && numbers.size() > 1) {
    const std::string map = run.forwarded[at->first].substr(at->second);
    if (!FramePattern::Parse(map, "--focus-map")) {
      throw UsageError("--focus-map " + QuotedValue(map) + ": " + std::to_string(numbers.size()) +
                       " frames need a focus map pattern, e.g. focus.####.png");
    }
  }
  for (const int64_t number : numbers) {
    frames.push_back({number,
                      input->FileOf(number),
                      output ? output->FileOf(number) : run.output,
                      std::nullopt,
                      false,
                      {}});
  }
}

void Shot::Message(const std::string& text) {
  if (progress) progress->EndLine();
  std::fprintf(err, "kestrion: %s\n", PrintableMessage(text).c_str());
}

// Report lines go out in frame order, each as soon as every earlier frame's
// is known, whatever order the workers finish in.
void Shot::Emit(size_t index, const std::string& line) {
  frames[index].report = line;
  while (emitted < frames.size() && frames[emitted].report) {
    const std::string& next = *frames[emitted].report;
    if (run.jsonReport) out.Line(next);
    reportText += next + "\n";
    ++emitted;
  }
}

std::vector<size_t> Shot::Sort() {
  std::vector<size_t> toRender;
  std::vector<int64_t> missing;
  for (size_t i = 0; i < frames.size(); ++i) {
    if (!Exists(frames[i].input)) {
      missing.push_back(frames[i].number);
      frames[i].failed = true;
      Emit(i, ReportLine(Record(frames[i], "failed", ShownName(frames[i].input) + ": missing")));
    } else if (run.shot.skipExisting && Exists(frames[i].output)) {
      // Only a whole file is kept: one a crash or a full disk cut short is
      // rendered again.
      if (const std::string problem = WhyNotWhole(frames[i].output); problem.empty()) {
        ++skipped;
        Emit(i, ReportLine(Record(frames[i], "skipped", "")));
      } else {
        frames[i].warning =
            ShownName(frames[i].output) + " was incomplete (" + problem + "): rendered again";
        Message("frame " + std::to_string(frames[i].number) + ": " + frames[i].warning);
        toRender.push_back(i);
      }
    } else {
      toRender.push_back(i);
    }
  }
  if (!missing.empty()) {
    std::string list;
    for (const int64_t number : missing)
      list += (list.empty() ? "" : ", ") + std::to_string(number);
    Message(ShownName(run.input) + ": missing input frame" + (missing.size() > 1 ? "s " : " ") +
            list);
  }
  return toRender;
}

void Shot::Start(size_t index) {
  const Frame& frame = frames[index];
  std::vector<std::string> words = {"kestrion",
                                    "render",
                                    frame.input,
                                    "-o",
                                    frame.output,
                                    "--frame",
                                    std::to_string(frame.number),
                                    "--report",
                                    "json",
                                    "-q"};
  const std::vector<std::string> forwarded = FrameWords(run.forwarded, frame.number);
  words.insert(words.end(), limitWords.begin(), limitWords.end());
  words.insert(words.end(), shotWords.begin(), shotWords.end());
  words.insert(words.end(), forwarded.begin(), forwarded.end());
  const StartedWorker started = StartWorker(run.executable, std::move(words), index);
  if (!started.worker) {
    frames[index].failed = true;
    const std::string why =
        "cannot start " + ShownName(run.executable) + " (" + std::strerror(started.error) + ")";
    Message("frame " + std::to_string(frame.number) + ": " + why);
    Emit(index, ReportLine(Record(frame, "failed", why)));
    return;
  }
  running.push_back(*started.worker);
}

// Takes the finished worker's report line, or makes one from how it ended.
void Shot::Reap(const FrameWorker& worker, const WorkerResult& result) {
  Frame& frame = frames[worker.frame];
  const int code = result.exitCode;
  if (code == EXIT_USAGE) usageFailure = true;
  std::string lastMessage;
  for (const std::string& message : result.err) {
    lastMessage = message.rfind("kestrion: ", 0) == 0 ? message.substr(10) : message;
    // A frame the shot's signal stopped says only "aborted"; the shot says it once.
    if (StopSignal() == 0) Message("frame " + std::to_string(frame.number) + ": " + lastMessage);
  }
  // The worker's line keeps its fields' order.
  std::optional<nlohmann::ordered_json> record;
  for (const std::string& line : result.out) {
    if (line.empty() || line[0] != '{') continue;
    const nlohmann::ordered_json parsed = nlohmann::ordered_json::parse(line, nullptr, false);
    if (!parsed.is_discarded() && parsed.is_object()) record = parsed;
  }
  frame.failed = code != EXIT_OK;
  if (!frame.failed) ++rendered;
  if (!record) {
    std::string error;
    if (code > 128) {
      error = "interrupted by " + SignalName(code - 128);
    } else if (code != EXIT_OK) {
      error = lastMessage.empty() ? "exit code " + std::to_string(code) : lastMessage;
    }
    record = Record(frame, code == EXIT_OK ? "done" : "failed", error);
  } else if (code != EXIT_OK && record->value("status", "") == "done") {
    (*record)["status"] = "failed";
  }
  SetWarning(*record, frame);
  Emit(worker.frame, ReportLine(*record));
}

void Shot::RenderFrames(const std::vector<size_t>& toRender, size_t jobs) {
  size_t next = 0;
  size_t finished = 0;
  int forwarded = 0;  // the signal passed on to the workers, once
  while (true) {
    const bool stopping = StopSignal() != 0 || usageFailure;
    while (!stopping && running.size() < jobs && next < toRender.size()) Start(toRender[next++]);
    if (running.empty()) break;
    if (const int signal = StopSignal(); signal != 0 && forwarded == 0) {
      forwarded = signal;
      for (const FrameWorker& worker : running) SignalWorker(worker, forwarded);
    }
    bool reaped = false;
    for (size_t i = 0; i < running.size();) {
      if (const std::optional<WorkerResult> result = ReapWorker(running[i])) {
        Reap(running[i], *result);
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
        ++finished;
        if (!usageFailure && StopSignal() == 0) progress->Finished(finished);
        reaped = true;
      } else {
        ++i;
      }
    }
    if (!reaped) std::this_thread::sleep_for(POLL_PERIOD);
  }
  progress->EndLine();
}

void Shot::WriteReportFile(OutputFile& file) const {
  file.Write([this](const std::string& path) {
    std::FILE* written = std::fopen(path.c_str(), "w");
    const bool complete = written && std::fputs(reportText.c_str(), written) >= 0;
    if (written && std::fclose(written) != 0) throw FileError(path, "cannot write it");
    if (!complete) throw FileError(path, "cannot write it");
  });
  file.Commit();
}

int Shot::Run() {
  Plan();
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t jobs = run.shot.jobs.value_or(cores);
  if (jobs < 1) throw UsageError("--jobs: give 1 or more");
  // The outputs' folders (of the first frame: every frame makes its own,
  // where the pattern is in a folder's name) and the report file's, before
  // any frame starts.
  if (!frames.empty()) MakeFolders(frames.front().output);
  std::optional<OutputFile> reportFile;
  if (!run.shot.reportFile.empty()) {
    MakeFolders(run.shot.reportFile);
    reportFile.emplace(run.shot.reportFile);
  }
  shotWords = ShotArguments(run.input, run.shot.frames);

  progress.emplace(!run.quiet, err, 0);
  const std::vector<size_t> toRender = Sort();
  progress.emplace(!run.quiet, err, toRender.size());
  limitWords = WorkerLimitArguments(run.forwarded,
                                    std::min(jobs, std::max<size_t>(1, toRender.size())), cores);
  RenderFrames(toRender, jobs);

  size_t failed = 0;
  for (const Frame& frame : frames) failed += frame.failed ? 1 : 0;
  if (reportFile) WriteReportFile(*reportFile);
  if (const int signal = StopSignal(); signal != 0) {
    Message("aborted by " + SignalName(signal) + ": " + std::to_string(rendered) + " of " +
            std::to_string(toRender.size()) + " frames done");
    return 128 + signal;
  }
  if (usageFailure) return EXIT_USAGE;
  if (!run.jsonReport) {
    out.Line("rendered " + std::to_string(rendered) + " of " + std::to_string(frames.size()) +
             " frames into " + ShownName(run.output) + " (" + std::to_string(skipped) +
             " skipped, " + std::to_string(failed) + " failed)");
  }
  return failed > 0 ? EXIT_FAILED : EXIT_OK;
}

}  // namespace

int RunShot(const ShotRun& run, std::FILE* out, std::FILE* err) {
  Shot shot(run, out, err);
  return shot.Run();
}

}  // namespace kestrion
