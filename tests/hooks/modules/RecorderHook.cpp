// A hook module for the loader's tests: it writes down every call it gets, so the tests can see
// the order of the calls, the arguments and the current folder at configure time.

#include <unistd.h>

#include <mutex>
#include <string>

#include "hooks/HookApi.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Entries of several chains may be released from several threads at once.
std::mutex Lock;
std::string Trace;
std::string Copy;
int NextId = 0;

void Note(const std::string& Text) {
    std::lock_guard<std::mutex> G(Lock);
    if (!Trace.empty()) Trace += ';';
    Trace += Text;
}

}  // namespace

EXPORT const char* RecorderTrace() {
    std::lock_guard<std::mutex> G(Lock);
    Copy = Trace;
    return Copy.c_str();
}
EXPORT void RecorderReset() {
    std::lock_guard<std::mutex> G(Lock);
    Trace.clear();
    NextId = 0;
}

EXPORT int Configure(void** Context, int ArgCount, char* ArgVector[], int HighIndex) {
    int Id;
    {
        std::lock_guard<std::mutex> G(Lock);
        Id = ++NextId;
    }
    char Folder[4096] = "";
    if (!getcwd(Folder, sizeof Folder)) Folder[0] = '\0';
    std::string Text = "configure " + std::to_string(Id) + " count=" + std::to_string(ArgCount) +
                       " high=" + std::to_string(HighIndex) + " cwd=" + Folder + " args=";
    bool Fail = false;
    for (int I = 1; I < ArgCount; ++I) {
        Text += std::string(I > 1 ? "," : "") + "[" + ArgVector[I] + "]";
        if (std::string(ArgVector[I]) == "fail") Fail = true;
    }
    // The vector is padded with null entries up to its highest index.
    bool Padded = true;
    for (int I = ArgCount; I <= HighIndex; ++I) Padded = Padded && ArgVector[I] == nullptr;
    Text += Padded ? " padded" : " unpadded";
    Note(Text);
    if (Fail) return 5;
    *Context = new int(Id);
    return 0;
}

EXPORT void Process(void* Context, TZembraHookPicture* Picture, int PixelFormat, int Width, int Height,
                    int64_t PTS) {
    const int Id = *static_cast<int*>(Context);
    Note("process " + std::to_string(Id) + " fmt=" + std::to_string(PixelFormat) + " " +
         std::to_string(Width) + "x" + std::to_string(Height) + " pts=" + std::to_string(PTS));
    Picture->data[0][0] = static_cast<uint8_t>(Picture->data[0][0] * 10 + Id);
    // A careless module may scribble over the plane table it was given; the next one must
    // still get the real planes.
    Picture->data[0] = nullptr;
    Picture->linesize[0] = -1;
}

EXPORT void Release(void* Context) {
    int* Id = static_cast<int*>(Context);
    Note("release " + std::to_string(*Id));
    delete Id;
}
