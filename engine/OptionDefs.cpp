// The rows of the engine's option vocabulary.

#include "engine/OptionDefs.h"

#include <unordered_map>

#include "engine/FFmpeg.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

using K = TOptionKind;
using M = TOptionMedia;
using S = TJobSettings;
using J = TCustomFFmpeg;
constexpr int Ord = kPhaseOrdinary;
constexpr int Pre = kPhasePresets;
constexpr int Ext = kPhaseExtraStreams;

constexpr double kInf = std::numeric_limits<double>::infinity();
const TOptionRange kAll{};
// Values below Min are passed over as if the line were not there.
TOptionRange IgnoreBelow(double Min) {
    return {Min, kInf, TOutOfRange::Ignore, TOutOfRange::Fail, ""};
}
// Each pad stays small enough that a picture plus its pads cannot leave an int; the encoder
// still refuses a padded size it cannot code. A negative pad is passed over.
TOptionRange Pad(const char* Message) {
    return {0, 65536, TOutOfRange::Ignore, TOutOfRange::Fail, Message};
}
const TOptionRange kReplayGainRange{0, 1, TOutOfRange::Fail, TOutOfRange::Fail,
                                    "replaygain can be only 0 or 1"};
const TOptionRange kPassRange{1, 2, TOutOfRange::Fail, TOutOfRange::Fail, "pass number can be only 1 or 2"};
// Greater than 0: the smallest positive double is the first value taken.
const TOptionRange kQScaleRange{std::numeric_limits<double>::denorm_min(), 255, TOutOfRange::Fail,
                                TOutOfRange::Fail, "qscale must be > 0.0 and <= 255"};

// The setter of a row whose job setter needs nothing but the value.
template <void (J::*Set)(const std::string&)>
void ValueOnly(J& Job, const std::string&, const std::string& Value) {
    (Job.*Set)(Value);
}

}  // namespace

