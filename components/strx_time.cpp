// The string module's time text: formatting, parsing and the clock's text.

#include "components/strx.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "components/strx_internal.h"

using namespace strx_detail;

namespace {

char g_timeFormat[100];  // StrX_FormatTime's format buffer
char g_buildDate[100];   // StrX_BuildDateText's result
char g_nowText[30];      // StrX_NowText's result
char g_nowFormat[80];    // StrX_NowFormat's result
int g_timeParts[6];      // StrX_TextToTime's six numbers
bool g_localeToInit = true;

const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// strftime with the Windows run-time's '#' forms (see the header). The format
// is expanded into a work buffer first; a format whose expansion does not fit
// is cut at a conversion boundary. Returns out; empty when the result does
// not fit out[0, size).
char* formatTm(const struct tm* tmv, const char* format, char* out, int size) {
    if (size <= 0) return out;
    out[0] = '\0';
    char work[512];
    size_t n = 0;
    auto put = [&](const char* piece, size_t len) {
        if (n + len >= sizeof work) return false;
        memcpy(work + n, piece, len);
        n += len;
        return true;
    };
    for (const char* p = format; *p != '\0';) {
        bool ok;
        if (p[0] == '%' && p[1] == '#') {
            char c = p[2];
            if (c == '\0') break;
            p += 3;
            if (strchr("dHIjmMSUwWyY", c) != nullptr) {
                char one[3] = {'%', c, '\0'};
                char num[16];
                size_t len = strftime(num, sizeof num, one, tmv);
                size_t z = 0;
                while (z + 1 < len && num[z] == '0') z++;
                ok = put(num + z, len - z);
            } else if (c == 'c') {
                ok = put("%A, %B %d, %Y %H:%M:%S", 22);
            } else if (c == 'x') {
                ok = put("%A, %B %d, %Y", 13);
            } else {
                char one[2] = {'%', c};
                ok = put(one, 2);
            }
        } else if (p[0] == '%' && p[1] != '\0') {
            ok = put(p, 2);
            p += 2;
        } else {
            ok = put(p, 1);
            p++;
        }
        if (!ok) break;
    }
    work[n] = '\0';
    if (n == 0) return out;
    if (strftime(out, static_cast<size_t>(size), work, tmv) == 0) out[0] = '\0';
    return out;
}

}  // namespace

// ---- Time text ---------------------------------------------------------------

void StrX_InitLocale() {
    if (!g_localeToInit) return;
    g_localeToInit = false;
    tzset();
}

char* StrX_TimeToText(time_t t, char* out) {
    return StrX_FormatTime(t, "%Y/%m/%d-%H:%M:%S", out, 20);
}

int StrX_TextToTime(time_t* t, const char* text) {
    StrX_InitLocale();
    const char* p = text;
    for (int& part : g_timeParts) {
        p = StrX_ParseInt(p, &part);
        if (*p != '\0') p++;
    }
    return StrX_MakeTime(t, g_timeParts[0], g_timeParts[1], g_timeParts[2], g_timeParts[3],
                         g_timeParts[4], g_timeParts[5]);
}

int StrX_MakeTime(time_t* t, int year, int month, int day, int hour, int minute, int second) {
    StrX_InitLocale();
    if (year < INT32_MIN + 1900) return 1;  // the year does not fit the run-time's field
    struct tm tmv;
    memset(&tmv, 0, sizeof tmv);
    tmv.tm_year = year - 1900;
    tmv.tm_mon = month - 1;
    tmv.tm_mday = day;
    tmv.tm_hour = hour;
    tmv.tm_min = minute;
    tmv.tm_sec = second;
    tmv.tm_isdst = -1;
    time_t v = mktime(&tmv);
    if (v == static_cast<time_t>(-1)) return 1;
    *t = v;
    return 0;
}

namespace {

// Sets out to "" and *local to the local time of t. False when out has no
// room or t has no local time. localtime_r: no hidden shared buffer (the
// build runs on a worker thread) and no heap, where plain localtime may
// allocate.
bool startTimeText(time_t t, char* out, int size, struct tm* local) {
    StrX_InitLocale();
    if (size <= 0) return false;
    out[0] = '\0';
    return localtime_r(&t, local) != nullptr;
}

}  // namespace

char* StrX_FormatTime(time_t t, const char* format, char* out, int size) {
    struct tm tmv;
    if (!startTimeText(t, out, size, &tmv)) return out;
    CodePage_CopyCut(g_timeFormat, sizeof g_timeFormat, format);
    StrX_ReplaceStr(g_timeFormat, sizeof g_timeFormat, "%n", kMonths[tmv.tm_mon]);
    return formatTm(&tmv, g_timeFormat, out, size);
}

const char* StrX_BuildDateText(const char* date, const char* time, const char* format) {
    StrX_InitLocale();
    // "%s %d %d", the name held to 15 bytes (a longer word is skipped whole).
    char name[16] = "";
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    const char* p = date;
    while (StrX_IsSpace(static_cast<unsigned char>(*p))) p++;
    size_t n = 0;
    for (; *p != '\0' && !StrX_IsSpace(static_cast<unsigned char>(*p)); p++) {
        if (n < sizeof name - 1) name[n++] = *p;
    }
    name[n] = '\0';
    sscanf(p, "%d %d", &day, &year);
    sscanf(time, "%d:%d:%d", &hour, &minute, &second);
    int month = 13;
    for (int i = 0; i < 12; i++) {
        if (strcmp(name, kMonths[i]) == 0) {
            month = i + 1;
            break;
        }
    }
    g_buildDate[0] = '\0';
    time_t t;
    if (StrX_MakeTime(&t, year, month, day, hour, minute, second) == 0) {
        StrX_FormatTime(t, format, g_buildDate, sizeof g_buildDate);
    }
    return g_buildDate;
}

struct tm* StrX_SplitSpan(struct tm* span, double seconds) {
    auto toInt = [](double v) {
        if (!(v >= INT32_MIN)) return static_cast<int>(INT32_MIN);  // also NaN
        if (v > INT32_MAX) return static_cast<int>(INT32_MAX);
        return static_cast<int>(v);
    };
    memset(span, 0, sizeof *span);
    double minutes = std::floor(seconds / 60);
    double hours = std::floor(minutes / 60);
    double days = std::floor(hours / 24);
    span->tm_sec = toInt(seconds - 60 * minutes);
    span->tm_min = toInt(minutes - 60 * hours);
    span->tm_hour = toInt(hours - 24 * days);
    span->tm_mday = toInt(days);
    span->tm_mon = 0;
    span->tm_year = 0;
    span->tm_isdst = -1;
    return span;
}

int StrX_CompareTimes(time_t a, bool aValid, time_t b, bool bValid) {
    if (aValid && bValid) return a > b ? 1 : (a < b ? -1 : 0);
    if (aValid) return 2;
    if (bValid) return -2;
    return 0;
}

time_t* StrX_ClearTime(time_t* t) {
    *t = 0;
    return t;
}

char* StrX_TimeText(time_t t, char* out, int size) {
    struct tm tmv;
    if (!startTimeText(t, out, size, &tmv)) return out;
    return formatTm(&tmv, "%c", out, size);
}

const char* StrX_NowText() {
    return StrX_TimeText(time(nullptr), g_nowText, sizeof g_nowText);
}

const char* StrX_NowFormat(const char* format) {
    struct tm tmv;
    if (!startTimeText(time(nullptr), g_nowFormat, sizeof g_nowFormat, &tmv)) return g_nowFormat;
    return formatTm(&tmv, format, g_nowFormat, sizeof g_nowFormat);
}
