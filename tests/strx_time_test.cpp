#include "components/strx.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <tuple>

#include "support/strxtest.h"

namespace {

// ---- Time text ---------------------------------------------------------------

TEST_F(StrXTest, TimeTextRoundTripsInTwoZones) {
    for (const char* tz : {"JST-9", "EST5EDT"}) {
        TzScope zone(tz);
        int repeated = 0;
        // Every 7 hours 13 minutes 17 seconds through 2000 and 2001, DST changes included.
        for (time_t t = 946684800; t < 1009843200; t += 7 * 3600 + 13 * 60 + 17) {
            char text[20], again[20];
            time_t back = 0;
            ASSERT_EQ(StrX_TextToTime(&back, StrX_TimeToText(t, text)), 0) << tz << " " << text;
            EXPECT_STREQ(StrX_TimeToText(back, again), text) << tz;
            if (back != t) {
                // Only in the hour a fall-back repeats may the other of the two be taken.
                EXPECT_EQ(std::llabs(static_cast<long long>(back - t)), 3600) << tz << " " << text;
                repeated++;
            }
        }
        EXPECT_LE(repeated, 2) << tz;
    }
    TzScope zone("EST5EDT");
    time_t t = 12345;
    EXPECT_EQ(StrX_TextToTime(&t, "-2147483648/1/1-0:0:0"), 1);  // failure leaves the output
    EXPECT_EQ(t, 12345);
    EXPECT_EQ(StrX_TextToTime(&t, "2000/07/01-12:00:00"), 0);
    EXPECT_EQ(t, 962467200);  // 16:00 UTC: daylight saving chosen by the run-time
    EXPECT_EQ(*StrX_ClearTime(&t), 0);
}

std::string Format(int y, int mo, int d, int h, int mi, int s, const char* format) {
    time_t t = 0;
    EXPECT_EQ(StrX_MakeTime(&t, y, mo, d, h, mi, s), 0);
    char out[128];
    return StrX_FormatTime(t, format, out, sizeof out);
}

TEST_F(StrXTest, FormatTimeWindowsForms) {
    TzScope zone("JST-9");
    const std::pair<const char*, const char*> cases[] = {
        {"%n.%#d.%Y", "Mar.5.2000"},
        {"%#m/%#d %#H:%#M:%#S", "3/5 1:2:3"},
        {"%%#d", "%#d"},
        {"%#x", "Sunday, March 05, 2000"},
        {"%#c", "Sunday, March 05, 2000 01:02:03"},
        {"%#a %#b", "Sun Mar"}};  // '#' ignored, not glibc's case swap
    for (const auto& [format, want] : cases)
        EXPECT_EQ(Format(2000, 3, 5, 1, 2, 3, format), want) << format;
    EXPECT_EQ(Format(2000, 3, 30, 23, 1, 1, "%n.%#d.%Y"), "Mar.30.2000");

    TzScope utc("UTC0");
    auto format = [](int n) { return [=](char* b) { StrX_FormatTime(0, "%n.%#d.%Y", b, n); }; };
    auto timeText = [](int size) { return [=](char* b) { StrX_TimeText(954424861, b, size); }; };
    ExpectBounded({
        {"FormatTime exact fit", 11, "", format(11), "Jan.1.1970"},
        {"FormatTime one short", 10, "", format(10), ""},
        {"FormatTime size 0", 0, "", format(0), "(untouched)"},
        {"TimeText, the C locale's %c", 25, "", timeText(25), "Thu Mar 30 14:01:01 2000"},
        {"TimeText one short", 24, "", timeText(24), ""},
    });
    EXPECT_EQ(strlen(StrX_NowText()), 24u);
    EXPECT_EQ(strlen(StrX_NowFormat("%Y")), 4u);
}

TEST_F(StrXTest, BuildDateTextReadsCompilerDate) {
    TzScope zone("EST5EDT");
    EXPECT_STREQ(StrX_BuildDateText("Mar 30 2000", "23:01:01", "%n.%#d.%Y"), "Mar.30.2000");
    EXPECT_STREQ(StrX_BuildDateText("Mar  5 2000", "23:01:01", "%n.%#d.%Y"), "Mar.5.2000");
    // A name that is not an exact abbreviation is month 13: January of the next year.
    EXPECT_STREQ(StrX_BuildDateText("mar 5 2000", "0:0:0", "%Y/%#m/%#d"), "2001/1/5");
    // A name longer than any buffer is read safely and matches nothing.
    EXPECT_STREQ(StrX_BuildDateText("Marchxxxxxxxxxxxxxxxxxxxxxxxxxxxxx 5 2000", "0:0:0", "%Y"),
                 "2001");
}

TEST_F(StrXTest, SplitSpanAndCompareTimes) {
    // Rows: seconds, then days, hours, minutes and seconds of the span (-1: floor division).
    const std::tuple<double, int, int, int, int> cases[] = {
        {86400 + 3600 + 60 + 1, 1, 1, 1, 1}, {59.9, 0, 0, 0, 59}, {-1, -1, 23, 59, 59}};
    struct tm span;
    for (const auto& [seconds, days, hours, minutes, secs] : cases) {
        StrX_SplitSpan(&span, seconds);
        EXPECT_EQ(std::tie(span.tm_mday, span.tm_hour, span.tm_min, span.tm_sec),
                  std::tie(days, hours, minutes, secs))
            << seconds;
        EXPECT_EQ(std::tie(span.tm_mon, span.tm_year, span.tm_isdst), std::make_tuple(0, 0, -1));
    }
    EXPECT_EQ(StrX_SplitSpan(&span, 1e30)->tm_mday, INT_MAX);  // held to the int range
    EXPECT_EQ(StrX_CompareTimes(3, true, 5, true), -1);
    EXPECT_EQ(StrX_CompareTimes(4, true, 9, false), 2);  // a valid time is the later
}

}  // namespace