// A friend of the job, so that rows can name its private setters.
std::span<const TOptionDef> EngineOptionTable() {
    static const TOptionDef kRows[] = {
        {"L", K::LogOnly, {}, kAll, Ord, M::Any, "show the licence (does nothing here)"},
        {"h", K::LogOnly, {}, kAll, Ord, M::Any, "show help (does nothing here)"},
        {"version", K::LogOnly, {}, kAll, Ord, M::Any, "show the version (does nothing here)"},
        {"formats", K::LogOnly, {}, kAll, Ord, M::Any, "list the formats (does nothing here)"},
        {"i", K::LogOnly, {}, kAll, Ord, M::Any, "input file (files are never given by option)"},
        {"y", K::LogOnly, {}, kAll, Ord, M::Any, "overwrite outputs (they always are)"},
        {"benchmark", K::LogOnly, {}, kAll, Ord, M::Any, "benchmark (does nothing here)"},
        {"threads", K::Fails, {}, kAll, Ord, M::Any, "thread count (not supported: fails)"},

        {"dump", K::Flag, &S::DoPktDump, kAll, Ord, M::Any, "dump each packet"},
        {"hex", K::Flag, &S::DoHexDump, kAll, Ord, M::Any, "hex dump of each packet"},
        {"re", K::Flag, &S::RateEmu, kAll, Ord, M::Any, "read the input at its native frame rate"},
        {"loop_input", K::Flag, &S::LoopInput, kAll, Ord, M::Any, "loop the input"},
        {"shortest", K::Flag, &S::Shortest, kAll, Ord, M::Any, "end with the shortest stream"},
        {"intra", K::Flag, &S::IntraOnly, kAll, Ord, M::Video, "intra frames only (gop size 0)"},
        {"vn", K::Flag, &S::VideoDisable, kAll, Ord, M::Video, "no video"},
        {"sameq", K::Flag, &S::SameQuality, kAll, Ord, M::Video, "same quantiser as the input"},
        {"deinterlace", K::Flag, &S::DoDeinterlace, kAll, Ord, M::Video, "deinterlace the pictures"},
        {"psnr", K::Flag, &S::DoPSNR, kAll, Ord, M::Video, "compute the PSNR of the encoded video"},
        {"qphist", K::Flag, &S::QpHist, kAll, Ord, M::Video, "show the quantiser histogram"},
        {"force_fps", K::Flag, &S::ForceFps, kAll, Ord, M::Video,
         "keep the given rate whatever the encoder lists"},
        {"an", K::Flag, &S::AudioDisable, kAll, Ord, M::SoundStream, "no audio"},
        {"sn", K::Flag, &S::SubtitleDisable, kAll, Ord, M::Subtitle, "no subtitles"},
        {"isync", K::Flag, &S::InputSync, kAll, Ord, M::Any, "sync on the input"},
        {"copyts", K::SetFlag, &S::CopyTs, kAll, Ord, M::Any, "keep the input time stamps"},
        {"xerror", K::SetFlag, &S::ExitOnError, kAll, Ord, M::Any, "stop on the first error"},

        {"vframes", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetFrameLimit(V, 0); }, kAll, Ord,
         M::Video, "number of video frames to write"},
        {"aframes", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetFrameLimit(V, 1); }, kAll, Ord,
         M::SoundStream, "number of audio frames to write"},
        {"dframes", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetFrameLimit(V, 2); }, kAll, Ord, M::Any,
         "number of data frames to write"},
        {"loop_output", K::Integer, &S::LoopOutput, kAll, Ord, M::Any, "times to loop the output (-1 none)"},
        {"v", K::Integer, &S::Verbose, kAll, Ord, M::Any, "verbosity"},
        {"vsync", K::Integer, &S::VideoSyncMethod, kAll, Ord, M::Video, "video sync method"},
        {"async", K::Integer, &S::AudioSyncMethod, kAll, Ord, M::Sound, "audio sync method"},
        {"vglobal", K::Integer, &S::VideoGlobalHeader, kAll, Ord, M::Video,
         "global headers (1 force, 2 local)"},
        {"programid", K::Integer, &S::ProgramId, kAll, Ord, M::Any, "program of the input to take"},
        {"copyinkf", K::Integer, &S::CopyInitialNonKeyFrames, kAll, Ord, M::Any,
         "copy initial non-key frames"},
        {"vdt", K::Integer, &S::VideoDiscard, kAll, Ord, M::Video, "video discard level"},
        {"me_threshold", K::Integer, &S::MeThreshold, kAll, Ord, M::Video, "motion estimation threshold"},
        {"top", K::Integer, &S::TopFieldFirst, kAll, Ord, M::Video, "top field first (-1 as the input)"},
        {"dc", K::Integer, &S::IntraDcPrecision, kAll, Ord, M::Video, "intra DC precision"},
        {"vol", K::Integer, &S::AudioVolume, kAll, Ord, M::Sound, "audio volume (256 unchanged)"},
        {"vc", K::Integer, &S::VideoChannel, kAll, Ord, M::Video, "video channel"},
        {"copy_cover", K::Integer, &S::CopyCover, kAll, Ord, M::Any,
         "take the source's attached picture along"},
        {"decode_ahead", K::Integer, &S::DecodeAhead, kAll, Ord, M::Any,
         "decode on a second thread (0 one thread)"},
        {"segments", K::Integer, &S::Segments, kAll, Ord, M::Any,
         "encode the sound in segments on this many threads (0 one thread, -1 the free processors)"},
        {"segment_ms", K::Integer, &S::SegmentMs, IgnoreBelow(1), Ord, M::Any,
         "shortest segment worth a thread of its own (ms)"},
        {"replaygain", K::Integer, &S::ReplayGain, kReplayGainRange, Ord, M::Any,
         "measure the sound's loudness and tag the output with its ReplayGain (1)"},
        {"ar", K::Integer, &S::AudioSampleRate, IgnoreBelow(1), Ord, M::Sound, "audio sample rate (Hz)",
         &S::AudioSampleRateGiven},
        {"ac", K::Integer, &S::AudioChannels, IgnoreBelow(1), Ord, M::Sound, "audio channels",
         &S::AudioChannelsGiven},
        {"pass", K::Integer, &S::DoPass, kPassRange, Ord, M::Video, "two-pass encoding: pass 1 or 2"},
        {"padtop", K::Integer, &S::PadTop, Pad("Incorrect top pad size"), Ord, M::Video,
         "pad rows at the top"},
        {"padbottom", K::Integer, &S::PadBottom, Pad("Incorrect bottom pad size"), Ord, M::Video,
         "pad rows at the bottom"},
        {"padleft", K::Integer, &S::PadLeft, Pad("Incorrect left pad size"), Ord, M::Video,
         "pad columns at the left"},
        {"padright", K::Integer, &S::PadRight, Pad("Incorrect right pad size"), Ord, M::Video,
         "pad columns at the right"},
        {"fs", K::Integer64, &S::LimitFileSize, kAll, Ord, M::Any, "output size limit in bytes (0 none)"},

        {"adrift_threshold", K::Float, &S::AudioDriftThreshold, kAll, Ord, M::Sound,
         "audio drift threshold (s)"},
        {"dts_delta_threshold", K::Float, &S::DtsDeltaThreshold, kAll, Ord, M::Any,
         "time stamp jump threshold (s)"},
        {"aq", K::Float, &S::AudioQScale, kAll, Ord, M::Sound, "audio quality"},
        {"muxdelay", K::Float, &S::MuxMaxDelay, kAll, Ord, M::Any, "maximum mux delay (s)"},
        {"muxpreload", K::Float, &S::MuxPreload, kAll, Ord, M::Any, "mux preload (s)"},
        {"qscale", K::Float, &S::VideoQScale, kQScaleRange, Ord, M::Video, "fixed video quantiser"},

        {"t", K::Duration, &J::SetRecordingTime, IgnoreBelow(1), Ord, M::Any, "duration to record"},
        {"ss", K::Duration, &S::StartTime, kAll, Ord, M::Any, "start position"},
        {"itsoffset", K::Duration, &S::InputTsOffset, kAll, Ord, M::Any, "input time offset"},
        {"timestamp", K::Date, &S::RecordingTimestamp, kAll, Ord, M::Any, "the output's recording date"},

        {"passlogfile", K::Text, &S::PassLogFileName, kAll, Ord, M::Video, "two-pass log file prefix"},
        {"alang", K::Text, &S::AudioLanguage, kAll, Ord, M::SoundStream, "language of the next audio stream"},
        {"slang", K::Text, &S::SubtitleLanguage, kAll, Ord, M::Subtitle,
         "language of the next subtitle stream"},
        {"tvstd", K::Text, &S::VideoStandard, kAll, Ord, M::Video, "video standard"},
        {"vstats_file", K::Text, &S::VStatsFileName, kAll, Ord, M::Video, "video statistics file"},
        {"rc_override", K::Text, &S::RcOverride, kAll, Ord, M::Video, "rate-control override"},
        {"vfilters", K::Text, &S::VideoFilters, IgnoreBelow(1), Ord, M::Video, "video filter graph"},
        {"loglevel", K::Custom, ValueOnly<&J::SetLogLevelOption>, kAll, Ord, M::Any,
         "log level by name or number"},

        {"f", K::Custom, ValueOnly<&J::SetFormat>, kAll, Ord, M::Any, "container format of input and output"},
        {"map", K::Custom, ValueOnly<&J::AddStreamMap>, kAll, Ord, M::Any,
         "stream map: file.stream[:syncfile.syncstream]"},
        {"map_meta_data", K::Custom, ValueOnly<&J::AddMetaDataMap>, kAll, Ord, M::Any,
         "metadata map: outfile:infile"},
        {"itsscale", K::Custom, ValueOnly<&J::SetITSScale>, kAll, Ord, M::Any,
         "time stamp scale: stream:scale"},
        {"metadata", K::Custom, ValueOnly<&J::SetMetadataOption>, kAll, Ord, M::Any, "metadata: key=value"},
        {"r", K::Custom, ValueOnly<&J::SetFrameRate>, kAll, Ord, M::Video, "frame rate"},
        {"s", K::Custom, ValueOnly<&J::SetFrameSize>, kAll, Ord, M::Video,
         "frame size: WxH or an abbreviation"},
        {"aspect", K::Custom, ValueOnly<&J::SetAspect>, kAll, Ord, M::Video,
         "aspect ratio: 4:3, 16:9 or 1.3333"},
        {"pix_fmt", K::Custom, ValueOnly<&J::SetPixelFormat>, kAll, Ord, M::Video,
         "pixel format (list: log them)"},
        {"sample_fmt", K::Custom, ValueOnly<&J::SetSampleFormat>, kAll, Ord, M::Sound,
         "sample format (list: log them)"},
        {"croptop", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetCrop(V, &S::CropTop, true); }, kAll,
         Ord, M::Video, "crop rows at the top"},
        {"cropbottom", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetCrop(V, &S::CropBottom, true); }, kAll,
         Ord, M::Video, "crop rows at the bottom"},
        {"cropleft", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetCrop(V, &S::CropLeft, false); }, kAll,
         Ord, M::Video, "crop columns at the left"},
        {"cropright", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetCrop(V, &S::CropRight, false); }, kAll,
         Ord, M::Video, "crop columns at the right"},
        {"padcolor", K::Custom, ValueOnly<&J::SetPadColorOption>, kAll, Ord, M::Video,
         "pad colour: 0xBBGGRR"},
        {"vcodec", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetCodecName(V, &S::VideoCodecName, &S::VideoStreamCopy); },
         kAll, Ord, M::Video, "video codec (copy: copy the stream)"},
        {"acodec", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetCodecName(V, &S::AudioCodecName, &S::AudioStreamCopy); },
         kAll, Ord, M::Sound, "audio codec (copy: copy the stream)"},
        {"scodec", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetCodecName(V, &S::SubtitleCodecName, &S::SubtitleStreamCopy); },
         kAll, Ord, M::Subtitle, "subtitle codec (copy: copy the stream)"},
        {"vtag", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetCodecTag(V, &S::VideoCodecTag, "video"); },
         kAll, Ord, M::Video, "video codec tag (4 characters)"},
        {"atag", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetCodecTag(V, &S::AudioCodecTag, "audio"); },
         kAll, Ord, M::SoundStream, "audio codec tag (4 characters)"},
        {"stag", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetCodecTag(V, &S::SubtitleCodecTag, "subtitle"); },
         kAll, Ord, M::Subtitle, "subtitle codec tag (4 characters)"},
        {"intra_matrix", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetMatrix(V, &S::IntraMatrix); }, kAll,
         Ord, M::Video, "intra quantiser matrix (64 values)"},
        {"inter_matrix", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.SetMatrix(V, &S::InterMatrix); }, kAll,
         Ord, M::Video, "inter quantiser matrix (64 values)"},
        {"b", K::Custom,
         [](J& Job, const std::string& Name, const std::string& V) { Job.SetBitrate(Name, V, omtVideo); },
         kAll, Ord, M::Video, "video bit rate (bit/s)"},
        {"vb", K::Custom,
         [](J& Job, const std::string& Name, const std::string& V) { Job.SetBitrate(Name, V, omtVideo); },
         kAll, Ord, M::Video, "video bit rate (bit/s)"},
        {"ab", K::Custom,
         [](J& Job, const std::string& Name, const std::string& V) { Job.SetBitrate(Name, V, omtAudio); },
         kAll, Ord, M::Sound, "audio bit rate (bit/s)"},
        {"target", K::Custom, ValueOnly<&J::SetTargetOption>, kAll, Ord, M::Any,
         "target: [pal-|ntsc-|film-]vcd, svcd, dvd, dv, dv50"},
        {"vstats", K::Custom, ValueOnly<&J::SetVStats>, kAll, Ord, M::Video,
         "write video statistics beside the program"},
        {"vhook", K::Custom, ValueOnly<&J::AddFrameHook>, kAll, Ord, M::Video,
         "video hook module and its arguments"},
        {"absf", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetBitstreamFilter(V, &S::AudioBitstreamFilters); },
         kAll, Ord, M::SoundStream, "audio bitstream filter"},
        {"vbsf", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetBitstreamFilter(V, &S::VideoBitstreamFilters); },
         kAll, Ord, M::Video, "video bitstream filter"},
        {"sbsf", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.SetBitstreamFilter(V, &S::SubtitleBitstreamFilters); },
         kAll, Ord, M::Subtitle, "subtitle bitstream filter"},
        {"apre", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.LoadPresetFor(V, &S::AudioCodecName); },
         kAll, Pre, M::Sound, "audio preset"},
        {"vpre", K::Custom,
         [](J& Job, const std::string&, const std::string& V) { Job.LoadPresetFor(V, &S::VideoCodecName); },
         kAll, Pre, M::Video, "video preset"},
        {"spre", K::Custom,
         [](J& Job, const std::string&,
            const std::string& V) { Job.LoadPresetFor(V, &S::SubtitleCodecName); },
         kAll, Pre, M::Subtitle, "subtitle preset"},
        {"newvideo", K::Custom,
         [](J& Job, const std::string&, const std::string&) { Job.AddExtraStream(&J::AddVideoStream); }, kAll,
         Ext, M::Video, "add a video stream to the output"},
        {"newaudio", K::Custom,
         [](J& Job, const std::string&, const std::string&) { Job.AddExtraStream(&J::AddAudioStream); }, kAll,
         Ext, M::SoundStream, "add an audio stream to the output"},
        {"newsubtitle", K::Custom,
         [](J& Job, const std::string&, const std::string&) { Job.AddExtraStream(&J::AddSubtitleStream); },
         kAll, Ext, M::Subtitle, "add a subtitle stream to the output"},
    };
    return kRows;
}

