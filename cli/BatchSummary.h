#pragma once

// What became of each file of a batch, for the report at its end. Safe to use from any thread.

#include <mutex>
#include <string>
#include <vector>

namespace zembra::cli {

class TBatchSummary {
  public:
    void Finished();
    // Name as the user gave or the walk found it.
    void Failed(const std::string& Name, const std::string& Reason);
    // A task stopped before its end (Ctrl+C, SIGTERM), with what became of its output.
    void Stopped(const std::string& Name, const std::string& Output);
    // A finished file whose result the user should know about ("output is 29.4 s of 60.0 s...").
    void Warned(const std::string& Name, const std::string& Warning);
    void Skipped();
    // Files of the batch that were never started: the batch was stopped before them.
    void NotStarted(size_t Count);
    // A finished file whose sound went in unchanged, with the reason it could.
    void Copied(const std::string& Name, const std::string& Why);

    int FailedCount() const;
    int StoppedCount() const;
    // The copied files, "copied: NAME: WHY" each, the warnings, "warning: NAME: TEXT", the
    // stopped files, "stopped: NAME: OUTPUT", the failed files, "failed: NAME: REASON" each,
    // then "N finished, M failed, K skipped", with ", S stopped" before the skipped when any was
    // stopped and ", U not started" at the end when any was not started, so that the counts add
    // up to the batch.
    std::vector<std::string> ReportLines() const;

  private:
    mutable std::mutex FLock;
    int FFinished = 0;
    int FSkipped = 0;
    size_t FNotStarted = 0;
    std::vector<std::string> FCopies;
    std::vector<std::string> FFailures;
    std::vector<std::string> FStops;
    std::vector<std::string> FWarnings;
};

}  // namespace zembra::cli
