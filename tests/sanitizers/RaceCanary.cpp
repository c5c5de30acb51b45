// A program with races of its own, built only by the ThreadSanitizer build and never part of the
// suite: scripts/sanitize runs it with the suppressions of the real runs and fails when the
// sanitizer stays quiet, so that a suppression broad enough to hide our own races is caught.
#include <cstdlib>
#include <cstring>
#include <thread>

namespace zembra {
namespace {

// A counter bumped from two threads without a lock: the plainest race of ours.
int SharedCounter = 0;

void BumpCounter() {
    for (int I = 0; I < 1000; ++I) SharedCounter = SharedCounter + 1;
}

// One thread fills a picture-sized buffer with memset while another copies it out with memcpy:
// the shape of the reports the libraries' own hand-offs gave, but both sides are ours.
void FillPicture(unsigned char* Picture, size_t Size) {
    std::memset(Picture, 0x80, Size);
}

void CopyPicture(const unsigned char* Picture, unsigned char* Copy, size_t Size) {
    std::memcpy(Copy, Picture, Size);
}

}  // namespace
}  // namespace zembra

int main() {
    using namespace zembra;
    std::thread A(BumpCounter), B(BumpCounter);
    A.join();
    B.join();

    constexpr size_t Size = 64 * 64 * 3;
    auto* Picture = static_cast<unsigned char*>(std::malloc(Size));
    auto* Copy = static_cast<unsigned char*>(std::calloc(Size, 1));
    if (!Picture || !Copy) return 1;
    std::thread Writer(FillPicture, Picture, Size), Reader(CopyPicture, Picture, Copy, Size);
    Writer.join();
    Reader.join();
    // Read both results, so that neither the counter nor the copy is optimised away.
    const int Result = SharedCounter > 0 && Copy[0] <= 0x80 ? 0 : 2;
    std::free(Picture);
    std::free(Copy);
    return Result;
}
