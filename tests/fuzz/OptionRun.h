// What zembra-fuzz-optionrun does with an option text, shared with the regression tests that
// replay its findings.
#pragma once

#include <exception>
#include <string>

#include "engine/FFmpeg.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"

namespace zembra::fuzz {

// The clip the option texts are applied to: a few small pictures and a little sound in AVI.
inline testmedia::TClipSpec OptionRunClip(const std::string& Path) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path;
    Spec.Container = "avi";
    testmedia::TVideoSpec Video;
    Video.Width = 64;
    Video.Height = 48;
    Video.FrameCount = 8;
    Spec.Videos.push_back(Video);
    testmedia::TAudioSpec Audio;
    Audio.Encoder = "libmp3lame";
    Audio.Duration = 0.3;
    Spec.Audios.push_back(Audio);
    return Spec;
}

// Applies Text to Job around opening Clip and Output, as a task is set up. False, with the
// refusal in Refusal and the job cleaned up, when an option or a file was refused.
inline bool OpenOptionRun(TFFmpeg& Job, const std::string& Text, const std::string& Clip,
                          const std::string& Output, std::string& Refusal) {
    Job.ResetJob();
    try {
        Job.ApplyOptionLines(Text, kPhaseOrdinary);
        if (Job.OpenInputFile(Utf8ToUtf16(Clip))) {
            Job.ApplyOptionLines(Text, kPhaseOrdinary);
            Job.ApplyOptionLines(Text, kPhasePresets);
            if (Job.OpenOutputFile(Utf8ToUtf16(Output), false) >= 0) {
                Job.ApplyOptionLines(Text, kPhaseExtraStreams);
                return true;
            }
        }
        Refusal = Job.LastError();
    } catch (const std::exception& E) {
        Refusal = E.what();
    }
    Job.CleanUp();
    return false;
}

}  // namespace zembra::fuzz
