#pragma once

// The support library's exports: the C library's formatting, string and file functions under
// my_ names, same arguments and results.

#include <cstdarg>
#include <cstdio>

extern "C" {
FILE* my_fopen(const char* FileName, const char* Mode);
int my_fclose(FILE* Stream);
size_t my_fread(void* Buffer, size_t Size, size_t Count, FILE* Stream);
size_t my_fwrite(const void* Buffer, size_t Size, size_t Count, FILE* Stream);
int my_fseek(FILE* Stream, long Offset, int Whence);
long my_ftell(FILE* Stream);
int my_fprintf(FILE* Stream, const char* Format, ...);
int my_snprintf(char* Buffer, size_t Size, const char* Format, ...);
int my_vsprintf(char* Buffer, const char* Format, va_list Args);
double my_strtod(const char* Text, char** End);
long my_strtol(const char* Text, char** End, int Base);
char* my_strtok(char* Text, const char* Delimiters);
}
