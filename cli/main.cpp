// zembra-cli: the headless batch converter on top of the task manager.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <unordered_set>
#include <string>
#include <thread>
#include <vector>

#include "app/AlbumGain.h"
#include "app/OptionBuilder.h"
#include "app/TaskAdding.h"
#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "app/FileFilters.h"
#include "cli/BatchFeeder.h"
#include "cli/BatchSummary.h"
#include "cli/CliOptions.h"
#include "cli/EngineOptionList.h"
#include "cli/FolderWalk.h"
#include "cli/OptionNameCheck.h"
#include "cli/OutputRecords.h"
#include "cli/ProgressDisplay.h"
#include "cli/StopSignals.h"
#include "cli/UniqueInputs.h"
#include "cli/VersionText.h"
#include "component/RUvivoVOV.h"
#include "logging/FFmpegLogger.h"
#include "util/MainThread.h"
#include "util/OpenFileLimit.h"
#include "util/OutputClaims.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace {

using namespace zembra;
using namespace zembra::cli;
using TTags = std::map<std::string, std::string>;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A Ctrl+C more than a second after the first: the tasks are not waited for any more, but what
// they leave is removed as the next run would, so that no name is left empty or half written.
void EndAtOnce() {
    static const char kText[] = "zembra-cli: ended at once, unfinished outputs removed\n";
    (void)!::write(STDERR_FILENO, kText, sizeof(kText) - 1);
    RemoveUnfinishedOutputs();
    ::_exit(kExitFailed);
}

int UsageError(const std::string& Message) {
    std::fprintf(stderr, "zembra-cli: %s\nTry 'zembra-cli --help'.\n", Message.c_str());
    return kExitUsage;
}

// Usage errors that need the libraries: they are found before any task starts.
std::string CheckWithLibraries(const TCliOptions& O) {
    if (!FindSoundFormat(O.Format) &&
        !lavf.av_guess_format(nullptr, ("x." + LowerCase(O.Format)).c_str(), nullptr))
        return "unknown output format '" + O.Format + "'";
    if (!O.Codec.empty()) {
        const AVCodec* Encoder = lavc.avcodec_find_encoder_by_name(O.Codec.c_str());
        if (!Encoder || Encoder->type != AVMEDIA_TYPE_AUDIO) return "unknown audio encoder '" + O.Codec + "'";
    }
    for (const auto* Lines : {&O.InputOptions, &O.OutputOptions})
        if (const std::string Name = FirstUnknownOption(*Lines); !Name.empty())
            return "unknown option '" + Name + "' in " +
                   (Lines == &O.InputOptions ? "--input-option" : "--output-option");
    return "";
}

// The files of the batch: "-" replaced by the names on standard input, folders by the media
// files below them (not this program's own outputs), each file once (Notes say which were given
// more than once).
TWalkResult CollectInputs(const std::vector<std::string>& Files, const TCliOptions& O,
                          TOutputRecords& Records, std::vector<std::string>& Notes) {
    std::vector<std::string> Names;
    for (const std::string& File : Files) {
        if (File != "-") {
            Names.push_back(File);
            continue;
        }
        const std::vector<std::string> Listed = ReadNameList(std::cin);
        Names.insert(Names.end(), Listed.begin(), Listed.end());
    }
    TWalkResult Result =
        ExpandInputs(Names, {FilterSuffixes(kOpenDialogFilter), O.OutputDir, O.SkipExisting, &Records});
    Notes = KeepOnePerFile(Result.Items);
    return Result;
}

int32_t TasksAtOnce(const TCliOptions& O, size_t TaskCount) {
    if (O.Threads) return *O.Threads;
    const int64_t Processors = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<int32_t>(std::clamp<int64_t>(static_cast<int64_t>(TaskCount), 1, Processors));
}

// What the probe knows of the file, for the option builder.
TSourceInfo Inspect(TAVProbe& Probe, const std::u16string& FileName) {
    if (!Probe.LoadFile(FileName)) {
        TSourceInfo Unknown;
        Unknown.FileName = FileName;
        return Unknown;
    }
    TSourceInfo Source = SourceInfoOf(Probe);
    Probe.Close();
    Source.FileName = FileName;
    return Source;
}

