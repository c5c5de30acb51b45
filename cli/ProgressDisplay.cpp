#include "cli/ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

#include "util/Formatting.h"
#include "util/StringUtils.h"

namespace zembra::cli {

namespace {

int TerminalWidth() {
    winsize Size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &Size) == 0 && Size.ws_col > 0) return Size.ws_col;
    return 80;
}

// Cuts to Width columns, counting UTF-8 sequences as one column each.
std::string Fit(const std::string& Text, int Width) {
    int Columns = 0;
    for (size_t I = 0; I < Text.size(); ++I) {
        if ((static_cast<unsigned char>(Text[I]) & 0xC0) == 0x80) continue;
        if (++Columns > Width) return Text.substr(0, I);
    }
    return Text;
}

}  // namespace

TProgressDisplay::TProgressDisplay(bool Enabled, bool Live) : FEnabled(Enabled), FLive(Live) {}

std::string TProgressDisplay::ProgressText(const std::string& Name, const TTaskProgress& P, int Width,
                                           bool Bar) {
    std::string Percent = "  ?%";
    int Filled = -1;
    if (P.TotalDuration > 0) {
        const int Value =
            std::clamp(static_cast<int>(int64_t(P.CurrentDuration) * 100 / P.TotalDuration), 0, 100);
        Percent = Format("%3d%%", Value);
        Filled = Value / 5;
    }
    std::string Text = ReadableText(Name) + " " + Percent;
    if (Bar) {
        std::string Cells(20, ' ');
        if (Filled >= 0) std::fill_n(Cells.begin(), Filled, '#');
        Text += " [" + Cells + "]";
    }
    if (P.FPS >= 0) Text += Format(" %d fps", P.FPS);
    Text += " " + FormatDuration(int64_t(P.CurrentDuration) * 1000) + " " + FormatFileSize(P.CurrentSize);
    return Width > 0 ? Fit(Text, Width) : Text;
}

void TProgressDisplay::EraseBlock() {
    if (FDrawn == 0) return;
    std::fprintf(stderr, "\x1b[%dA\x1b[J", FDrawn);
    FDrawn = 0;
}

void TProgressDisplay::DrawBlock() {
    const int Width = TerminalWidth() - 1;
    for (const auto& [Index, Line] : FLines) {
        std::fprintf(stderr, "%s\n", ProgressText(Line.Name, Line.Progress, Width, true).c_str());
        ++FDrawn;
    }
    std::fflush(stderr);
}

void TProgressDisplay::Update(int32_t Index, const std::string& Name, const TTaskProgress& Progress) {
    if (!FEnabled) return;
    std::lock_guard<std::mutex> G(FLock);
    if (!FLive) {
        std::fprintf(stderr, "%s\n", ProgressText(Name, Progress, 0, false).c_str());
        std::fflush(stderr);
        return;
    }
    FLines[Index] = {Name, Progress};
    EraseBlock();
    DrawBlock();
}

void TProgressDisplay::Remove(int32_t Index) {
    std::lock_guard<std::mutex> G(FLock);
    if (!FLive || FLines.erase(Index) == 0) return;
    EraseBlock();
    DrawBlock();
}

void TProgressDisplay::Print(FILE* Stream, const std::string& Line) {
    std::lock_guard<std::mutex> G(FLock);
    if (FLive) EraseBlock();
    std::fflush(stderr);
    std::fprintf(Stream, "%s\n", (Stream == stdout ? Line : ReadableText(Line)).c_str());
    std::fflush(Stream);
    if (FLive) DrawBlock();
}

}  // namespace zembra::cli
