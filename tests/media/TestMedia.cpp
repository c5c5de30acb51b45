#include "tests/media/TestMedia.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegHolders.h"
#include "tests/media/OptionDictionary.h"
#include "tests/media/StreamWriters.h"
#include "util/StringUtils.h"

namespace zembra::testmedia {

namespace {

void RemoveFile(const std::string& Path) {
    std::error_code Ignored;
    std::filesystem::remove(Path, Ignored);
}

// A muxer without a file of its own (image sequences) writes one file per frame, numbered from 1
// unless told otherwise; 0 is covered too.
void RemoveNumberedFiles(const std::string& Pattern, int Count) {
    std::vector<char> Name(Pattern.size() + 64);
    bool Numbered = false;
    for (int N = 0; N <= Count + 1; ++N) {
        const int Ret =
            lavf.av_get_frame_filename2(Name.data(), static_cast<int>(Name.size()), Pattern.c_str(), N, 0);
        if (Ret < 0) break;
        Numbered = true;
        RemoveFile(Name.data());
    }
    if (!Numbered) RemoveFile(Pattern);
}

std::string CheckClip(const TClipSpec& Spec) {
    if (Spec.Path.empty()) return "The clip has no output path";
    const int Streams = StreamCount(Spec);
    if (Streams == 0) return "The clip has no stream";
    for (const TProgramSpec& Program : Spec.Programs) {
        for (const int Index : Program.StreamIndexes)
            if (Index < 0 || Index >= Streams)
                return Format("Program %d names stream %d; the clip has %d", Program.Id, Index, Streams);
    }
    return {};
}

class TClipWriter {
  public:
    explicit TClipWriter(const TClipSpec& Spec) : FSpec(Spec) {}
    ~TClipWriter();
    TClipWriter(const TClipWriter&) = delete;
    TClipWriter& operator=(const TClipWriter&) = delete;

    std::string Write();

  private:
    std::string CreateOutput();
    std::string AddStreams();
    std::string AddProgramsAndMetadata();
    std::string OpenFile();
    std::string WriteStreams();
    std::string Finish();