// "--list-formats": one line a format, its name and the encoder its sound alone is written with
// (the picked one, else the one the libraries find for the container's default codec).
std::string SoundFormatList() {
    std::string Text;
    for (const TSoundFormat& F : kSoundFormats) {
        const AVOutputFormat* Muxer =
            F.Encoder ? nullptr
                      : lavf.av_guess_format(nullptr, (std::string("x.") + F.Name).c_str(), nullptr);
        const AVCodec* Codec = Muxer ? lavc.avcodec_find_encoder(Muxer->audio_codec) : nullptr;
        Text += Format("%-5s %s\n", F.Name,
                       F.Encoder ? F.Encoder
                       : Codec   ? Codec->name
                                 : "(no encoder in these libraries)");
    }
    return Text;
}

// --info: each file's information, and the folders that held none.
int PrintInfos(TRUvivoVOV& Component, const TWalkResult& Inputs) {
    int Failed = 0;
    bool First = true;
    for (const TInputItem& Item : Inputs.Items) {
        const std::string& File = Item.Path;
        TAVProbe& Probe = Component.Probe();
        if (!Probe.LoadFile(ExpandFileNameW(Utf8ToUtf16(File)))) {
            std::fprintf(stderr, "%s\n",
                         ReadableText("zembra-cli: " + File + ": " + Probe.LastError()).c_str());
            ++Failed;
            continue;
        }
        std::string Text = NormaliseLineEnds(Probe.GetFileInfoText());
        if (!Text.empty() && Text.back() != '\n') Text += '\n';
        std::printf("%s%s", First ? "" : "\n", ReadableText(Text).c_str());
        std::fflush(stdout);
        First = false;
        Probe.Close();
        // Nobody reads any more ("| head"), or a stop was asked for.
        if (std::ferror(stdout) || StopRequested()) {
            ++Failed;
            break;
        }
    }
    int Status = Failed ? kExitFailed : kExitOk;
    for (const std::string& Folder : Inputs.EmptyFolders) {
        std::fprintf(stderr, "zembra-cli: %s: no media file in this folder\n", ReadableText(Folder).c_str());
        Status = kExitFailed;
    }
    GetLogger().SetOnLog(nullptr);
    return Status;
}

// Where a file's output goes: its folder (empty: beside the input) and, with --name, its whole
// name without the suffix.
struct TOutputPlace {
    std::u16string Folder;
    std::u16string Name;
};

// One batch of conversions: its files fed to the component a few at a time, their events
// reported, and what is left tidied at the end.
class TBatch {
  public:
    TBatch(TRUvivoVOV& Component, const TCliOptions& O, const std::u16string& OutputDir,
           TProgressDisplay& Display, TOutputRecords& Outputs, const TWalkResult& Inputs)
        : Component(Component),
          O(O),
          OutputDir(OutputDir),
          Display(Display),
          Outputs(Outputs),
          Inputs(Inputs),
          Threads(TasksAtOnce(O, Inputs.Items.size())),
          Feeder(Inputs.Items.size(), Threads) {}

    int Run() {
        ReserveInputNames();
        Component.SetKeepStoppedOutputs(O.KeepPartial);
        // A folder named for conversion that holds nothing to convert is most likely a mistake.
        for (const std::string& Folder : Inputs.EmptyFolders) Fail(Folder, "no media file in this folder");
        for (const auto& [Path, Reason] : Inputs.Unreadable) Fail(Path, Reason);
        for (const auto& [Path, Source] : Inputs.OutputsOfOthers) Skip(Path, "the output of " + Source);
        Component.SetOnProgress([this](int32_t, int32_t, int32_t AFPS, int32_t ACurrentDuration, float, float,
                                       int64_t ACurrentSize, int32_t ATotalOutputDuration) {
            OnProgress(AFPS, ACurrentDuration, ACurrentSize, ATotalOutputDuration);
        });
        Component.SetOnTerminate(
            [this](int32_t, bool AFinished, bool AException, const std::string& AMessage) {
                OnTerminate(AFinished, AException, AMessage);
            });
        Component.SetProgressInterval(250);
        RunTasks();
        return Finish();
    }

