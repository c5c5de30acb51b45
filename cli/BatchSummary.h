#pragma once

// What became of each file of a batch, for the report at its end. Safe to use from any thread.

#include <mutex>
#include <string>
#include <vector>

namespace zembra::cli {

class TBatchSummary {
  public:
    void Finished();
    // Name as the user gave or the walk found it; Reason "stopped" for a task stopped by Ctrl+C.
    void Failed(const std::string& Name, const std::string& Reason);
    void Skipped();
    // A finished file whose sound went in unchanged, with the reason it could.
    void Copied(const std::string& Name, const std::string& Why);

    int FailedCount() const;
    // The copied files, "copied: NAME: WHY" each, the failed files, "failed: NAME: REASON" each,
    // then "N finished, M failed, K skipped".
    std::vector<std::string> ReportLines() const;

  private:
    mutable std::mutex FLock;
    int FFinished = 0;
    int FSkipped = 0;
    std::vector<std::string> FCopies;
    std::vector<std::string> FFailures;
};

}  // namespace zembra::cli
