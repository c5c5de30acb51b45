#include "util/StringUtils.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace zembra {

namespace {

template <typename Str, typename View>
Str SplitFirstImpl(Str& Source, View Separator, bool Remove) {
    const auto Pos = Separator.empty() ? Str::npos : Source.find(Separator);
    if (Pos == Str::npos) {
        Str Result = Source;
        if (Remove) Source.clear();
        return Result;
    }
    Str Result = Source.substr(0, Pos);
    if (Remove) Source.erase(0, Pos + Separator.size());
    return Result;
}

constexpr char32_t kReplacement = 0xFFFD;
// A byte of a name that is not UTF-8 travels as the lone trailing surrogate U+DC00 + byte (only
// bytes 0x80-0xFF can be such bytes), which no well-formed UTF-16 text holds.
constexpr char16_t kEscapeBase = 0xDC00;
constexpr char16_t kEscapeFirst = 0xDC80;
constexpr char16_t kEscapeLast = 0xDCFF;

// Decodes UTF-16 into code points; a lone surrogate stays as it is.
std::u32string DecodeUtf16(std::u16string_view Text) {
    std::u32string Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I) {
        const char16_t U = Text[I];
        if (U >= 0xD800 && U <= 0xDBFF && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 &&
            Text[I + 1] <= 0xDFFF) {
            Out.push_back(0x10000 + ((char32_t(U) - 0xD800) << 10) + (char32_t(Text[I + 1]) - 0xDC00));
            ++I;
        } else {
            Out.push_back(U);
        }
    }
    return Out;
}

void AppendUtf16(std::u16string& Out, char32_t C) {
    if (C >= 0x10000 && C <= 0x10FFFF) {
        C -= 0x10000;
        Out.push_back(char16_t(0xD800 + (C >> 10)));
        Out.push_back(char16_t(0xDC00 + (C & 0x3FF)));
    } else if (C > 0x10FFFF || (C >= 0xD800 && C <= 0xDFFF)) {
        Out.push_back(char16_t(kReplacement));
    } else {
        Out.push_back(char16_t(C));
    }
}

void AppendUtf8(std::string& Out, char32_t C) {
    if (C < 0x80) {
        Out.push_back(char(C));
    } else if (C < 0x800) {
        Out.push_back(char(0xC0 | (C >> 6)));
        Out.push_back(char(0x80 | (C & 0x3F)));
    } else if (C < 0x10000) {
        Out.push_back(char(0xE0 | (C >> 12)));
        Out.push_back(char(0x80 | ((C >> 6) & 0x3F)));
        Out.push_back(char(0x80 | (C & 0x3F)));
    } else {
        Out.push_back(char(0xF0 | (C >> 18)));
        Out.push_back(char(0x80 | ((C >> 12) & 0x3F)));
        Out.push_back(char(0x80 | ((C >> 6) & 0x3F)));
        Out.push_back(char(0x80 | (C & 0x3F)));
    }
}

// The length of the well-formed UTF-8 sequence at Text[I] with its code point, or 0. Overlong
// forms, encoded surrogates and values beyond U+10FFFF are not well formed: each of their bytes
// must be escaped on its own, or the escapes of a name would not give its bytes back.
size_t DecodeUtf8At(std::string_view Text, size_t I, char32_t& C) {
    const unsigned char B = static_cast<unsigned char>(Text[I]);
    size_t Len = 0;
    if (B < 0x80) {
        C = B;
        return 1;
    }
    if ((B & 0xE0) == 0xC0) {
        Len = 2;
        C = B & 0x1F;
    } else if ((B & 0xF0) == 0xE0) {
        Len = 3;
        C = B & 0x0F;
    } else if ((B & 0xF8) == 0xF0) {
        Len = 4;
        C = B & 0x07;
    } else {
        return 0;
    }
    if (I + Len > Text.size()) return 0;
    for (size_t K = 1; K < Len; ++K) {
        const unsigned char Cont = static_cast<unsigned char>(Text[I + K]);
        if ((Cont & 0xC0) != 0x80) return 0;
        C = (C << 6) | (Cont & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (C < kMin[Len] || (C >= 0xD800 && C <= 0xDFFF) || C > 0x10FFFF) return 0;
    return Len;
}

// Converts with the locale; Lossy replaces what the locale cannot hold.
std::optional<std::string> WideToLocaleImpl(std::u16string_view Text, bool Lossy) {
    std::string Out;
    std::mbstate_t State{};
    char Buf[MB_LEN_MAX];
    for (char32_t C : DecodeUtf16(Text)) {
        const bool Surrogate = C >= 0xD800 && C <= 0xDFFF;
        const size_t N =
            Surrogate ? static_cast<size_t>(-1) : std::wcrtomb(Buf, static_cast<wchar_t>(C), &State);
        if (N == static_cast<size_t>(-1) || C == kReplacement) {
            if (!Lossy) return std::nullopt;
            State = std::mbstate_t{};
            // A name's byte that is not UTF-8 says which byte it is, as in ReadableText.
            if (C >= kEscapeFirst && C <= kEscapeLast)
                Out += Format("\\x%02X", static_cast<unsigned>(C - kEscapeBase));
            else
                Out.push_back('?');
            continue;
        }
        Out.append(Buf, N);
    }
    return Out;
}

std::optional<std::u16string> LocaleToWideImpl(std::string_view Text, bool Lossy) {
    std::u16string Out;
    std::mbstate_t State{};
    size_t I = 0;
    while (I < Text.size()) {
        wchar_t W = 0;
        const size_t N = std::mbrtowc(&W, Text.data() + I, Text.size() - I, &State);
        if (N == static_cast<size_t>(-1) || N == static_cast<size_t>(-2)) {
            if (!Lossy) return std::nullopt;
            State = std::mbstate_t{};
            Out.push_back(u'?');
            ++I;
            continue;
        }
        if (N == 0) {  // an embedded zero byte
            Out.push_back(0);
            ++I;
            continue;
        }
        AppendUtf16(Out, static_cast<char32_t>(W));
        I += N;
    }
    return Out;
}

}  // namespace

std::string SplitFirst(std::string& Source, std::string_view Separator, bool Remove) {
    return SplitFirstImpl<std::string, std::string_view>(Source, Separator, Remove);
}

std::u16string SplitFirst(std::u16string& Source, std::u16string_view Separator, bool Remove) {
    return SplitFirstImpl<std::u16string, std::u16string_view>(Source, Separator, Remove);
}

bool IsPrintableChar(unsigned char C) {
    return C >= 32 && C <= 126;
}

std::string Utf16ToUtf8(std::u16string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I) {
        const char16_t U = Text[I];
        if (U >= 0xD800 && U <= 0xDBFF && I + 1 < Text.size() && Text[I + 1] >= 0xDC00 &&
            Text[I + 1] <= 0xDFFF) {
            AppendUtf8(Out, 0x10000 + ((char32_t(U) - 0xD800) << 10) + (char32_t(Text[I + 1]) - 0xDC00));
            ++I;
        } else if (U >= kEscapeFirst && U <= kEscapeLast) {
            Out.push_back(static_cast<char>(U - kEscapeBase));
        } else if (U >= 0xD800 && U <= 0xDFFF) {
            AppendUtf8(Out, kReplacement);
        } else {
            AppendUtf8(Out, U);
        }
    }
    return Out;
}

