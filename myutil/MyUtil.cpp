#include "myutil/MyUtil.h"

#include <cstdlib>
#include <cstring>

#define ZEMBRA_EXPORT __attribute__((visibility("default")))

extern "C" {

ZEMBRA_EXPORT FILE* my_fopen(const char* FileName, const char* Mode) {
    return std::fopen(FileName, Mode);
}
ZEMBRA_EXPORT int my_fclose(FILE* Stream) {
    return std::fclose(Stream);
}
ZEMBRA_EXPORT size_t my_fread(void* Buffer, size_t Size, size_t Count, FILE* Stream) {
    return std::fread(Buffer, Size, Count, Stream);
}
ZEMBRA_EXPORT size_t my_fwrite(const void* Buffer, size_t Size, size_t Count, FILE* Stream) {
    return std::fwrite(Buffer, Size, Count, Stream);
}
ZEMBRA_EXPORT int my_fseek(FILE* Stream, long Offset, int Whence) {
    return std::fseek(Stream, Offset, Whence);
}
ZEMBRA_EXPORT long my_ftell(FILE* Stream) {
    return std::ftell(Stream);
}

ZEMBRA_EXPORT int my_fprintf(FILE* Stream, const char* Format, ...) {
    va_list Args;
    va_start(Args, Format);
    const int N = std::vfprintf(Stream, Format, Args);
    va_end(Args);
    return N;
}

ZEMBRA_EXPORT int my_snprintf(char* Buffer, size_t Size, const char* Format, ...) {
    va_list Args;
    va_start(Args, Format);
    const int N = std::vsnprintf(Buffer, Size, Format, Args);
    va_end(Args);
    return N;
}

ZEMBRA_EXPORT int my_vsprintf(char* Buffer, const char* Format, va_list Args) {
    return std::vsprintf(Buffer, Format, Args);
}

ZEMBRA_EXPORT double my_strtod(const char* Text, char** End) {
    return std::strtod(Text, End);
}
ZEMBRA_EXPORT long my_strtol(const char* Text, char** End, int Base) {
    return std::strtol(Text, End, Base);
}
// strtok keeps its position per thread in glibc only through strtok_r; one position per thread
// keeps two engines on different threads from cutting each other's text.
ZEMBRA_EXPORT char* my_strtok(char* Text, const char* Delimiters) {
    static thread_local char* Save = nullptr;
    return strtok_r(Text, Delimiters, &Save);
}
}