  private:
    void ReserveInputNames() {
        Reserved.reserve(2 * Inputs.Items.size());
        for (const TInputItem& Item : Inputs.Items)
            Reserved.insert(NameHash(ExpandFileNameW(Utf8ToUtf16(Item.Path))));
        Context.Reserved = [this](const std::u16string& Name) { return Reserved.count(NameHash(Name)) > 0; };
        // Names are taken on the file system as they are chosen, so that another process converting
        // into the same folder never gets one of them.
        Context.Claim = ClaimOutputFile;
    }

    void Fail(const std::string& File, const std::string& Reason) {
        Display.Print(stderr, "zembra-cli: " + File + ": " + Reason);
        Summary.Failed(File, Reason);
    }

    void Skip(const std::string& File, const std::string& Reason) {
        if (!O.Quiet) Display.Print(stderr, "zembra-cli: " + File + ": skipped, " + Reason);
        Summary.Skipped();
    }

    void Warn(const std::string& File, const std::string& Problem) {
        Display.Print(stderr, "zembra-cli: " + File + ": warning: " + Problem);
        Summary.Warned(File, Problem);
    }

    std::optional<TOutputPlace> PlaceOf(const TInputItem& Item, const TSourceInfo& Source) {
        TOutputPlace Place;
        // With --name the tags give the folders, in place of those mirrored from the input's.
        if (O.Name) {
            Place.Name = NameFromTags(O, Source, OutputDir);
            Place.Folder = ExtractFilePathW(Place.Name);
        } else if (!OutputDir.empty()) {
            Place.Folder = OutputDir + Utf8ToUtf16(Item.SubFolder);
        }
        if (!Place.Folder.empty()) {
            std::error_code Error;
            std::filesystem::create_directories(FileSystemName(Place.Folder), Error);
            if (Error) {
                Fail(Item.Path,
                     "cannot make the folder " + Utf16ToUtf8(Place.Folder) + ": " + Error.message());
                return std::nullopt;
            }
        }
        return Place;
    }

