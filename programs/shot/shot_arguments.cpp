#include "shot/shot_arguments.h"

#include <algorithm>

#include "base/memory_budget.h"
#include "shot/frame_pattern.h"

namespace kestrion {

namespace {

bool IsOption(const std::string& word, const char* name) { return word == name; }

}  // namespace

std::vector<std::string> ForwardedArguments(const std::vector<std::string>& words,
                                            const std::string& input) {
  static const char* const WITH_VALUE[] = {
      "-o",       "--output",      "--frames", "--chunk",      "--jobs",
      "--report", "--report-file", "--frame",  "--shot-input", "--shot-frames"};
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

std::vector<std::string> ShotArguments(const std::string& input,
                                       const std::optional<std::string>& frames) {
  std::vector<std::string> words = {"--shot-input", input};
  if (frames) words.insert(words.end(), {"--shot-frames", *frames});
  return words;
}

std::vector<std::string> WorkerLimitArguments(const std::vector<std::string>& forwarded,
                                              size_t workers, size_t cores) {
  auto given = [&forwarded](const std::string& option) {
    for (const std::string& word : forwarded) {
      if (word == option || word.rfind(option + "=", 0) == 0) return true;
    }
    return false;
  };
  std::vector<std::string> words;
  if (!given("--memory-limit")) {
    words.insert(words.end(), {"--memory-limit", std::to_string(DefaultMemoryLimit(workers))});
  }
  if (!given("--threads")) {
    const size_t share = std::max<size_t>(1, cores / std::max<size_t>(workers, 1));
    words.insert(words.end(), {"--threads", std::to_string(share)});
  }
  return words;
}

std::optional<std::pair<size_t, size_t>> FocusMapName(const std::vector<std::string>& words) {
  const std::string option = "--focus-map";
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == option && i + 1 < words.size()) return std::pair{i + 1, size_t{0}};
    if (words[i].rfind(option + "=", 0) == 0) return std::pair{i, option.size() + 1};
  }
  return std::nullopt;
}

std::vector<std::string> FrameWords(std::vector<std::string> words, int64_t frame) {
  if (const auto at = FocusMapName(words)) {
    std::string& word = words[at->first];
    if (const auto map = FramePattern::Parse(word.substr(at->second), "--focus-map")) {
      word = word.substr(0, at->second) + map->FileOf(frame);
    }
  }
  return words;
}

}  // namespace kestrion