const TOptionDef* FindOptionDef(std::string_view Name) {
    static const std::unordered_map<std::string_view, const TOptionDef*> kByName = [] {
        std::unordered_map<std::string_view, const TOptionDef*> Map;
        for (const TOptionDef& Def : EngineOptionTable()) Map.emplace(Def.Name, &Def);
        return Map;
    }();
    const auto It = kByName.find(Name);
    return It == kByName.end() ? nullptr : It->second;
}

const char* OptionKindName(TOptionKind Kind) {
    static const char* const kNames[] = {"log-only", "fails",    "flag", "set-flag", "integer", "integer64",
                                         "float",    "duration", "date", "text",     "custom"};
    return kNames[static_cast<int>(Kind)];
}

const char* OptionMediaName(TOptionMedia Media) {
    static const char* const kNames[] = {"any", "sound", "sound-stream", "video", "subtitle"};
    return kNames[static_cast<int>(Media)];
}

std::string OptionRangeText(const TOptionDef& Def) {
    const TOptionRange& R = Def.Range;
    if (!R.Bounded()) return "";
    const std::string Prefix = Def.Kind == K::Text ? "length " : "";
    if (R.Max == kInf) return Prefix + Format(">= %g", R.Min);
    if (R.Min == std::numeric_limits<double>::denorm_min()) return Prefix + Format("> 0 and <= %g", R.Max);
    return Prefix + Format("%g..%g", R.Min, R.Max);
}

}  // namespace zembra
