#include "cli/BatchSummary.h"

namespace zembra::cli {

void TBatchSummary::Finished() {
    std::lock_guard<std::mutex> G(FLock);
    ++FFinished;
}

void TBatchSummary::Failed(const std::string& Name, const std::string& Reason) {
    std::lock_guard<std::mutex> G(FLock);
    FFailures.push_back(Name + ": " + Reason);
}

void TBatchSummary::Stopped(const std::string& Name, const std::string& Output) {
    std::lock_guard<std::mutex> G(FLock);
    FStops.push_back(Name + ": " + Output);
}

void TBatchSummary::Warned(const std::string& Name, const std::string& Warning) {
    std::lock_guard<std::mutex> G(FLock);
    FWarnings.push_back(Name + ": " + Warning);
}

void TBatchSummary::Skipped() {
    std::lock_guard<std::mutex> G(FLock);
    ++FSkipped;
}

void TBatchSummary::NotStarted(size_t Count) {
    std::lock_guard<std::mutex> G(FLock);
    FNotStarted += Count;
}

void TBatchSummary::Copied(const std::string& Name, const std::string& Why) {
    std::lock_guard<std::mutex> G(FLock);
    FCopies.push_back(Name + ": " + Why);
}

int TBatchSummary::FailedCount() const {
    std::lock_guard<std::mutex> G(FLock);
    return static_cast<int>(FFailures.size());
}

int TBatchSummary::StoppedCount() const {
    std::lock_guard<std::mutex> G(FLock);
    return static_cast<int>(FStops.size());
}

std::vector<std::string> TBatchSummary::ReportLines() const {
    std::lock_guard<std::mutex> G(FLock);
    std::vector<std::string> Lines;
    for (const std::string& C : FCopies) Lines.push_back("copied: " + C);
    for (const std::string& W : FWarnings) Lines.push_back("warning: " + W);
    for (const std::string& S : FStops) Lines.push_back("stopped: " + S);
    for (const std::string& F : FFailures) Lines.push_back("failed: " + F);
    const std::string Stops = FStops.empty() ? "" : std::to_string(FStops.size()) + " stopped, ";
    Lines.push_back(std::to_string(FFinished) + " finished, " + std::to_string(FFailures.size()) +
                    " failed, " + Stops + std::to_string(FSkipped) + " skipped" +
                    (FNotStarted ? ", " + std::to_string(FNotStarted) + " not started" : ""));
    return Lines;
}

}  // namespace zembra::cli
