// A support library with every export but my_strtok, so that loading it must fail.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT FILE* my_fopen(const char* F, const char* M) {
    return std::fopen(F, M);
}
EXPORT int my_fclose(FILE* S) {
    return std::fclose(S);
}
EXPORT size_t my_fread(void* B, size_t S, size_t C, FILE* F) {
    return std::fread(B, S, C, F);
}
EXPORT size_t my_fwrite(const void* B, size_t S, size_t C, FILE* F) {
    return std::fwrite(B, S, C, F);
}
EXPORT int my_fseek(FILE* S, long O, int W) {
    return std::fseek(S, O, W);
}
EXPORT long my_ftell(FILE* S) {
    return std::ftell(S);
}
EXPORT int my_fprintf(FILE* S, const char* F, ...) {
    va_list A;
    va_start(A, F);
    const int N = std::vfprintf(S, F, A);
    va_end(A);
    return N;
}
EXPORT int my_snprintf(char* B, size_t S, const char* F, ...) {
    va_list A;
    va_start(A, F);
    const int N = std::vsnprintf(B, S, F, A);
    va_end(A);
    return N;
}
EXPORT int my_vsprintf(char* B, const char* F, va_list A) {
    return std::vsprintf(B, F, A);
}
EXPORT double my_strtod(const char* T, char** E) {
    return std::strtod(T, E);
}
EXPORT long my_strtol(const char* T, char** E, int B) {
    return std::strtol(T, E, B);
}