    const TClipSpec& FSpec;
    TFormatOutputPtr FOutput;
    std::vector<std::unique_ptr<TStreamWriter>> FWriters;
    bool FFileOpened = false;
    bool FNumberedFiles = false;
    bool FSucceeded = false;
};

TClipWriter::~TClipWriter() {
    // Encoders and the muxer go first: the file must be closed before it can be removed.
    FWriters.clear();
    FOutput.reset();
    if (FSucceeded) return;
    if (FNumberedFiles) {
        int Frames = 0;
        for (const TVideoSpec& Video : FSpec.Videos) Frames = std::max(Frames, Video.FrameCount);
        RemoveNumberedFiles(FSpec.Path, Frames);
    } else if (FFileOpened) {
        RemoveFile(FSpec.Path);
    }
}

std::string TClipWriter::Write() {
    std::string Error = CheckClip(FSpec);
    if (Error.empty()) Error = CreateOutput();
    if (Error.empty()) Error = AddStreams();
    if (Error.empty()) Error = AddProgramsAndMetadata();
    if (Error.empty()) Error = OpenFile();
    if (Error.empty()) Error = WriteStreams();
    if (Error.empty()) Error = Finish();
    FSucceeded = Error.empty();
    return Error;
}

std::string TClipWriter::CreateOutput() {
    AVFormatContext* Output = nullptr;
    const char* Container = FSpec.Container.empty() ? nullptr : FSpec.Container.c_str();
    const int Ret = lavf.avformat_alloc_output_context2(&Output, nullptr, Container, FSpec.Path.c_str());
    FOutput.reset(Output);
    if (Ret < 0 || !Output) {
        if (Container) return Format("Unknown container \"%s\": %s", Container, ErrorText(Ret).c_str());
        return Format("No container fits \"%s\": %s", FSpec.Path.c_str(), ErrorText(Ret).c_str());
    }
    return {};
}

std::string TClipWriter::AddStreams() {
    for (const TVideoSpec& Video : FSpec.Videos) {
        FWriters.emplace_back();
        std::string Error = CreateVideoWriter(Video, FOutput.get(), FWriters.back());
        if (!Error.empty()) return Error;
    }
    for (const TAudioSpec& Audio : FSpec.Audios) {
        FWriters.emplace_back();
        std::string Error = CreateAudioWriter(Audio, FOutput.get(), FWriters.back());
        if (!Error.empty()) return Error;
    }
    if (FSpec.Subtitle) {
        FWriters.emplace_back();
        std::string Error = CreateSubtitleWriter(*FSpec.Subtitle, FOutput.get(), FWriters.back());
        if (!Error.empty()) return Error;
    }
    return {};
}

std::string TClipWriter::AddProgramsAndMetadata() {
    AVFormatContext* Output = FOutput.get();
    for (const TProgramSpec& Spec : FSpec.Programs) {
        AVProgram* Program = lavf.av_new_program(Output, Spec.Id);
        if (!Program) return Format("Cannot add program %d", Spec.Id);
        if (!Spec.ServiceName.empty()) {
            const int Ret = lavu.av_dict_set(&Program->metadata, "service_name", Spec.ServiceName.c_str(), 0);
            if (Ret < 0) return Format("Cannot name program %d: %s", Spec.Id, ErrorText(Ret).c_str());
        }
        for (const int Index : Spec.StreamIndexes)
            lavf.av_program_add_stream_index(Output, Spec.Id, static_cast<unsigned>(Index));
        // The call reports nothing, so check the program really holds every stream.
        if (Program->nb_stream_indexes != Spec.StreamIndexes.size())
            return Format("Program %d holds %u streams instead of %zu", Spec.Id, Program->nb_stream_indexes,
                          Spec.StreamIndexes.size());
    }
    for (const auto& [Key, Value] : FSpec.Metadata) {
        const int Ret = lavu.av_dict_set(&Output->metadata, Key.c_str(), Value.c_str(), 0);
        if (Ret < 0) return Format("Cannot set tag %s: %s", Key.c_str(), ErrorText(Ret).c_str());
    }
    return {};
}

std::string TClipWriter::OpenFile() {
    if (FOutput->oformat->flags & AVFMT_NOFILE) return {};
    const int Ret = lavf.avio_open2(&FOutput->pb, FSpec.Path.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr);
    if (Ret < 0) return Format("Cannot create \"%s\": %s", FSpec.Path.c_str(), ErrorText(Ret).c_str());
    FFileOpened = true;
    return {};
}

std::string TClipWriter::WriteStreams() {
    // From here on a muxer without a file of its own may create files.
    FNumberedFiles = (FOutput->oformat->flags & AVFMT_NOFILE) != 0;
    TDictionary Settings;
    std::string Error = FillDictionary(FSpec.MuxerOptions, Settings);
    if (!Error.empty()) return Error;
    const int Ret = lavf.avformat_write_header(FOutput.get(), Settings.Slot());
    if (Ret < 0)
        return Format("Cannot write the header of \"%s\": %s", FSpec.Path.c_str(), ErrorText(Ret).c_str());
    const std::string Unused = LeftoverNames(Settings);
    if (!Unused.empty())
        return Format("Muxer \"%s\" does not know the option(s) %s", FOutput->oformat->name, Unused.c_str());
    // Always the stream furthest behind, so the muxer's interleaving queue stays short.
    for (;;) {
        TStreamWriter* Next = nullptr;
        for (const auto& Writer : FWriters)
            if (!Writer->Done() && (!Next || Writer->NextTime() < Next->NextTime())) Next = Writer.get();
        if (!Next) return {};
        Error = Next->Step(FOutput.get());
        if (!Error.empty()) return Error;
    }
}

std::string TClipWriter::Finish() {
    int Ret = lavf.av_write_trailer(FOutput.get());
    if (Ret < 0) return Format("Cannot finish \"%s\": %s", FSpec.Path.c_str(), ErrorText(Ret).c_str());
    if (FFileOpened) {
        // Closing flushes the last bytes, which can fail on a full disk.
        Ret = lavf.avio_closep(&FOutput->pb);
        if (Ret < 0) return Format("Cannot close \"%s\": %s", FSpec.Path.c_str(), ErrorText(Ret).c_str());
    }
    return {};
}

}  // namespace

std::string WriteClip(const TClipSpec& Spec) {
    TClipWriter Writer(Spec);
    return Writer.Write();
}

}  // namespace zembra::testmedia
