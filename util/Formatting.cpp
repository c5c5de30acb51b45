#include "util/Formatting.h"

#include <cmath>
#include <ctime>

#include "util/StringUtils.h"

namespace zembra {

std::string FormatFileSize(int64_t Bytes, int Decimals) {
    if (Bytes > 1073741824) return Format("%.*f GB", Decimals, double(Bytes) / 1073741824.0);
    if (Bytes > 1048576) return Format("%.*f MB", Decimals, double(Bytes) / 1048576.0);
    if (Bytes > 1024) return Format("%.*f KB", Decimals, double(Bytes) / 1024.0);
    return Format("%lld Byte", static_cast<long long>(Bytes));
}

std::string FormatDuration(int64_t T) {
    const int64_t Hours = T / 1000000 / 60 / 60;
    const int64_t Minutes = (T / 1000000 / 60) % 60;
    const int64_t Seconds = (T / 1000000) % 60;
    const int64_t Millis = (T % 1000000) * 1000 / 1000000;
    return Format("%.2lld:%.2lld:%.2lld.%.3lld", static_cast<long long>(Hours),
                  static_cast<long long>(Minutes), static_cast<long long>(Seconds),
                  static_cast<long long>(Millis));
}

double TimeZoneOffsetDays() {
    tzset();
    // timezone: seconds west of UTC for standard time.
    return -static_cast<double>(timezone) / 60.0 / 1440.0;
}

TDateTime UnixTimeToLocal(int64_t Seconds) {
    return static_cast<double>(Seconds) / 86400.0 + kUnixEpochDays + TimeZoneOffsetDays();
}

namespace {

struct TDateParts {
    int Year, Month, Day, Hour, Minute, Second, Milli;
};

// Civil date from a day count (days since 1970-01-01), Howard Hinnant's algorithm.
void CivilFromDays(int64_t Z, int& Y, int& M, int& D) {
    Z += 719468;
    const int64_t Era = (Z >= 0 ? Z : Z - 146096) / 146097;
    const int64_t Doe = Z - Era * 146097;
    const int64_t Yoe = (Doe - Doe / 1460 + Doe / 36524 - Doe / 146096) / 365;
    const int64_t Doy = Doe - (365 * Yoe + Yoe / 4 - Yoe / 100);
    const int64_t Mp = (5 * Doy + 2) / 153;
    D = static_cast<int>(Doy - (153 * Mp + 2) / 5 + 1);
    M = static_cast<int>(Mp < 10 ? Mp + 3 : Mp - 9);
    Y = static_cast<int>(Yoe + Era * 400 + (M <= 2 ? 1 : 0));
}

TDateParts Decode(TDateTime Value) {
    TDateParts P{};
    // Round to the millisecond first so that 23:59:59.9995 does not print as 60 seconds.
    const int64_t TotalMs = static_cast<int64_t>(std::llround(Value * 86400000.0));
    int64_t Days = TotalMs / 86400000;
    int64_t Ms = TotalMs % 86400000;
    if (Ms < 0) {
        Ms += 86400000;
        --Days;
    }
    CivilFromDays(Days - static_cast<int64_t>(kUnixEpochDays), P.Year, P.Month, P.Day);
    P.Hour = static_cast<int>(Ms / 3600000);
    P.Minute = static_cast<int>(Ms / 60000 % 60);
    P.Second = static_cast<int>(Ms / 1000 % 60);
    P.Milli = static_cast<int>(Ms % 1000);
    return P;
}

}  // namespace

std::string FormatDateTimeText(const std::string& Fmt, TDateTime Value) {
    const TDateParts P = Decode(Value);
    std::string Out;
    bool AfterHour = false;
    size_t I = 0;
    auto Count = [&](char C) {
        size_t N = 0;
        while (I + N < Fmt.size() && (Fmt[I + N] | 0x20) == C) ++N;
        return N;
    };
    while (I < Fmt.size()) {
        const char C = static_cast<char>(Fmt[I] | 0x20);
        if (Fmt[I] == '"' || Fmt[I] == '\'') {
            const char Quote = Fmt[I];
            const size_t End = Fmt.find(Quote, I + 1);
            const size_t Stop = End == std::string::npos ? Fmt.size() : End;
            Out.append(Fmt, I + 1, Stop - I - 1);
            I = End == std::string::npos ? Fmt.size() : End + 1;
            continue;
        }
        size_t N = 0;
        switch (C) {
            case 'y':
                N = Count('y');
                Out += N >= 3 ? Format("%.4d", P.Year) : Format("%.2d", P.Year % 100);
                break;
            case 'm':
                N = Count('m');
                if (AfterHour)
                    Out += N >= 2 ? Format("%.2d", P.Minute) : Format("%d", P.Minute);
                else
                    Out += N >= 2 ? Format("%.2d", P.Month) : Format("%d", P.Month);
                AfterHour = false;
                break;
            case 'd':
                N = Count('d');
                Out += N >= 2 ? Format("%.2d", P.Day) : Format("%d", P.Day);
                break;
            case 'h':
                N = Count('h');
                Out += N >= 2 ? Format("%.2d", P.Hour) : Format("%d", P.Hour);
                AfterHour = true;
                break;
            case 'n':
                N = Count('n');
                Out += N >= 2 ? Format("%.2d", P.Minute) : Format("%d", P.Minute);
                break;
            case 's':
                N = Count('s');
                Out += N >= 2 ? Format("%.2d", P.Second) : Format("%d", P.Second);
                break;
            case 'z':
                N = Count('z');
                Out += N >= 3 ? Format("%.3d", P.Milli) : Format("%d", P.Milli);
                break;
            default:
                Out.push_back(Fmt[I]);
                N = 1;
                break;
        }
        I += N;
    }
    return Out;
}

std::string MediaTypeName(int CodecType) {
    switch (CodecType) {
        case 0:
            return "Video";
        case 1:
            return "Audio";
        case 2:
            return "Data";
        case 3:
            return "Subtitle";
        case 4:
            return "Attachment";
        default:
            return "Unknown";
    }
}

}  // namespace zembra
