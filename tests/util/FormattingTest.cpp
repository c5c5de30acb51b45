#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "util/Formatting.h"

namespace zembra {
namespace {

TEST(FormatFileSize, Boundaries) {
    EXPECT_EQ(FormatFileSize(0), "0 Byte");
    EXPECT_EQ(FormatFileSize(-5), "-5 Byte");
    EXPECT_EQ(FormatFileSize(1024), "1024 Byte");
    EXPECT_EQ(FormatFileSize(1025), "1.00 KB");
    EXPECT_EQ(FormatFileSize(1048576), "1024.00 KB");
    EXPECT_EQ(FormatFileSize(1048577), "1.00 MB");
    EXPECT_EQ(FormatFileSize(1073741824), "1024.00 MB");
    EXPECT_EQ(FormatFileSize(1073741825), "1.00 GB");
    EXPECT_EQ(FormatFileSize(int64_t(5) << 40), "5120.00 GB");  // beyond 32 bits
    EXPECT_EQ(FormatFileSize(74281270, 1), "70.8 MB");
    EXPECT_EQ(FormatFileSize(1000, 1), "1000 Byte");
}

TEST(FormatDuration, Fields) {
    EXPECT_EQ(FormatDuration(5025678000), "01:23:45.678");
    EXPECT_EQ(FormatDuration(0), "00:00:00.000");
    EXPECT_EQ(FormatDuration(999), "00:00:00.000");  // below a millisecond
    EXPECT_EQ(FormatDuration(59999999), "00:00:59.999");
    EXPECT_EQ(FormatDuration(int64_t(100) * 3600 * 1000000), "100:00:00.000");  // hours not limited
}

class TimeZoneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* Old = std::getenv("TZ");
        FHadTZ = Old != nullptr;
        if (Old) FOldTZ = Old;
    }
    void TearDown() override {
        if (FHadTZ)
            setenv("TZ", FOldTZ.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    void Use(const char* Zone) {
        setenv("TZ", Zone, 1);
        tzset();
    }

  private:
    bool FHadTZ = false;
    std::string FOldTZ;
};

TEST_F(TimeZoneTest, OffsetIsStandardTimeWithoutDaylightSaving) {
    Use("UTC0");
    EXPECT_DOUBLE_EQ(TimeZoneOffsetDays(), 0.0);
    Use("XYZ-2");  // two hours east of UTC
    EXPECT_DOUBLE_EQ(TimeZoneOffsetDays(), 2.0 / 24.0);
    Use("EST5EDT,M3.2.0,M11.1.0");  // daylight saving is left out whatever the date
    EXPECT_DOUBLE_EQ(TimeZoneOffsetDays(), -5.0 / 24.0);
}

TEST_F(TimeZoneTest, UnixTimeToLocalAndFormatting) {
    Use("UTC0");
    EXPECT_DOUBLE_EQ(UnixTimeToLocal(0), 25569.0);
    EXPECT_EQ(FormatDateTimeText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocal(0)), "1970-01-01 00:00:00");
    EXPECT_EQ(FormatDateTimeText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocal(1709251199)), "2024-02-29 23:59:59");
    Use("XYZ-2");
    EXPECT_EQ(FormatDateTimeText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocal(1709251199)), "2024-03-01 01:59:59");
}

TEST(FormatDateTimeText, LettersAndLiterals) {
    const TDateTime T = 25569.0 + 1.5 + 0.25 / 86400.0;  // 1970-01-02 12:00:00.250
    EXPECT_EQ(FormatDateTimeText("d/m/yy", T), "2/1/70");
    EXPECT_EQ(FormatDateTimeText("hh:mm", T), "12:00");  // m after h means minutes
    EXPECT_EQ(FormatDateTimeText("ss.zzz", T), "00.250");
    EXPECT_EQ(FormatDateTimeText("'day' dd", T), "day 02");
    EXPECT_EQ(FormatDateTimeText("\"yyyy\" yyyy", T), "yyyy 1970");
    EXPECT_EQ(FormatDateTimeText("yyyy", 0.0), "1899");
}

TEST(MediaTypeName, AllKinds) {
    EXPECT_EQ(MediaTypeName(0), "Video");
    EXPECT_EQ(MediaTypeName(1), "Audio");
    EXPECT_EQ(MediaTypeName(2), "Data");
    EXPECT_EQ(MediaTypeName(3), "Subtitle");
    EXPECT_EQ(MediaTypeName(4), "Attachment");
    EXPECT_EQ(MediaTypeName(-1), "Unknown");
    EXPECT_EQ(MediaTypeName(5), "Unknown");
}

}  // namespace
}  // namespace zembra
