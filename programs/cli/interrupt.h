// interrupt.h: Ctrl-C, SIGTERM and SIGHUP while kestrion runs. From
// CatchInterruptsUntilExit on, each of them only records which signal came;
// the commands hand the library an abort check that asks the record
// (InterruptRequested), so that every long loop stops soon after a signal,
// and the command ends as "aborted" without writing its output, with the
// exit code of the signal: 130 (SIGINT), 143 (SIGTERM), 129 (SIGHUP).
// SIGPIPE and SIGXFSZ are ignored, so a closed pipe or a full file-size
// limit becomes a write error, not a silent death that would leave a
// temporary file behind.
#pragma once

namespace kestrion {

// Records SIGINT, SIGTERM and SIGHUP (and ignores SIGPIPE and SIGXFSZ) for
// the rest of the process: a signal that comes once a command has committed
// its output, while the program winds down, must not kill a finished run.
void CatchInterruptsUntilExit();

bool InterruptRequested();
// The signal that interrupted the command; 0 when none has.
int InterruptSignal();
// The exit code a command interrupted by `signal` ends with: 128 + signal.
int InterruptExitCode(int signal);

}  // namespace kestrion
