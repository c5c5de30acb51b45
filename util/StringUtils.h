#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zembra {

// The text before the first occurrence of Separator. With Remove set, Source loses that part and
// the separator; when the separator does not occur the whole source is returned (and, with Remove,
// Source becomes empty). An empty separator never occurs.
std::string SplitFirst(std::string& Source, std::string_view Separator, bool Remove);
std::u16string SplitFirst(std::u16string& Source, std::u16string_view Separator, bool Remove);

bool IsPrintableChar(unsigned char C);

// File names are bytes, and these conversions carry every byte string there and back: a byte
// that is not part of a well-formed UTF-8 sequence becomes the lone surrogate U+DC00 + byte
// (U+DC80 ... U+DCFF), and Utf16ToUtf8 turns such a lone surrogate back into its byte. Any other
// lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view Text);
std::u16string Utf8ToUtf16(std::string_view Text);

// For people: well-formed UTF-8 in which each byte that is not part of a well-formed sequence
// reads "\xFF". The wide form shows the bytes Utf16ToUtf8 gives.
std::string ReadableText(std::string_view Bytes);
std::string ReadableText(std::u16string_view Text);

// The 8-bit code page is the character set of the process locale (LC_CTYPE).
// nullopt when the text cannot be represented.
std::optional<std::string> WideToLocale(std::u16string_view Text);
std::optional<std::u16string> LocaleToWide(std::string_view Text);
// Lossy forms for display: unrepresentable characters become '?', and a name's byte that is not
// UTF-8 (U+DC80 ... U+DCFF) reads "\xFF".
std::string WideToLocaleLossy(std::u16string_view Text);
std::u16string LocaleToWideLossy(std::string_view Text);

// CR LF and lone CR become LF.
std::string NormaliseLineEnds(std::string_view Text);

std::string Trim(std::string_view Text);
std::string UpperCase(std::string_view Text);
std::string LowerCase(std::string_view Text);
bool SameText(std::string_view A, std::string_view B);

// printf into a std::string; never truncates.
std::string Format(const char* Fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace zembra
