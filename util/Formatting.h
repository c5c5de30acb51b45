#pragma once

#include <cstdint>
#include <string>

namespace zembra {

// "%.2f GB" / "%.2f MB" / "%.2f KB" above each power of 1024 (Decimals digits after the point),
// else "%d Byte".
std::string FormatFileSize(int64_t Bytes, int Decimals = 2);
// "hh:mm:ss.zzz" from microseconds; hours are not limited to two digits.
std::string FormatDuration(int64_t Microseconds);

// Date-time values count days since 1899-12-30, the fraction being the time of day.
using TDateTime = double;
constexpr double kUnixEpochDays = 25569.0;

// Minus the local standard-time bias (daylight saving left out), in days.
double TimeZoneOffsetDays();
TDateTime UnixTimeToLocal(int64_t Seconds);
// Format letters: yyyy yy mm m dd d hh h nn n ss s zzz z (m after h means minutes); text in
// single or double quotes is copied as it stands, as is any other character.
std::string FormatDateTimeText(const std::string& Format, TDateTime Value);

// 0 "Video", 1 "Audio", 2 "Data", 3 "Subtitle", 4 "Attachment", else "Unknown".
std::string MediaTypeName(int CodecType);

}  // namespace zembra
