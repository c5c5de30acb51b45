#include "cli/CutRequest.h"

#include "cli/TimeText.h"
#include "util/Formatting.h"

namespace zembra::cli {

std::optional<TCutRequest> ParseCut(std::string_view Text) {
    const size_t Dash = Text.find('-');
    if (Dash == std::string_view::npos) return std::nullopt;
    TCutRequest Cut;
    const std::optional<int64_t> Start = ParseTimeMs(Text.substr(0, Dash));
    if (!Start) return std::nullopt;
    Cut.StartMs = *Start;
    const std::string_view End = Text.substr(Dash + 1);
    if (End.empty()) return Cut;
    Cut.EndMs = ParseTimeMs(End);
    if (!Cut.EndMs || *Cut.EndMs <= Cut.StartMs) return std::nullopt;
    return Cut;
}

TResolvedCut ResolveCut(const TCutRequest& Request, int64_t DurationUs) {
    TResolvedCut R;
    R.Cut = Request;
    if (DurationUs < 0) {
        R.Ok = true;
        return R;
    }
    const int64_t LengthMs = DurationUs / 1000;
    const std::string Length = FormatDuration(LengthMs * 1000);
    if (Request.StartMs >= LengthMs) {
        R.Message = "the cut starts at " + FormatDuration(Request.StartMs * 1000) +
                    ", at or past the end of the file (" + Length + ")";
        return R;
    }
    R.Ok = true;
    if (!Request.EndMs) {
        R.Cut.EndMs = LengthMs;
    } else if (*Request.EndMs > LengthMs) {
        R.Message = "the cut ends at " + FormatDuration(*Request.EndMs * 1000) +
                    ", past the end of the file (" + Length + "); cut to the end";
        R.Cut.EndMs = LengthMs;
    }
    return R;
}

}  // namespace zembra::cli
