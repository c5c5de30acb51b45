// zembra-cli: the headless batch converter on top of the task manager.

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "app/OptionBuilder.h"
#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "cli/CliOptions.h"
#include "cli/ProgressDisplay.h"
#include "component/RUvivoVOV.h"
#include "engine/OptionValues.h"
#include "logging/FFmpegLogger.h"
#include "util/MainThread.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace {

using namespace zembra;
using namespace zembra::cli;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::atomic<bool> gInterrupted{false};

extern "C" void OnInterrupt(int) {
    gInterrupted.store(true);
}

void InstallInterruptHandler() {
    struct sigaction Action {};
    Action.sa_handler = OnInterrupt;
    sigemptyset(&Action.sa_mask);
    // A second Ctrl+C ends the program at once.
    Action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);
}

int UsageError(const std::string& Message) {
    std::fprintf(stderr, "zembra-cli: %s\nTry 'zembra-cli --help'.\n", Message.c_str());
    return kExitUsage;
}

struct TTaskEntry {
    std::string Input;  // as given on the command line
    std::string Name;   // shown beside its progress
    std::u16string Output;
};

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

TOptionChoices ChoicesFrom(const TCliOptions& O, const std::u16string& OutputDir) {
    TOptionChoices C;
    C.Format = O.Format;
    for (const char* Item : kOutputFormats)
        if (SameText(Item, O.Format)) C.Format = Item;
    if (O.Rate) C.AudioSampleRate = std::to_string(*O.Rate);
    if (O.Channels) C.AudioChannels = *O.Channels;
    if (O.Volume) {
        C.AdjustVolume = true;
        C.AudioVolume = std::to_string(*O.Volume);
    }
    if (O.Bitrate) {
        C.AudioBitRateChecked = true;
        C.AudioBitRate = std::to_string(*O.Bitrate);
    }
    if (O.Cut) {
        C.CutClip = true;
        C.CutStartMs = std::llround(O.CutStart * 1000.0);
        C.CutEndMs = std::llround(O.CutEnd * 1000.0);
    }
    C.Overwrite = O.Overwrite;
    if (!OutputDir.empty()) C.OutPath = OutputDir;
    return C;
}

// The record's own fields are applied after the option lines and would undo a line that sets
// the same thing; such lines go into the fields instead.
void ApplyOutputLines(const std::vector<std::string>& Lines, TOutputOptions& Out) {
    for (const std::string& Line : Lines) {
        std::string Value = Line;
        const std::string Name = SplitFirst(Value, "=", true);
        if (Name == "an")
            Out.DisableAudio = FlagValue(Value);
        else if (Name == "vn")
            Out.DisableVideo = FlagValue(Value);
        else if (Name == "sn")
            Out.DisableSubtitle = FlagValue(Value);
        else if (Name == "copyts")
            Out.CopyTimestamp = FlagValue(Value);
        else if (Name == "alang")
            Out.AudioLanguage = Value;
        else if (Name == "slang")
            Out.SubtitleLanguage = Value;
        else if (Name == "async")
            Out.AudioSync = StrToIntDef(Value, Out.AudioSync);
        else if (Name == "vsync")
            Out.VideoSync = StrToIntDef(Value, Out.VideoSync);
        else if (Name == "acodec")
            Out.AudioCodec = Value;
        else if (Name == "vcodec")
            Out.VideoCodec = Value;
        else if (Name == "vtag")
            Out.VideoTag = Value;
        else if (Name == "vfilters")
            Out.VideoFilters = Value;
        Out.OptionLines += (Out.OptionLines.empty() ? "" : "\r\n") + Line;
    }
}

