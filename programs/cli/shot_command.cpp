// shot_command.cpp: `kestrion render` over a frame pattern. The shot runner
// (shot_runner.h) is told the signal the command was asked to stop by and a
// Slurm job array's task variables, so that it reads neither itself.
#include <cstdlib>

#include "cli/commands.h"
#include "cli/interrupt.h"

namespace kestrion {

namespace {

std::optional<std::string> Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

int RunShotCommand(ShotRun run, std::FILE* out, std::FILE* err) {
  run.stopSignal = &InterruptSignal;
  run.arrayTaskId = Variable("SLURM_ARRAY_TASK_ID");
  run.arrayTaskMin = Variable("SLURM_ARRAY_TASK_MIN");
  return RunShot(run, out, err);
}

}  // namespace kestrion
