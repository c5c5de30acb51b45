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

void TBatchSummary::Skipped() {
    std::lock_guard<std::mutex> G(FLock);
    ++FSkipped;
}

void TBatchSummary::Copied(const std::string& Name, const std::string& Why) {
    std::lock_guard<std::mutex> G(FLock);
    FCopies.push_back(Name + ": " + Why);
}

int TBatchSummary::FailedCount() const {
    std::lock_guard<std::mutex> G(FLock);
    return static_cast<int>(FFailures.size());
}

std::vector<std::string> TBatchSummary::ReportLines() const {
    std::lock_guard<std::mutex> G(FLock);
    std::vector<std::string> Lines;
    for (const std::string& C : FCopies) Lines.push_back("copied: " + C);
    for (const std::string& F : FFailures) Lines.push_back("failed: " + F);
    Lines.push_back(std::to_string(FFinished) + " finished, " + std::to_string(FFailures.size()) +
                    " failed, " + std::to_string(FSkipped) + " skipped");
    return Lines;
}

}  // namespace zembra::cli
