#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "logging/FFmpegLogger.h"

namespace zembra::testing {

// A job whose protected state the tests may reach.
class TTestJob : public TFFmpeg {
  public:
    using TCustomFFmpeg::FFinished;
    using TCustomFFmpeg::FInputFileCount;
    using TCustomFFmpeg::FOutputFileCount;
    using TCustomFFmpeg::PauseCheckpoint;
};

// Loads the libraries, resets a job and records every log line.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        GetLogger().SetLogLevel(llInfo);
        GetLogger().SetOnLog([this](void*, uint32_t, TLogLevel Level, const std::string& Msg) {
            LogLines.push_back(Msg);
            LogLevels.push_back(Level);
        });
        Job.ResetJob();
        ASSERT_NE(Job.CodecOptions(omtVideo), nullptr);
    }
    void TearDown() override { GetLogger().SetOnLog(nullptr); }

    // The message of the exception that applying Text raises ("" when none).
    std::string ErrorOf(const std::string& Text, int Phase = kPhaseOrdinary) {
        try {
            Job.ApplyOptionLines(Text, Phase);
        } catch (const std::exception& E) {
            return E.what();
        }
        return "";
    }
    bool Logged(const std::string& Text) const {
        for (const std::string& L : LogLines)
            if (L.find(Text) != std::string::npos) return true;
        return false;
    }
    int64_t IntOption(void* Object, const char* Name) const {
        int64_t V = 0;
        EXPECT_GE(lavu.av_opt_get_int(Object, Name, 0, &V), 0) << Name;
        return V;
    }
    std::string PrivateOption(TOptionMediaType Type, const char* Name) const {
        const AVDictionaryEntry* E =
            lavu.av_dict_get(Job.PrivateCodecOptions(Type), Name, nullptr, AV_DICT_MATCH_CASE);
        return E ? E->value : "<unset>";
    }

    std::string PrivateOptionOfFormat(const char* Name) const {
        const AVDictionaryEntry* E =
            lavu.av_dict_get(Job.PrivateFormatOptions(), Name, nullptr, AV_DICT_MATCH_CASE);
        return E ? E->value : "<unset>";
    }

    TTestJob Job;
    std::vector<std::string> LogLines;
    std::vector<TLogLevel> LogLevels;
};

}  // namespace zembra::testing