    void AddItem(size_t ItemIndex) {
        const TInputItem& Item = Inputs.Items[ItemIndex];
        const std::string& File = Item.Path;
        const std::u16string Input = ExpandFileNameW(Utf8ToUtf16(File));
        std::optional<TSourceInfo> Probed;
        if (O.Name) Probed = Inspect(Component.Probe(), Input);
        // Counted before anything can fail: an album missing a file gets no album gain.
        size_t Album = 0;
        if (AlbumGain) {
            const auto [Key, AlbumName] =
                AlbumKeyOf(O.Name.has_value(), Input, Probed ? Probed->Tags : TTags{});
            Album = Albums.AlbumOf(Key, AlbumName);
        }
        TSourceInfo Unprobed;
        Unprobed.FileName = Input;
        const std::optional<TOutputPlace> Place = PlaceOf(Item, Probed ? *Probed : Unprobed);
        if (!Place) return;
        const std::string Identity = SourceIdentity(FileSystemName(Input));
        const TNameFamily Family =
            Place->Name.empty()
                ? NameFamilyOf(OutputBaseName(Place->Folder, Input), FormatSuffix(O.Format), false)
                : NameFamilyOf(Place->Name, FormatSuffix(O.Format), true);
        auto IsReservedName = [this](const std::string& Name) { return IsReserved(Name); };
        if (O.SkipExisting) {
            // Only a finished output from before this run counts: not one this run made for
            // another input of the same name, nor the empty reservation a stopped or crashed
            // run left (the folder's leftovers of dead runs go first).
            PrepareOutputFolder(Family.Folder);
            if (const TSkipVerdict Verdict = Outputs.Existing(Identity, Family, IsReservedName); Verdict.Skip)
                return Skip(File, Verdict.Reason);
        }
        const TSourceInfo Source = Probed ? *Probed : Inspect(Component.Probe(), Input);
        std::optional<TCutRequest> Cut = O.Cut;
        if (Cut) {
            const TResolvedCut Resolved = ResolveCut(*Cut, Source.Duration);
            if (!Resolved.Ok) return Fail(File, Resolved.Message);
            if (!Resolved.Message.empty() && !O.Quiet)
                Display.Print(stderr, "zembra-cli: " + File + ": warning: " + Resolved.Message);
            Cut = Resolved.Cut;
        }
        TConversionRequest Request = O;
        Request.Cut = Cut;
        Request.OutputFolder = Place->Folder;
        Request.OutputName = Place->Name;
        TTaskEntry Entry;
        const TAddedTask Added = AddConversionTask(
            Component, Request, Source, Context,
            [&](const TTaskRecords& Records) {
                const std::string OutputFile = FileSystemName(Records.Out.FileName);
                if (const TSkipVerdict Verdict =
                        Outputs.Chosen(OutputFile, Identity, Family, IsOwnOutputClaim(OutputFile),
                                       O.SkipExisting, IsReservedName);
                    Verdict.Skip) {
                    Skip(File, Verdict.Reason);
                    return false;
                }
                std::string Name = Utf16ToUtf8(ExtractFileNameW(Input));
                if (Records.Sound.Copy) {
                    Name += " (copied)";
                    // A copied cut is not where the user asked to the sample: say so before it runs.
                    if (Cut && !O.Quiet)
                        Display.Print(stderr, "zembra-cli: " + File + ": " + Records.Sound.Text());
                }
                Entry = {File, Name, Records.Out.FileName, Records.Sound.Copy ? Records.Sound.Why : "",
                         Album};
                return true;
            },
            [&](TTaskId Id) { Feeder.List(Id, std::move(Entry)); });
        if (Added.Failure == TAddFailure::None) {
            Reserved.insert(NameHash(Added.Records.Out.FileName));
        } else if (Added.Failure != TAddFailure::Refused) {
            Fail(File, Added.Error);
            if (Added.Id != 0) Feeder.Unlist(Added.Id);
        }
    }

    // Ctrl+C: stop with waiting, so that what was written so far is a valid file.
    void CheckInterrupt() {
        if (!StopRequested() || !IsMainThread() || Stopping.exchange(true)) return;
        if (StopReason() == TStopReason::OutputClosed)
            Display.Print(stderr, "zembra-cli: standard output: " +
                                      std::string(std::strerror(Display.OutputError())) + ": stopping");
        else
            Display.Print(stderr, "zembra-cli: stopping");
        Component.StopTasks(true);
    }

    void OnProgress(int32_t AFPS, int32_t ACurrentDuration, int64_t ACurrentSize,
                    int32_t ATotalOutputDuration) {
        const TTaskId Id = TRUvivoVOV::EventTaskId();
        if (const TTaskEntry* Task = Feeder.Entry(Id)) {
            Feeder.MarkStarted(Id);
            Display.Update(Id, Task->Name, {AFPS, ACurrentDuration, ACurrentSize, ATotalOutputDuration});
        }
        CheckInterrupt();
    }

    void OnTerminate(bool AFinished, bool AException, const std::string& AMessage) {
        const TTaskId Id = TRUvivoVOV::EventTaskId();
        if (Id == 0) {  // the run's final event
            Done = true;
            NotifyMainThread();
            return;
        }
        const TTaskEntry* Listed = Feeder.Entry(Id);
        if (!Listed) return;
        const TTaskEntry& Task = *Listed;
        Feeder.TaskEnded();
        NotifyMainThread();
        Display.Remove(Id);
        if (AFinished && !AException) {
            Outputs.Finished(FileSystemName(Task.Output));
            Display.Print(stdout, Utf16ToUtf8(Task.Output));
            // Nobody reads the names any more ("| head -1"): the rest of the batch would go
            // unreported.
            if (Display.OutputError()) RequestStop(TStopReason::OutputClosed);
            Summary.Finished();
            if (!Task.Copied.empty()) Summary.Copied(Task.Input, Task.Copied);
            // A finished task's message is a warning about its result.
            if (!AMessage.empty()) Warn(Task.Input, AMessage);
        } else if (!AException && !Feeder.Started(Id)) {
            Summary.NotStarted(1);
        } else if (!AException) {
            const std::u16string Kept = Component.KeptPartialName(Id);
            Summary.Stopped(Task.Input,
                            !Kept.empty() ? "partial output kept in " + Utf16ToUtf8(Kept) : "no output kept");
        } else {
            Fail(Task.Input, AMessage);
        }
        CheckInterrupt();
    }