std::u16string Utf8ToUtf16(std::string_view Text) {
    std::u16string Out;
    Out.reserve(Text.size());
    size_t I = 0;
    while (I < Text.size()) {
        char32_t C = 0;
        const size_t Len = DecodeUtf8At(Text, I, C);
        if (Len == 0) {
            Out.push_back(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(Text[I])));
            ++I;
            continue;
        }
        AppendUtf16(Out, C);
        I += Len;
    }
    return Out;
}

std::string ReadableText(std::string_view Bytes) {
    std::string Out;
    Out.reserve(Bytes.size());
    size_t I = 0;
    while (I < Bytes.size()) {
        char32_t C = 0;
        const size_t Len = DecodeUtf8At(Bytes, I, C);
        if (Len == 0) {
            Out += Format("\\x%02X", static_cast<unsigned>(static_cast<unsigned char>(Bytes[I])));
            ++I;
            continue;
        }
        Out.append(Bytes.substr(I, Len));
        I += Len;
    }
    return Out;
}

std::string ReadableText(std::u16string_view Text) {
    return ReadableText(Utf16ToUtf8(Text));
}

std::optional<std::string> WideToLocale(std::u16string_view Text) {
    return WideToLocaleImpl(Text, false);
}
std::optional<std::u16string> LocaleToWide(std::string_view Text) {
    return LocaleToWideImpl(Text, false);
}
std::string WideToLocaleLossy(std::u16string_view Text) {
    return *WideToLocaleImpl(Text, true);
}
std::u16string LocaleToWideLossy(std::string_view Text) {
    return *LocaleToWideImpl(Text, true);
}

std::string NormaliseLineEnds(std::string_view Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I) {
        if (Text[I] == '\r') {
            Out.push_back('\n');
            if (I + 1 < Text.size() && Text[I + 1] == '\n') ++I;
        } else {
            Out.push_back(Text[I]);
        }
    }
    return Out;
}

std::string Trim(std::string_view Text) {
    size_t B = 0, E = Text.size();
    while (B < E && static_cast<unsigned char>(Text[B]) <= ' ') ++B;
    while (E > B && static_cast<unsigned char>(Text[E - 1]) <= ' ') --E;
    return std::string(Text.substr(B, E - B));
}

std::string UpperCase(std::string_view Text) {
    std::string Out(Text);
    for (char& C : Out)
        if (C >= 'a' && C <= 'z') C = char(C - 'a' + 'A');
    return Out;
}

std::string LowerCase(std::string_view Text) {
    std::string Out(Text);
    for (char& C : Out)
        if (C >= 'A' && C <= 'Z') C = char(C - 'A' + 'a');
    return Out;
}

bool SameText(std::string_view A, std::string_view B) {
    return LowerCase(A) == LowerCase(B);
}

std::string Format(const char* Fmt, ...) {
    va_list Args;
    va_start(Args, Fmt);
    va_list Copy;
    va_copy(Copy, Args);
    const int N = std::vsnprintf(nullptr, 0, Fmt, Copy);
    va_end(Copy);
    std::string Out;
    if (N > 0) {
        std::vector<char> Buf(static_cast<size_t>(N) + 1);
        std::vsnprintf(Buf.data(), Buf.size(), Fmt, Args);
        Out.assign(Buf.data(), static_cast<size_t>(N));
    }
    va_end(Args);
    return Out;
}

}  // namespace zembra
