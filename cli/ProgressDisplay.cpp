#include "cli/ProgressDisplay.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

TProgressDisplay::TProgressDisplay(bool Enabled, bool Live, FILE* Stream)
    : FEnabled(Enabled), FLive(Live), FStream(Stream) {}

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
    std::fprintf(FStream, "\x1b[%dA\x1b[J", FDrawn);
    FDrawn = 0;
}

void TProgressDisplay::DrawBlock() {
    const int Width = TerminalWidth() - 1;
    for (const auto& [Task, Line] : FLines) {
        std::fprintf(FStream, "%s\n", ProgressText(Line.Name, Line.Progress, Width, true).c_str());
        ++FDrawn;
    }
    std::fflush(FStream);
}

void TProgressDisplay::Update(uint64_t Task, const std::string& Name, const TTaskProgress& Progress) {
    if (!FEnabled) return;
    std::lock_guard<std::mutex> G(FLock);
    const auto [It, New] = FLines.try_emplace(Task, TLine{Name, Progress});
    TTaskProgress& Shown = It->second.Progress;
    if (!New && It->second.Name != Name) {
        It->second = {Name, Progress};
    } else if (!New) {
        Shown.FPS = Progress.FPS;
        Shown.TotalDuration = Progress.TotalDuration;
        Shown.CurrentDuration = std::max(Shown.CurrentDuration, Progress.CurrentDuration);
        Shown.CurrentSize = std::max(Shown.CurrentSize, Progress.CurrentSize);
    }
    if (!FLive) {
        std::fprintf(FStream, "%s\n", ProgressText(Name, Shown, 0, false).c_str());
        std::fflush(FStream);
        return;
    }
    EraseBlock();
    DrawBlock();
}

void TProgressDisplay::Remove(uint64_t Task) {
    std::lock_guard<std::mutex> G(FLock);
    if (FLines.erase(Task) == 0 || !FLive) return;
    EraseBlock();
    DrawBlock();
}

void TProgressDisplay::Print(FILE* Stream, const std::string& Line) {
    std::lock_guard<std::mutex> G(FLock);
    if (FLive) EraseBlock();
    std::fflush(FStream);
    if (Stream != stdout) {
        std::fprintf(Stream, "%s\n", ReadableText(Line).c_str());
        std::fflush(Stream);
    } else if (FOutputError == 0) {
        errno = 0;
        const bool Written = std::fprintf(Stream, "%s\n", Line.c_str()) >= 0 && std::fflush(Stream) == 0;
        if (!Written) FOutputError = errno ? errno : EIO;
    }
    if (FLive) DrawBlock();
}

int TProgressDisplay::OutputError() {
    std::lock_guard<std::mutex> G(FLock);
    return FOutputError;
}

}  // namespace zembra::cli
