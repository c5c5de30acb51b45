#include "engine/PreviewWindow.h"

#include <mutex>

namespace zembra {

namespace {

std::mutex& FactoryLock() {
    static std::mutex Lock;
    return Lock;
}

TPreviewWindowFactory& Factory() {
    static TPreviewWindowFactory F;
    return F;
}

}  // namespace

void SetPreviewWindowFactory(TPreviewWindowFactory NewFactory) {
    std::lock_guard<std::mutex> G(FactoryLock());
    Factory() = std::move(NewFactory);
}

std::unique_ptr<IPreviewWindow> CreatePreviewWindow() {
    TPreviewWindowFactory F;
    {
        std::lock_guard<std::mutex> G(FactoryLock());
        F = Factory();
    }
    return F ? F() : nullptr;
}

}  // namespace zembra
