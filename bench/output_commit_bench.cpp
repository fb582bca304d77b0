// What putting an output in place costs: the bytes of a frame (half-float
// RGBA, uncompressed, as large as a frame's OpenEXR file gets) written and
// committed through OutputFile, which syncs the file before it takes its
// name and its folder after, against the same bytes written and renamed
// into place without a sync. The difference is the price of an output that
// survives a power cut.
//
// Benchmark arguments: width, height. The files go to the folder named by
// KESTRION_BENCH_DIR, or the current one: put it on the disk the outputs
// go to, since a sync costs what that disk makes it cost.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/output_file.h"

namespace {

constexpr int64_t BYTES_PER_PIXEL = 8;  // four half floats

std::string BenchFolder() {
  const char* folder = std::getenv("KESTRION_BENCH_DIR");
  return folder && *folder ? folder : ".";
}

std::string FrameBytes(const benchmark::State& state) {
  return std::string(static_cast<size_t>(state.range(0) * state.range(1) * BYTES_PER_PIXEL), 'k');
}

bool WriteAll(const std::string& path, const std::string& bytes) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return close(fd) == 0 && done == bytes.size();
}

void BM_OutputCommitSynced(benchmark::State& state) {
  const std::string bytes = FrameBytes(state);
  const std::string target = BenchFolder() + "/kestrion-bench-synced.out";
  for (auto _ : state) {
    kestrion::OutputFile output(target);
    output.Write([&](const std::string& path) {
      if (!WriteAll(path, bytes)) state.SkipWithError("cannot write the frame");
    });
    output.Commit();
  }
  std::remove(target.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

void BM_OutputRenameUnsynced(benchmark::State& state) {
  const std::string bytes = FrameBytes(state);
  const std::string target = BenchFolder() + "/kestrion-bench-unsynced.out";
  const std::string temporary = target + ".tmp";
  for (auto _ : state) {
    if (!WriteAll(temporary, bytes) || std::rename(temporary.c_str(), target.c_str()) != 0) {
      state.SkipWithError("cannot write the frame");
      break;
    }
  }
  std::remove(target.c_str());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}

}  // namespace

BENCHMARK(BM_OutputCommitSynced)->Args({1920, 1080})->Args({65, 47})->UseRealTime();
BENCHMARK(BM_OutputRenameUnsynced)->Args({1920, 1080})->Args({65, 47})->UseRealTime();
