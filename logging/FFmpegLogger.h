#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace zembra {

enum TLogLevel { llQuiet, llPanic, llFatal, llError, llWarning, llInfo, llVerbose, llDebug };

// (ordinal - 1) * 8: the libraries' numeric scale.
int LogLevelToNumeric(TLogLevel Level);
// n / 8 (truncating) + 1, limited to llQuiet ... llDebug.
TLogLevel NumericToLogLevel(int Numeric);

using TLogEvent =
    std::function<void(void* Sender, uint32_t AThreadID, TLogLevel ALogLevel, const std::string& ALogMsg)>;

// Where the libraries' log output and the engine's messages meet. At most one per process;
// OnLog is always raised on the main thread, the logging thread waiting for the handler. Its
// lines are well-formed UTF-8: a byte that is not (of a file name, say) reads "\xFF".
class TFFLogger {
  public:
    TFFLogger();  // fails with "Allow creating only one instance of TFFLogger." for a second one
    ~TFFLogger();
    TFFLogger(const TFFLogger&) = delete;
    TFFLogger& operator=(const TFFLogger&) = delete;

    TLogLevel LogLevel() const { return FLogLevel.load(); }
    // Also moves the threshold for library output, but only while avutil is loaded.
    void SetLogLevel(TLogLevel Value);
    // A name of the level table (any case) or a decimal number on the libraries' scale.
    void SetLogLevelByName(const std::string& Name);

    void SetOnLog(TLogEvent Handler);
    TLogEvent OnLog() const;

    // Engine and probe messages, from any thread.
    void Log(void* Sender, TLogLevel Level, const std::string& Message);

    // Puts the library callback into avutil (which must be loaded).
    void InstallLibraryCallback();

    // The library callback itself, exposed for the tests that feed it directly.
    static void LibraryCallback(void* Context, int Level, const char* Fmt, va_list Args);

    // The numeric threshold for library output (32 at start).
    static int Threshold();

  private:
    void Deliver(void* Sender, uint32_t ThreadId, TLogLevel Level, const std::string& Message);

    std::atomic<TLogLevel> FLogLevel{llInfo};
    mutable std::mutex FHandlerLock;
    TLogEvent FOnLog;
};

// The process's logger; creates an ownerless one when there is none.
TFFLogger& GetLogger();
// The process's logger if one exists, else nullptr (never creates).
TFFLogger* CurrentLogger();

// Forgets the unfinished line ends of every thread (for tests).
void ResetLoggerLineTable();

}  // namespace zembra