    // The run's tasks go; one added as the run ended has not run and waits for the next.
    void RemoveRunTasks() {
        while (Component.Task(0) && Component.Task(0)->Terminated()) {
            const TTaskFFmpeg& Task = *Component.Task(0);
            if (AlbumGain && Task.Finished() && !Task.ErrorOccurred() && Task.Loudness())
                if (const TTaskEntry* Entry = Feeder.Entry(Task.Id()))
                    Albums.Add(Entry->Album, Entry->Output, *Task.Loudness());
            Feeder.Unlist(Task.Id());
            Component.DeleteTask(0);
        }
    }

    void RunTasks() {
        auto AddItemAt = [this](size_t ItemIndex) { AddItem(ItemIndex); };
        auto Interrupted = [] { return StopRequested(); };
        auto Room = [&] { return Feeder.Room(Stopping.load()); };
        for (Feeder.AddTasks(Feeder.Ahead(), AddItemAt, Interrupted); Feeder.Count() > 0 && !StopRequested();
             Feeder.AddTasks(Feeder.Ahead(), AddItemAt, Interrupted)) {
            Done = false;
            Feeder.BeginRun();
            Component.StartTasks(Threads);
            while (!Done) {
                WaitInMainThread(
                    [&] { return Done.load() || (StopRequested() && !Stopping.load()) || Room(); });
                CheckInterrupt();
                if (Room()) Feeder.AddTasks(Feeder.EndedCount() + Feeder.Ahead(), AddItemAt, Interrupted);
            }
            Component.WaitForEventThreads();
            RemoveRunTasks();
            if (Stopping) break;
        }
    }

    int Finish() {
        // The files the stop came before: never set up, or set up and never run.
        Summary.NotStarted(Inputs.Items.size() - Feeder.NextItem() + Feeder.Count());
        PumpMainThreadQueue();  // lines the codecs' own threads posted last
        Component.SetOnProgress(nullptr);
        Component.SetOnTerminate(nullptr);
        // Outputs of tasks that never ran are still empty files: freeing the tasks removes them.
        Component.ClearTasks();
        Outputs.Tidy();
        GetLogger().SetOnLog(nullptr);
        if (AlbumGain)
            Albums.WriteTags(
                [this](const std::string& Name, const std::string& Problem) { Warn(Name, Problem); });
        if (!O.Quiet)
            for (const std::string& Line : Summary.ReportLines()) Display.Print(stderr, Line);
        return Summary.FailedCount() > 0 || Summary.StoppedCount() > 0 || StopRequested() ? kExitFailed
                                                                                          : kExitOk;
    }

    bool IsReserved(const std::string& Name) const { return Reserved.count(NameHash(Utf8ToUtf16(Name))) > 0; }

    TRUvivoVOV& Component;
    const TCliOptions& O;
    const std::u16string& OutputDir;
    TProgressDisplay& Display;
    TOutputRecords& Outputs;
    const TWalkResult& Inputs;
    const int32_t Threads;
    TBatchFeeder Feeder;
    const bool AlbumGain = O.ReplayGain == TReplayGainMode::Album;
    TAlbumGains Albums;
    // Every input of the batch is taken before any output is named: an output is opened (and
    // emptied, with --overwrite) when its task is set up, before an earlier task read its input.
    // Kept as hashes, not names: a library of ten thousand files would otherwise hold every
    // input and output name twice over for the whole batch. Two names with one hash only make
    // the later output take the next number, never overwrite a file.
    std::unordered_set<size_t> Reserved;
    const std::hash<std::u16string> NameHash{};
    TBuildContext Context;
    TBatchSummary Summary;
    std::atomic<bool> Done{false};
    std::atomic<bool> Stopping{false};
};

