#pragma once

// Video hook modules: shared objects that are handed every decoded picture and may change it in
// place. Each engine owns one chain of hook entries, built while its options are read, run on its
// worker thread and released after the run. The calling contract of a module is in
// hooks/HookApi.h, which the modules include without the engine.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hooks/HookApi.h"

namespace zembra {

// One configured use of a module. The first five fields are the classic entry layout; the
// argument strings are kept with the entry because a module may hold on to the pointers it was
// given in Configure until its Release.
struct TFrameHookEntry {
    TFrameHookEntry* Next = nullptr;
    TZembraHookConfigure Configure = nullptr;
    TZembraHookProcess Process = nullptr;
    TZembraHookRelease Release = nullptr;
    void* Context = nullptr;

    std::vector<std::string> Arguments;
    std::array<char*, ZEMBRA_HOOK_MAX_ARGS> ArgVector{};
};

// The chain an engine owns. Destroying it releases every entry, so a chain cannot leak a
// module's context whichever way the run ends.
class TFrameHookChain {
  public:
    TFrameHookChain() = default;
    TFrameHookChain(const TFrameHookChain&) = delete;
    TFrameHookChain& operator=(const TFrameHookChain&) = delete;
    TFrameHookChain(TFrameHookChain&& Other) noexcept : FHead(Other.FHead) { Other.FHead = nullptr; }
    TFrameHookChain& operator=(TFrameHookChain&& Other) noexcept;
    ~TFrameHookChain();

    bool Empty() const { return FHead == nullptr; }
    int Count() const;
    const TFrameHookEntry* Head() const { return FHead; }

  private:
    friend int AddFrameHook(TFrameHookChain&, int, char* const*);
    friend void ReleaseFrameHooks(TFrameHookChain&);
    TFrameHookEntry* FHead = nullptr;
};

// Result codes of AddFrameHook.
constexpr int kFrameHookOk = 0;
constexpr int kFrameHookNotLoadable = -1;   // the module could not be loaded
constexpr int kFrameHookNoEntryPoint = -2;  // missing entry point, or an empty vector
constexpr int kFrameHookNoMemory = -12;     // the entry could not be allocated
constexpr int kFrameHookInvalid = -22;      // Configure failed, or more than 64 arguments

// Loads the module named by ArgVector[0] (once per process), configures a new entry with the
// whole vector and appends it to the chain. While the module loads and configures, the current
// folder is the module's own, so a module finds files named relative to itself. Failures are
// logged through the media library's log at its error level. Safe to call from several threads.
int AddFrameHook(TFrameHookChain& Chain, int ArgCount, char* const* ArgVector);
// The same with the vector as strings (ArgVector[0] the module path).
int AddFrameHook(TFrameHookChain& Chain, const std::vector<std::string>& Arguments);

// Runs Process of every entry, from the head in order, on one picture (PTS in microseconds).
void ProcessFrameHooks(TFrameHookChain& Chain, uint8_t* Data[4], int Linesize[4], int PixelFormat, int Width,
                       int Height, int64_t PTS);

// Calls Release of every entry in order and frees the entries; the chain is empty afterwards.
void ReleaseFrameHooks(TFrameHookChain& Chain);

// The vhook option text as an argument vector: split by "|" when the text holds one, otherwise
// by blanks; runs of separators count as one; at most 64 tokens.
std::vector<std::string> SplitHookOptionText(const std::string& Text);

// How many modules the process has loaded for hooks (they stay loaded until it ends).
int FrameHookModuleCount();

}  // namespace zembra
