#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdint>
#include <string>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FrameHook.h"
#include "logging/FFmpegLogger.h"

namespace zembra::testing {

// A picture in one of the formats the modules draw on, with guard bytes around every plane and
// marked padding at the end of every row, so writes outside the picture are caught.
class TTestFrame {
  public:
    static constexpr uint8_t kGuard = 0xA5;
    static constexpr size_t kGuardBytes = 64;
    static constexpr int kPadding = 13;

    // Planar YUV 4:2:0 filled with one colour, or packed 24-bit RGB/BGR filled with one colour
    // given in memory order (C0 C1 C2).
    TTestFrame(int Format, int Width, int Height, uint8_t C0, uint8_t C1, uint8_t C2)
        : Format(Format), Width(Width), Height(Height) {
        const bool Packed = Format == AV_PIX_FMT_BGR24 || Format == AV_PIX_FMT_RGB24;
        const int Planes = Packed ? 1 : 3;
        for (int P = 0; P < Planes; ++P) {
            const int W = Packed ? Width * 3 : (P == 0 ? Width : (Width + 1) / 2);
            const int H = (Packed || P == 0) ? Height : (Height + 1) / 2;
            RowBytes[P] = W;
            Rows[P] = H;
            Linesize[P] = W + kPadding;
            Buffer[P].assign(kGuardBytes * 2 + size_t(Linesize[P]) * H, kGuard);
            Data[P] = Buffer[P].data() + kGuardBytes;
            for (int Y = 0; Y < H; ++Y)
                for (int X = 0; X < W; ++X) {
                    const uint8_t V = Packed ? (X % 3 == 0   ? C0
                                                : X % 3 == 1 ? C1
                                                             : C2)
                                             : (P == 0   ? C0
                                                : P == 1 ? C1
                                                         : C2);
                    Data[P][size_t(Y) * Linesize[P] + X] = V;
                }
        }
    }
    TTestFrame(const TTestFrame& Other) : TTestFrame(Other.Format, 0, 0, 0, 0, 0) { *this = Other; }
    TTestFrame& operator=(const TTestFrame& Other) {
        Format = Other.Format;
        Width = Other.Width;
        Height = Other.Height;
        for (int P = 0; P < 4; ++P) {
            Buffer[P] = Other.Buffer[P];
            RowBytes[P] = Other.RowBytes[P];
            Rows[P] = Other.Rows[P];
            Linesize[P] = Other.Linesize[P];
            Data[P] = Buffer[P].empty() ? nullptr : Buffer[P].data() + kGuardBytes;
        }
        return *this;
    }

    uint8_t& Luma(int X, int Y) { return Data[0][size_t(Y) * Linesize[0] + X]; }
    uint8_t& ChromaU(int X, int Y) { return Data[1][size_t(Y / 2) * Linesize[1] + X / 2]; }
    uint8_t& ChromaV(int X, int Y) { return Data[2][size_t(Y / 2) * Linesize[2] + X / 2]; }
    // Packed: byte C (0..2, memory order) of pixel (X, Y).
    uint8_t& Byte(int X, int Y, int C) { return Data[0][size_t(Y) * Linesize[0] + X * 3 + C]; }

    // Every guard and padding byte still holds its mark.
    bool Intact() const {
        for (int P = 0; P < 4; ++P) {
            if (Buffer[P].empty()) continue;
            for (size_t I = 0; I < kGuardBytes; ++I)
                if (Buffer[P][I] != kGuard || Buffer[P][Buffer[P].size() - 1 - I] != kGuard) return false;
            for (int Y = 0; Y < Rows[P]; ++Y)
                for (int X = RowBytes[P]; X < Linesize[P]; ++X)
                    if (Data[P][size_t(Y) * Linesize[P] + X] != kGuard) return false;
        }
        return true;
    }
    // How many bytes of the pictures differ (planes compared byte for byte, padding included).
    size_t Differences(const TTestFrame& Other) const {
        size_t N = 0;
        for (int P = 0; P < 4; ++P)
            for (size_t I = 0; I < Buffer[P].size() && I < Other.Buffer[P].size(); ++I)
                N += Buffer[P][I] != Other.Buffer[P][I];
        return N;
    }

    void Run(TFrameHookChain& Chain, int64_t PTS = 0) {
        ProcessFrameHooks(Chain, Data, Linesize, Format, Width, Height, PTS);
    }

    int Format;
    int Width;
    int Height;
    std::vector<uint8_t> Buffer[4];
    uint8_t* Data[4] = {nullptr, nullptr, nullptr, nullptr};
    int Linesize[4] = {0, 0, 0, 0};
    int RowBytes[4] = {0, 0, 0, 0};
    int Rows[4] = {0, 0, 0, 0};
};

// Loads the media libraries (the loader logs through them) and keeps the log lines.
class HookTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        GetLogger().SetLogLevel(llInfo);
        GetLogger().SetOnLog([this](void*, uint32_t, TLogLevel Level, const std::string& Msg) {
            LogLines.push_back(Msg);
            LogLevels.push_back(Level);
        });
    }
    void TearDown() override { GetLogger().SetOnLog(nullptr); }

    bool Logged(const std::string& Text, TLogLevel Level = llError) const {
        for (size_t I = 0; I < LogLines.size(); ++I)
            if (LogLines[I].find(Text) != std::string::npos && LogLevels[I] == Level) return true;
        return false;
    }
    std::string AllLogLines() const {
        std::string S;
        for (const std::string& L : LogLines) S += L + "\n";
        return S;
    }

    std::vector<std::string> LogLines;
    std::vector<TLogLevel> LogLevels;
};

}  // namespace zembra::testing
