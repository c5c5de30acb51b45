#include "component/FFmpegList.h"

#include <mutex>

#include "util/MainThread.h"

namespace zembra {

void EnterPumping(TCriticalSection& Lock) {
    if (Lock.TryEnter()) return;
    if (!IsMainThread()) {
        Lock.Enter();
        return;
    }
    WaitInMainThread([&Lock] { return Lock.TryEnter(); });
}

namespace {

std::atomic<TTaskId> gNextTaskId{1};

}  // namespace

TTaskFFmpeg::TTaskFFmpeg() : FId(gNextTaskId++), FProbe(std::make_unique<TAVProbe>()) {}

TTaskFFmpeg::~TTaskFFmpeg() {
    // The probe borrows the engine's input, which the engine's own destructor closes.
    FProbe->Close();
}

void TTaskFFmpeg::ReopenFiles() {
    if (!FReopen) {
        TFFmpeg::ReopenFiles();
        return;
    }
    FReopen(*this);
}

void TTaskFFmpeg::StopAndWait() {
    Stop(true);
    WaitForActiveThreads();
}

TFFmpegList::~TFFmpegList() {
    Clear();
}

TTaskFFmpeg* TFFmpegList::Items(int32_t Index) {
    std::lock_guard<TCriticalSection> G(FLock);
    if (Index < 0 || static_cast<size_t>(Index) >= FList.size()) return nullptr;
    return FList[static_cast<size_t>(Index)].get();
}

int32_t TFFmpegList::IndexOf(TTaskId Id) {
    std::lock_guard<TCriticalSection> G(FLock);
    for (size_t I = 0; I < FList.size(); ++I)
        if (FList[I]->Id() == Id) return static_cast<int32_t>(I);
    return -1;
}

int32_t TFFmpegList::Add(TTaskPtr Engine) {
    std::lock_guard<TCriticalSection> G(FLock);
    const int32_t Index = static_cast<int32_t>(FList.size());
    Engine->SetIndex(Index);
    FList.push_back(std::move(Engine));
    FCount = static_cast<int32_t>(FList.size());
    return Index;
}

void TFFmpegList::Renumber(size_t From) {
    for (size_t I = From; I < FList.size(); ++I) FList[I]->SetIndex(static_cast<int32_t>(I));
}

TTaskPtr TFFmpegList::Extract(int32_t Index) {
    std::lock_guard<TCriticalSection> G(FLock);
    if (Index < 0 || static_cast<size_t>(Index) >= FList.size()) return nullptr;
    TTaskPtr Engine = std::move(FList[static_cast<size_t>(Index)]);
    FList.erase(FList.begin() + Index);
    Renumber(static_cast<size_t>(Index));
    FCount = static_cast<int32_t>(FList.size());
    return Engine;
}

std::vector<TTaskPtr> TFFmpegList::ExtractAll() {
    std::lock_guard<TCriticalSection> G(FLock);
    std::vector<TTaskPtr> All = std::move(FList);
    FList.clear();
    FCount = 0;
    return All;
}

namespace {

// The conversion ends before the engine goes, so that it never runs on a half-destroyed engine.
void Free(TTaskPtr& Engine) {
    if (!Engine) return;
    Engine->StopAndWait();
    Engine.reset();
}

}  // namespace

void TFFmpegList::Delete(int32_t Index) {
    TTaskPtr Engine = Extract(Index);
    Free(Engine);
}

void TFFmpegList::Clear() {
    for (TTaskPtr& Engine : ExtractAll()) Free(Engine);
}

void TFFmpegList::StopAll(bool Wait) {
    std::lock_guard<TCriticalSection> G(FLock);
    for (TTaskPtr& Engine : FList) Engine->StopOrNotify(Wait);
}

void TFFmpegList::PauseAll() {
    std::lock_guard<TCriticalSection> G(FLock);
    for (TTaskPtr& Engine : FList) Engine->Pause();
}

void TFFmpegList::ResumeAll() {
    std::lock_guard<TCriticalSection> G(FLock);
    for (TTaskPtr& Engine : FList) Engine->Resume();
}

void TFFmpegList::SetPreviewBit(uint8_t Bit, bool On) {
    std::lock_guard<TCriticalSection> G(FLock);
    // A worker delivering a preview holds the preview lock while it waits for the main thread.
    EnterPumping(PreviewLock());
    std::lock_guard<TCriticalSection> P(PreviewLock(), std::adopt_lock);
    for (TTaskPtr& Engine : FList) {
        const uint8_t Flags = Engine->PreviewFlags();
        Engine->SetPreviewFlags(static_cast<uint8_t>(On ? (Flags | Bit) : (Flags & ~Bit)));
    }
}

void TFFmpegList::SetPreviewAll(bool On) {
    SetPreviewBit(1, On);
}

void TFFmpegList::SetPreviewBitmapAll(bool On) {
    SetPreviewBit(2, On);
}

std::vector<TTaskPtr>& TFFmpegList::LockList() {
    FLock.Enter();
    return FList;
}

void TFFmpegList::UnlockList() {
    FLock.Leave();
}

}  // namespace zembra