int Run(const TCliOptions& O) {
    TRUvivoVOV Component;
    if (!Component.LoadLibraries(DefaultLibraryFolder())) {
        std::fprintf(stderr, "zembra-cli: %s\n", Component.LastError().c_str());
        return kExitFailed;
    }
    try {
        GetLogger().SetLogLevelByName(O.Quiet ? "quiet" : O.LogLevel);
    } catch (const std::exception&) {
        return UsageError("invalid log level '" + O.LogLevel + "'");
    }
    if (const std::string Error = CheckWithLibraries(O); !Error.empty()) return UsageError(Error);
    if (O.Version || O.ListFormats) {
        if (O.Version) std::fputs(VersionText().c_str(), stdout);
        if (O.ListFormats) std::fputs(SoundFormatList().c_str(), stdout);
        return kExitOk;
    }
    std::u16string OutputDir;
    if (!O.OutputDir.empty()) {
        OutputDir = ExpandFileNameW(Utf8ToUtf16(O.OutputDir));
        // Checked before any task starts: nothing could be written.
        if (!DirectoryExistsW(OutputDir))
            return UsageError((FileExistsW(OutputDir) ? "not a folder: " : "no such folder: ") +
                              ReadableText(O.OutputDir));
        OutputDir = IncludeTrailingPathDelimiterW(OutputDir);
    }
    TCliOptions Options = O;
    if (Options.ReplayGain && !KeepsReplayGain(O.Format)) {
        // Said once for the batch; the sound is not measured for nothing.
        if (!O.Quiet)
            std::fprintf(stderr, "zembra-cli: warning: %s files keep no ReplayGain tags: none are written\n",
                         ReadableText(O.Format).c_str());
        Options.ReplayGain.reset();
    }

    const bool Live = ::isatty(STDERR_FILENO) == 1;
    TProgressDisplay Display(!O.Quiet, Live);
    if (!O.Quiet) {
        const TLogLevel Threshold = GetLogger().LogLevel();
        GetLogger().SetOnLog(
            [&Display, Threshold](void*, uint32_t, TLogLevel Level, const std::string& Message) {
                // Failures of a task are logged at the lowest level and reported with the task; the
                // logger lets verbose lines through whatever its level, the user's level does not.
                if (Level == llQuiet || Level > Threshold) return;
                Display.Print(stderr, Message);
            });
    }
    InstallStopSignals(EndAtOnce);
    TOutputRecords Outputs;
    std::vector<std::string> Notes;
    const TWalkResult Inputs = CollectInputs(O.Files, O, Outputs, Notes);
    for (const std::string& Warning : Inputs.Warnings) Display.Print(stderr, "zembra-cli: " + Warning);
    if (!O.Quiet)
        for (const std::string& Note : Notes) Display.Print(stderr, "zembra-cli: " + Note);
    if (O.Info) return PrintInfos(Component, Inputs);
    TBatch Batch(Component, Options, OutputDir, Display, Outputs, Inputs);
    return Batch.Run();
}

}  // namespace

int main(int argc, char** argv) {
    // A music library is thousands of files; the session's default limit is far lower.
    zembra::RaiseOpenFileLimit();
    std::vector<std::string> Arguments(argv + 1, argv + argc);
    zembra::cli::TCliOptions Options;
    std::string Error;
    if (!zembra::cli::ParseCommandLine(Arguments, Options, Error)) return UsageError(Error);
    if (Options.Help || Options.ListEngineOptions) {
        std::fputs((Options.Help ? zembra::cli::UsageText() : zembra::cli::EngineOptionList()).c_str(),
                   stdout);
        return kExitOk;
    }
    return Run(Options);
}
