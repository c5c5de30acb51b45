#pragma once

// How zembra-cli is asked to stop: Ctrl+C, SIGTERM and SIGHUP stop the batch with waiting, so
// that every name ends holding a finished file or nothing. SIGPIPE is ignored: a closed
// standard output shows as a failed write, which stops the batch the same way.

#include <functional>

namespace zembra::cli {

enum class TStopReason { None, Signal, OutputClosed };

// Installs the handlers. A signal within a second of the first is the same request again (the
// terminal, `timeout` and a shell's kill of the process group may each send one). One that
// comes later ends the program at once: EndAtOnce runs on a thread of its own and must not
// return.
void InstallStopSignals(std::function<void()> EndAtOnce);

// Why the batch should stop, None while it should go on.
TStopReason StopReason();
bool StopRequested();

// The program's own stop request (standard output closed).
void RequestStop(TStopReason Reason);

}  // namespace zembra::cli
