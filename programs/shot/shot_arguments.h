// shot_arguments.h: the command line of each frame of a shot. A frame is
// its own `kestrion render`, given the words the user gave for the shot
// without the ones the shot sets itself or keeps to itself, its share of the
// memory limit, and its own focus map file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kestrion {

// The words of a render command line after "render" without the ones the
// shot runner sets itself for every frame (INPUT, -o, --frame, --report,
// -q, --shot-input, --shot-frames) or keeps to itself (--frames, --chunk, --jobs, --skip-existing,
// --report-file).
std::vector<std::string> ForwardedArguments(const std::vector<std::string>& words,
                                            const std::string& input);

// The shot every frame belongs to, so that a frame can look at the others
// (to hold the focus of a frame where the focus object is missing): the
// input pattern and, when given, the frame list (without it, the frames on
// disk).
std::vector<std::string> ShotArguments(const std::string& input,
                                       const std::optional<std::string>& frames);

// What every frame is given besides the forwarded words: its share of the
// memory limit, DefaultMemoryLimit(workers), and of the `cores`, one thread
// or more, so that `workers` frames side by side do not run more threads
// than there are cores; each unless the forwarded words set --memory-limit
// or --threads themselves (then every frame has that).
std::vector<std::string> WorkerLimitArguments(const std::vector<std::string>& forwarded,
                                              size_t workers, size_t cores);

// Where the forwarded words name the focus map's file: the index of the
// word holding it, and where the name starts in that word (after
// "--focus-map=", or 0 when the name is a word of its own).
std::optional<std::pair<size_t, size_t>> FocusMapName(const std::vector<std::string>& words);

// The forwarded words for one frame: a focus map named by a frame pattern
// gets the frame's own file.
std::vector<std::string> FrameWords(std::vector<std::string> words, int64_t frame);

}  // namespace kestrion
