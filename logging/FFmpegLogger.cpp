#include "logging/FFmpegLogger.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "util/MainThread.h"
#include "util/Thread.h"
#include "util/StringUtils.h"
#include "util/Thread.h"

namespace zembra {

namespace {

constexpr size_t kLineBufferSize = 2048;

std::recursive_mutex& InstanceLock() {
    static std::recursive_mutex Lock;
    return Lock;
}
std::atomic<TFFLogger*> gInstance{nullptr};
std::unique_ptr<TFFLogger>& Ownerless() {
    static std::unique_ptr<TFFLogger> Logger;
    return Logger;
}

std::atomic<int> gThreshold{32};

// Per thread, the unfinished end of its last library output. Guarded, since codec threads
// and several engines log at once.
struct TLineTable {
    std::mutex Lock;
    std::map<uint32_t, std::string> Pending;
};
TLineTable& LineTable() {
    static TLineTable Table;
    return Table;
}

const char* ContextName(void* Context) {
    const AVClass* Class = *static_cast<const AVClass* const*>(Context);
    if (!Class) return "";
    if (Class->item_name) return Class->item_name(Context);
    return Class->class_name ? Class->class_name : "";
}

// The loader installs the callback each time avutil loads.
const bool kInstallerRegistered = [] {
    FFLoader().SetLogCallbackInstaller([] { GetLogger().InstallLibraryCallback(); });
    return true;
}();

}  // namespace

int LogLevelToNumeric(TLogLevel Level) {
    return (static_cast<int>(Level) - 1) * 8;
}

TLogLevel NumericToLogLevel(int Numeric) {
    int Ordinal = Numeric / 8 + 1;
    if (Ordinal < 0) Ordinal = 0;
    if (Ordinal > 7) Ordinal = 7;
    return static_cast<TLogLevel>(Ordinal);
}

TFFLogger::TFFLogger() {
    std::lock_guard<std::recursive_mutex> G(InstanceLock());
    if (gInstance.load()) throw std::logic_error("Allow creating only one instance of TFFLogger.");
    FLogLevel.store(NumericToLogLevel(gThreshold.load()));
    gInstance.store(this);
}

TFFLogger::~TFFLogger() {
    std::lock_guard<std::recursive_mutex> G(InstanceLock());
    if (gInstance.load() == this) gInstance.store(nullptr);
}

void TFFLogger::SetLogLevel(TLogLevel Value) {
    FLogLevel.store(Value);
    if (lavu.av_log_set_level) {
        gThreshold.store(LogLevelToNumeric(Value));
        lavu.av_log_set_level(gThreshold.load());
    }
}

void TFFLogger::SetLogLevelByName(const std::string& Name) {
    static const char* const kNames[] = {"quiet",   "panic", "fatal",   "error",
                                         "warning", "info",  "verbose", "debug"};
    for (int I = 0; I < 8; ++I) {
        if (SameText(Name, kNames[I])) {
            SetLogLevel(static_cast<TLogLevel>(I));
            return;
        }
    }
    const std::string Text = Trim(Name);
    char* End = nullptr;
    errno = 0;
    const long Value = std::strtol(Text.c_str(), &End, 10);
    if (Text.empty() || *End != '\0' || errno == ERANGE || Value < INT32_MIN || Value > INT32_MAX)
        throw std::invalid_argument("'" + Name + "' is not a valid integer value");
    SetLogLevel(NumericToLogLevel(static_cast<int>(Value)));
}

void TFFLogger::SetOnLog(TLogEvent Handler) {
    std::lock_guard<std::mutex> G(FHandlerLock);
    FOnLog = std::move(Handler);
}

TLogEvent TFFLogger::OnLog() const {
    std::lock_guard<std::mutex> G(FHandlerLock);
    return FOnLog;
}

void TFFLogger::Deliver(void* Sender, uint32_t ThreadId, TLogLevel Level, const std::string& Message) {
    TLogEvent Handler = OnLog();
    if (!Handler) return;
    // Each event carries its own values, so threads logging at once cannot mix them up.
    RunInMainThread([&] { Handler(Sender, ThreadId, Level, Message); });
}

void TFFLogger::Log(void* Sender, TLogLevel Level, const std::string& Message) {
    const TLogLevel Filter = LogLevel();
    if (Level <= Filter || (Level == llVerbose && Filter != llQuiet))
        Deliver(Sender, CurrentThreadId(), Level, ReadableText(Message));
}

void TFFLogger::InstallLibraryCallback() {
    if (!lavu.av_log_set_callback) throw std::logic_error("av_log_set_callback is not loaded");
    lavu.av_log_set_callback(&TFFLogger::LibraryCallback);
}

int TFFLogger::Threshold() {
    return gThreshold.load();
}

void TFFLogger::LibraryCallback(void* Context, int Level, const char* Fmt, va_list Args) {
    if (Level > gThreshold.load() || !Fmt) return;
    const uint32_t ThreadId = CurrentThreadId();
    std::vector<std::string> Lines;
    {
        TLineTable& Table = LineTable();
        std::lock_guard<std::mutex> G(Table.Lock);
        std::string& Pending = Table.Pending[ThreadId];
        char Buffer[kLineBufferSize] = {0};
        size_t Used = 0;
        if (Pending.empty() && Context) {
            const int N = std::snprintf(Buffer, kLineBufferSize, "[%s @ %p]", ContextName(Context), Context);
            Used = N < 0 ? 0 : std::min(static_cast<size_t>(N), kLineBufferSize - 1);
        } else if (!Pending.empty()) {
            Used = std::min(Pending.size(), kLineBufferSize - 1);
            Pending.copy(Buffer, Used);
        }
        // Whatever does not fit is cut at the end of the buffer.
        if (Used < kLineBufferSize - 1) {
            va_list Copy;
            va_copy(Copy, Args);
            std::vsnprintf(Buffer + Used, kLineBufferSize - Used, Fmt, Copy);
            va_end(Copy);
        }
        std::string Text(Buffer);
        while (Text.find('\n') != std::string::npos) Lines.push_back(SplitFirst(Text, "\n", true));
        // A full buffer without a line end is delivered as it is rather than held forever.
        if (Text.size() >= kLineBufferSize - 1) {
            Lines.push_back(Text);
            Text.clear();
        }
        // A thread that ends its lines leaves no entry behind: thread ids are reused.
        if (Text.empty())
            Table.Pending.erase(ThreadId);
        else
            Pending = Text;
    }
    if (Lines.empty()) return;
    // A file name that is not UTF-8 reaches the libraries' messages as its bytes.
    for (std::string& Line : Lines) Line = ReadableText(Line);
    TFFLogger& Logger = GetLogger();
    const TLogLevel LineLevel = NumericToLogLevel(Level);
    if (IsMainThread() || IsOwnThread()) {
        for (const std::string& Line : Lines) Logger.Deliver(&Logger, ThreadId, LineLevel, Line);
        return;
    }
    // A codec's own threads log too, and the main thread may be inside the library waiting for
    // such a thread (a conversion run on the main thread): their lines never wait for the main
    // thread. The logger and its handler are looked up when the line is delivered, since either
    // may be gone by then.
    for (std::string& Line : Lines)
        PostToMainThread([ThreadId, LineLevel, Line = std::move(Line)] {
            TFFLogger& Current = GetLogger();
            if (TLogEvent Handler = Current.OnLog()) Handler(&Current, ThreadId, LineLevel, Line);
        });
}

TFFLogger& GetLogger() {
    std::lock_guard<std::recursive_mutex> G(InstanceLock());
    if (TFFLogger* Logger = gInstance.load()) return *Logger;
    Ownerless() = std::make_unique<TFFLogger>();
    return *Ownerless();
}

TFFLogger* CurrentLogger() {
    return gInstance.load();
}

void ResetLoggerLineTable() {
    TLineTable& Table = LineTable();
    std::lock_guard<std::mutex> G(Table.Lock);
    Table.Pending.clear();
}

}  // namespace zembra
