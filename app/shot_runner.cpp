#include "app/shot_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/errors.h"
#include "app/frame_pattern.h"
#include "app/interrupt.h"
#include "app/memory_budget.h"
#include "app/output_file.h"
#include "app/report_stream.h"

extern char** environ;

namespace kestrion {

namespace {

using Clock = std::chrono::steady_clock;

// How often the parent looks at its children, the signal flag and the
// clock while frames render.
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

// An unlinked temporary file that holds a child's stdout or stderr: no pipe
// to drain while it runs, nothing left behind whatever happens.
int CaptureFile() {
  char name[] = "/tmp/kestrion-frame-XXXXXX";
  const int fd = mkstemp(name);
  if (fd < 0)
    throw Failure(std::string("cannot create a temporary file in /tmp (") + std::strerror(errno) +
                  ")");
  unlink(name);
  return fd;
}

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

struct Frame {
  int64_t number = 0;
  std::string input;
  std::string output;
  std::optional<std::string> report;  // its JSON line, once known
  bool failed = false;
};

nlohmann::json Record(const Frame& frame, const std::string& status, const std::string& error) {
  nlohmann::json record = {{"input", frame.input},
                           {"output", frame.output},
                           {"frame", frame.number},
                           {"status", status}};
  if (!error.empty()) record["error"] = error;
  return record;
}

// A report line. File names need not be UTF-8: what is not is replaced
// rather than failing the shot.
std::string ReportLine(const nlohmann::json& record) {
  return record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

struct Child {
  size_t frame = 0;  // index into the frame list
  pid_t pid = -1;
  int out = -1;
  int err = -1;
};

// Frames done / total, frames per second and the time left on stderr: a
// redrawn bar on a terminal, a line per finished frame otherwise.
class ShotProgress {
 public:
  ShotProgress(bool enabled, std::FILE* out, size_t total)
      : enabled(enabled && total > 0), out(out), total(total), start(Clock::now()) {
    terminal = isatty(fileno(out)) != 0;
  }
  ~ShotProgress() { EndLine(); }

  void Finished(size_t done) {
    if (!enabled) return;
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    char left[32] = "?";
    if (rate > 0) {
      const long remaining = std::lround(static_cast<double>(total - done) / rate);
      std::snprintf(left, sizeof left, "%ld:%02ld", remaining / 60, remaining % 60);
    }
    if (terminal) {
      constexpr int WIDTH = 30;
      const int filled = static_cast<int>(WIDTH * done / total);
      std::fprintf(out, "\r[%s%s] %zu/%zu frames  %.2f fps  %s left ",
                   std::string(filled, '#').c_str(), std::string(WIDTH - filled, '.').c_str(), done,
                   total, rate, left);
      lineOpen = true;
    } else {
      std::fprintf(out, "kestrion: %zu/%zu frames, %.2f fps, %s left\n", done, total, rate, left);
    }
    std::fflush(out);
  }

  // Ends a bar left open, so that a message starts a line of its own.
  void EndLine() {
    if (lineOpen) std::fputc('\n', out);
    lineOpen = false;
  }

 private:
  bool enabled;
  bool terminal = false;
  bool lineOpen = false;
  std::FILE* out;
  size_t total;
  Clock::time_point start;
};

class Shot {
 public:
  Shot(const ShotRun& run, std::FILE* out, std::FILE* err) : run(run), out(out, err), err(err) {}
  int Run();

 private:
  std::vector<int64_t> FrameNumbers(const FramePattern& input) const;
  void Start(size_t index);
  void Reap(Child& child, int status);
  void Emit(size_t index, const std::string& line);
  void Message(const std::string& text);

  const ShotRun& run;
  // The frames' files are the shot's output: a closed stdout stops none.
  ReportStream out;
  std::FILE* err;
  std::vector<Frame> frames;
  std::vector<Child> running;
  std::optional<ShotProgress> progress;
  std::string reportText;
  size_t rendered = 0;  // frames done by their child
  size_t emitted = 0;   // frames whose report line has been written, in order
  bool usageFailure = false;
  std::vector<std::string> limitWords;  // every frame's share of the memory
};

std::vector<int64_t> Shot::FrameNumbers(const FramePattern& input) const {
  std::vector<int64_t> numbers;
  if (run.shot.frames) {
    numbers = ParseFrameList(*run.shot.frames);
  } else {
    numbers = input.FramesOnDisk();
    if (numbers.empty()) {
      throw UsageError(input.Text() +
                       ": no frame fits this pattern; check the name, or give --frames");
    }
  }
  if (run.shot.chunk) {
    numbers = ChunkOf(numbers, ParseChunk(*run.shot.chunk, std::getenv("SLURM_ARRAY_TASK_ID"),
                                          std::getenv("SLURM_ARRAY_TASK_MIN")));
    if (numbers.empty()) {
      throw UsageError("--chunk " + QuotedValue(*run.shot.chunk) +
                       ": this chunk holds no frame; use no more chunks than frames");
    }
  }
  return numbers;
}

void Shot::Message(const std::string& text) {
  if (progress) progress->EndLine();
  std::fprintf(err, "kestrion: %s\n", PrintableMessage(text).c_str());
}

// Report lines go out in frame order, each as soon as every earlier frame's
// is known, whatever order the children finish in.
void Shot::Emit(size_t index, const std::string& line) {
  frames[index].report = line;
  while (emitted < frames.size() && frames[emitted].report) {
    const std::string& next = *frames[emitted].report;
    if (run.jsonReport) out.Line(next);
    reportText += next + "\n";
    ++emitted;
  }
}

// Where the forwarded words name the focus map's file: the index of the
// word holding it, and where the name starts in that word (after
// "--focus-map=", or 0 when the name is a word of its own).
std::optional<std::pair<size_t, size_t>> FocusMapName(const std::vector<std::string>& words) {
  const std::string option = "--focus-map";
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == option && i + 1 < words.size()) return std::pair{i + 1, size_t{0}};
    if (words[i].rfind(option + "=", 0) == 0) return std::pair{i, option.size() + 1};
  }
  return std::nullopt;
}

// The forwarded words for one frame: a focus map named by a frame pattern
// gets the frame's own file.
std::vector<std::string> FrameWords(std::vector<std::string> words, int64_t frame) {
  if (const auto at = FocusMapName(words)) {
    std::string& word = words[at->first];
    if (const auto map = FramePattern::Parse(word.substr(at->second), "--focus-map")) {
      word = word.substr(0, at->second) + map->FileOf(frame);
    }
  }
  return words;
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
  words.insert(words.end(), forwarded.begin(), forwarded.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Child child;
  child.frame = index;
  child.out = CaptureFile();
  child.err = CaptureFile();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, child.out, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, child.err, STDERR_FILENO);
  const int error =
      posix_spawn(&child.pid, run.executable.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    close(child.out);
    close(child.err);
    frames[index].failed = true;
    const std::string why = "cannot start " + run.executable + " (" + std::strerror(error) + ")";
    Message("frame " + std::to_string(frame.number) + ": " + why);
    Emit(index, ReportLine(Record(frame, "failed", why)));
    return;
  }
  running.push_back(child);
}

// Takes the finished child's report line, or makes one from how it ended.
void Shot::Reap(Child& child, int status) {
  Frame& frame = frames[child.frame];
  const std::string stdoutText = ReadAll(child.out);
  const std::vector<std::string> messages = Lines(ReadAll(child.err));
  close(child.out);
  close(child.err);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (code == EXIT_USAGE) usageFailure = true;
  std::string lastMessage;
  for (const std::string& message : messages) {
    lastMessage = message.rfind("kestrion: ", 0) == 0 ? message.substr(10) : message;
    // A frame the shot's signal stopped says only "aborted"; the shot says it once.
    if (!InterruptRequested())
      Message("frame " + std::to_string(frame.number) + ": " + lastMessage);
  }
  std::optional<nlohmann::json> record;
  for (const std::string& line : Lines(stdoutText)) {
    if (line.empty() || line[0] != '{') continue;
    const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
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
  Emit(child.frame, ReportLine(*record));
}

int Shot::Run() {
  const std::optional<FramePattern> input = FramePattern::Parse(run.input, "INPUT");
  if (!input) throw UsageError(run.input + ": not a frame pattern (e.g. frame.####.exr)");
  const std::optional<FramePattern> output = FramePattern::Parse(run.output, "-o");
  const std::vector<int64_t> numbers = FrameNumbers(*input);
  if (!output && numbers.size() > 1) {
    throw UsageError("-o " + run.output + ": " + std::to_string(numbers.size()) +
                     " frames need an output pattern, e.g. out.####.exr");
  }
  if (const auto at = FocusMapName(run.forwarded); at && numbers.size() > 1) {
    const std::string map = run.forwarded[at->first].substr(at->second);
    if (!FramePattern::Parse(map, "--focus-map")) {
      throw UsageError("--focus-map " + QuotedValue(map) + ": " + std::to_string(numbers.size()) +
                       " frames need a focus map pattern, e.g. focus.####.png");
    }
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const size_t jobs = run.shot.jobs.value_or(cores);
  if (jobs < 1) throw UsageError("--jobs: give 1 or more");
  std::optional<OutputFile> reportFile;
  if (!run.shot.reportFile.empty()) reportFile.emplace(run.shot.reportFile);

  InterruptGuard interrupt;
  std::vector<size_t> toRender;
  std::vector<int64_t> missing;
  size_t skipped = 0;
  for (const int64_t number : numbers) {
    frames.push_back({number, input->FileOf(number), output ? output->FileOf(number) : run.output,
                      std::nullopt, false});
  }
  progress.emplace(!run.quiet, err, 0);
  for (size_t i = 0; i < frames.size(); ++i) {
    if (!Exists(frames[i].input)) {
      missing.push_back(frames[i].number);
      frames[i].failed = true;
      Emit(i, ReportLine(Record(frames[i], "failed", frames[i].input + ": missing")));
    } else if (run.shot.skipExisting && Exists(frames[i].output)) {
      ++skipped;
      Emit(i, ReportLine(Record(frames[i], "skipped", "")));
    } else {
      toRender.push_back(i);
    }
  }
  if (!missing.empty()) {
    std::string list;
    for (const int64_t number : missing)
      list += (list.empty() ? "" : ", ") + std::to_string(number);
    Message(run.input + ": missing input frame" + (missing.size() > 1 ? "s " : " ") + list);
  }
  progress.emplace(!run.quiet, err, toRender.size());
  limitWords =
      WorkerLimitArguments(run.forwarded, std::min(jobs, std::max<size_t>(1, toRender.size())));

  size_t next = 0;
  size_t finished = 0;
  int forwarded = 0;  // the signal passed on to the children, once
  while (true) {
    const bool stopping = InterruptRequested() || usageFailure;
    while (!stopping && running.size() < jobs && next < toRender.size()) Start(toRender[next++]);
    if (running.empty()) break;
    if (InterruptRequested() && forwarded == 0) {
      forwarded = InterruptSignal();
      for (const Child& child : running) kill(child.pid, forwarded);
    }
    bool reaped = false;
    for (size_t i = 0; i < running.size();) {
      int status = 0;
      const pid_t done = waitpid(running[i].pid, &status, WNOHANG);
      if (done == running[i].pid || (done < 0 && errno == ECHILD)) {
        Reap(running[i], status);
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
        ++finished;
        if (!usageFailure && !InterruptRequested()) progress->Finished(finished);
        reaped = true;
      } else {
        ++i;
      }
    }
    if (!reaped) std::this_thread::sleep_for(POLL_PERIOD);
  }
  progress->EndLine();

  size_t failed = 0;
  for (const Frame& frame : frames) failed += frame.failed ? 1 : 0;
  if (reportFile) {
    reportFile->Write([this](const std::string& path) {
      std::FILE* file = std::fopen(path.c_str(), "w");
      const bool written = file && std::fputs(reportText.c_str(), file) >= 0;
      if (file && std::fclose(file) != 0) throw FileError(path, "cannot write it");
      if (!written) throw FileError(path, "cannot write it");
    });
    reportFile->Commit();
  }
  if (InterruptRequested()) {
    Message("aborted by " + SignalName(InterruptSignal()) + ": " + std::to_string(rendered) +
            " of " + std::to_string(toRender.size()) + " frames done");
    return InterruptExitCode(InterruptSignal());
  }
  if (usageFailure) return EXIT_USAGE;
  if (!run.jsonReport) {
    out.Line("rendered " + std::to_string(rendered) + " of " + std::to_string(frames.size()) +
             " frames into " + run.output + " (" + std::to_string(skipped) + " skipped, " +
             std::to_string(failed) + " failed)");
  }
  return failed > 0 ? EXIT_FAILED : EXIT_OK;
}

bool IsOption(const std::string& word, const char* name) { return word == name; }

}  // namespace

std::vector<std::string> ForwardedArguments(const std::vector<std::string>& words,
                                            const std::string& input) {
  static const char* const WITH_VALUE[] = {"-o",     "--output", "--frames",      "--chunk",
                                           "--jobs", "--report", "--report-file", "--frame"};
  static const char* const FLAGS[] = {"-q", "--quiet", "--skip-existing"};
  std::vector<std::string> kept;
  bool inputSeen = false;
  bool positionalOnly = false;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!positionalOnly && word == "--") {
      positionalOnly = true;
      continue;
    }
    if (!inputSeen && word == input && (positionalOnly || word.rfind("-", 0) != 0)) {
      inputSeen = true;
      continue;
    }
    if (positionalOnly) {
      kept.push_back(word);
      continue;
    }
    bool dropped = false;
    for (const char* name : WITH_VALUE) {
      const std::string option = name;
      if (IsOption(word, name)) {
        ++i;  // its value goes too
        dropped = true;
      } else if (word.rfind(option + "=", 0) == 0 ||
                 (option == "-o" && word.size() > 2 && word.rfind("-o", 0) == 0)) {
        dropped = true;
      }
      if (dropped) break;
    }
    for (const char* name : FLAGS) dropped = dropped || IsOption(word, name);
    if (!dropped) kept.push_back(word);
  }
  return kept;
}

std::vector<std::string> WorkerLimitArguments(const std::vector<std::string>& forwarded,
                                              size_t workers) {
  const std::string option = "--memory-limit";
  for (const std::string& word : forwarded) {
    if (word == option || word.rfind(option + "=", 0) == 0) return {};
  }
  return {option, std::to_string(DefaultMemoryLimit(workers))};
}

int RunShot(const ShotRun& run, std::FILE* out, std::FILE* err) {
  Shot shot(run, out, err);
  return shot.Run();
}

}  // namespace kestrion