int PrintInfo(TRUvivoVOV& Component, const std::vector<std::string>& Files) {
    int Failed = 0;
    bool First = true;
    for (const std::string& File : Files) {
        TAVProbe& Probe = Component.Probe();
        if (!Probe.LoadFile(ExpandFileNameW(Utf8ToUtf16(File)))) {
            std::fprintf(stderr, "zembra-cli: %s: %s\n", File.c_str(), Probe.LastError().c_str());
            ++Failed;
            continue;
        }
        std::string Text = NormaliseLineEnds(Probe.GetFileInfoText());
        if (!Text.empty() && Text.back() != '\n') Text += '\n';
        std::printf("%s%s", First ? "" : "\n", Text.c_str());
        std::fflush(stdout);
        First = false;
        Probe.Close();
    }
    return Failed ? kExitFailed : kExitOk;
}

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
    if (!IsDialogFormat(O.Format) &&
        !lavf.av_guess_format(nullptr, ("x." + LowerCase(O.Format)).c_str(), nullptr))
        return UsageError("unknown output format '" + O.Format + "'");
    std::u16string OutputDir;
    if (!O.OutputDir.empty()) {
        OutputDir = ExpandFileNameW(Utf8ToUtf16(O.OutputDir));
        // A folder that is not there fails the run, as a missing input does; the command line
        // itself was well formed.
        if (!DirectoryExistsW(OutputDir)) {
            std::fprintf(stderr, "zembra-cli: no such folder: %s\n", O.OutputDir.c_str());
            return kExitFailed;
        }
        OutputDir = IncludeTrailingPathDelimiterW(OutputDir);
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
    if (O.Info) {
        const int Status = PrintInfo(Component, O.Files);
        GetLogger().SetOnLog(nullptr);
        return Status;
    }

    InstallInterruptHandler();
    std::vector<TTaskEntry> Tasks;
    // Every input of the batch is taken before any output is named: an output is opened (and
    // emptied, with --overwrite) when its task is set up, before an earlier task read its input.
    std::set<std::u16string> Reserved;
    for (const std::string& File : O.Files) Reserved.insert(ExpandFileNameW(Utf8ToUtf16(File)));
    TBuildContext Context;
    Context.Reserved = [&Reserved](const std::u16string& Name) { return Reserved.count(Name) > 0; };
    std::atomic<int> Failed{0};
    for (const std::string& File : O.Files) {
        if (gInterrupted) break;
        const std::u16string Input = ExpandFileNameW(Utf8ToUtf16(File));
        const TSourceInfo Source = Inspect(Component.Probe(), Input);
        TOptionChoices Choices = ChoicesFrom(O, OutputDir);
        TOutputOptions Out = BuildOutputOptions(Choices, Source, Context);
        TInputOptions In = BuildInputOptions(Choices, Source);
        for (const std::string& Line : O.InputOptions)
            In.OptionLines += (In.OptionLines.empty() ? "" : "\r\n") + Line;
        ApplyOutputLines(O.OutputOptions, Out);

        const int32_t Index = Component.NewTask(Input, &In);
        if (Index < 0) {
            Display.Print(stderr, "zembra-cli: " + File + ": " + Component.LastError());
            ++Failed;
            continue;
        }
        if (!Component.SetTaskOutput(Index, Out.FileName, &Out)) {
            Display.Print(stderr, "zembra-cli: " + File + ": " + Component.LastError());
            Component.DeleteTask(Index);
            ++Failed;
            continue;
        }
        Reserved.insert(Out.FileName);
        Tasks.push_back({File, Utf16ToUtf8(ExtractFileNameW(Input)), Out.FileName});
    }

    std::atomic<bool> Done{false};
    std::atomic<bool> Stopping{false};
    // Ctrl+C: stop with waiting, so that what was written so far is a valid file.
    auto CheckInterrupt = [&] {
        if (!gInterrupted || !IsMainThread() || Stopping.exchange(true)) return;
        Display.Print(stderr, "zembra-cli: stopping");
        Component.StopTasks(true);
    };
    Component.SetOnProgress([&](int32_t AIndex, int32_t, int32_t AFPS, int32_t ACurrentDuration, float, float,
                                int64_t ACurrentSize, int32_t ATotalOutputDuration) {
        if (AIndex >= 0 && static_cast<size_t>(AIndex) < Tasks.size())
            Display.Update(AIndex, Tasks[AIndex].Name,
                           {AFPS, ACurrentDuration, ACurrentSize, ATotalOutputDuration});
        CheckInterrupt();
    });
    Component.SetOnTerminate([&](int32_t AIndex, bool AFinished, bool AException,
                                 const std::string& AMessage) {
        if (AIndex < 0) {
            Done = true;
            NotifyMainThread();
            return;
        }
        if (static_cast<size_t>(AIndex) >= Tasks.size()) return;
        const TTaskEntry& Task = Tasks[AIndex];
        Display.Remove(AIndex);
        if (AFinished && !AException) {
            Display.Print(stdout, Utf16ToUtf8(Task.Output));
        } else {
            ++Failed;
            Display.Print(stderr, "zembra-cli: " + Task.Input + ": " + (AException ? AMessage : "stopped"));
        }
        CheckInterrupt();
    });

    if (!Tasks.empty() && !gInterrupted) {
        Component.SetProgressInterval(250);
        Component.StartTasks(O.Threads);
        while (!Done) {
            WaitInMainThread([&] { return Done.load() || (gInterrupted.load() && !Stopping.load()); });
            CheckInterrupt();
        }
        Component.WaitForEventThreads();
    }
    PumpMainThreadQueue();  // lines the codecs' own threads posted last
    Component.SetOnProgress(nullptr);
    Component.SetOnTerminate(nullptr);
    // Outputs of tasks that never ran are still empty files: freeing the tasks removes them.
    Component.ClearTasks();
    GetLogger().SetOnLog(nullptr);
    return Failed > 0 || gInterrupted ? kExitFailed : kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> Arguments(argv + 1, argv + argc);
    zembra::cli::TCliOptions Options;
    std::string Error;
    if (!zembra::cli::ParseCommandLine(Arguments, Options, Error)) return UsageError(Error);
    if (Options.Help) {
        std::fputs(zembra::cli::UsageText(), stdout);
        return kExitOk;
    }
    return Run(Options);
}
