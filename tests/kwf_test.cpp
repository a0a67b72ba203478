#include "app/kwf.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "app/crekey.h"
#include "app/kwf_internal.h"
#include "components/bigstack.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {

using Lines = std::vector<std::string>;

// The bytes of a header (CR LF ends) with Base = base, lines replaced by
// number and extra lines after DispTarget.
std::string Header(const std::vector<std::pair<int, std::string>>& changes, const Lines& extra = {},
                   const std::string& base = "C:\\pages") {
    Lines lines = {"[main] ",        "Application = Tessaly!", "Version = 100",
                   "bNewFile = 0",   "Base = " + base,         "Update = 2000/03/30-21:15:07",
                   "bCanUpdate = 1", "DispURL = (default)",    "DispTarget = main"};
    for (const auto& [i, line] : changes) lines[i] = line;
    lines.insert(lines.end(), extra.begin(), extra.end());
    std::string out;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

// A whole database: header, separator, "links" with the given lines, separator.
std::string Db(const std::string& base, const Lines& links) {
    std::string out = Header({}, {}, base) + " \r\n[links] \r\n";
    for (const std::string& l : links) out += l + "\r\n";
    return out + " \r\n";
}

class KwfTest : public LibraryTest {
   protected:
    // Writes bytes to name in the temporary folder; returns its inside path.
    std::string Put(const std::string& name, const std::string& bytes) {
        tmp_.Write(name, bytes);
        return Inside(name);
    }
    std::string Inside(const std::string& name) { return tmp_.inside() + "\\" + name; }
    // Runs a search in a try frame; rec_ gets "title | entry | href" per hit, and the count.
    int Search(const std::string& db, const std::string& query) {
        rec_ = {};
        Kwf_HitSink sink = {
            [](void* c, const char* title, const char* entry, const char* href) {
                static_cast<Recorder*>(c)->hits.push_back(
                    std::string(title) + " | " + (entry ? entry : "(none)") + " | " + href);
            },
            [](void* c, int n) { static_cast<Recorder*>(c)->count = n; }, &rec_};
        return CaughtCode([&] { Kwf_Search(db.c_str(), query.c_str(), &sink); });
    }
    // The titles of the last search's hits.
    Lines Titles() const {
        Lines titles;
        for (const std::string& h : rec_.hits) titles.push_back(h.substr(0, h.find(" | ")));
        return titles;
    }

    TempDir tmp_;
    struct Recorder {
        Lines hits;
        int count = -1;
    } rec_;
};

// The 14 lines of a database of two pages (Db spells the header line by line).
const std::string kTwoPageDb = Db("C:\\pages", {"A = 京都旅行, 旅行; 京都; 寺, travel\\kyoto.htm",
                                                "A = \"Notes, misc\", , notes.htm"});

TEST_F(KwfTest, TwoPageDatabaseIsWrittenByteForByteAndReadByEveryReader) {
    const std::string db = Inside("vark.kwf");
    const char* p = db.c_str();
    StrX_SetExePath("\\opt\\tessaly\\tessaly");
    const uint8_t* sp = BigStack_Sys()->sp;
    time_t t2000 = 0, updated = 0;
    StrX_MakeTime(&t2000, 2000, 3, 30, 21, 15, 7);
    char base[260], resultFile[260], dispUrl[260], target[40], guide[16] = "untouched", read[900];
    int canUpdate = -1;
    IniWriter w{};
    ASSERT_EQ(0, CaughtCode([&] {
                  IniFile_OpenWrite(&w, p);
                  CreKey_WriteHeaderAt(&w, "C:\\pages", "main", t2000);
                  CreKey_WriteLink(&w, "京都旅行", "旅行; 京都; 寺", "travel\\kyoto.htm");
                  CreKey_WriteLink(&w, "Notes, misc", "", "notes.htm");
                  IniFile_CloseWrite(&w);
                  Kwf_ReadBase(p, base, sizeof base);
                  Kwf_ReadUpdateTime(p, &updated);
                  Kwf_ReadDisplay(p, resultFile, sizeof resultFile, dispUrl, sizeof dispUrl, target,
                                  sizeof target, &canUpdate);
                  snprintf(read, sizeof read, "%d %d %s %d %d %s %s %s %d %d %s",
                           Kwf_ReadVersion(p), Kwf_IsNewFile(p), base, updated == t2000,
                           Kwf_CountPages(p), resultFile, dispUrl, target, canUpdate,
                           Kwf_ReadGuide(p, guide, sizeof guide), guide);
              }));
    EXPECT_EQ(kTwoPageDb, tmp_.Read("vark.kwf"));
    // Version, new file, Base, Update, pages, result file, DispURL, DispTarget,
    // bCanUpdate, not fixed, guide untouched.
    EXPECT_STREQ(
        "100 0 C:\\pages 1 2 \\opt\\tessaly\\out.htm \\opt\\tessaly\\outframe.htm main 1 1 "
        "untouched",
        read);
    EXPECT_EQ(sp, BigStack_Sys()->sp) << "every reader pops its mark";
}

// ---- Header readers at their edges ---------------------------------------------

// What each header reader gives at the edges of the header it reads: the
// value, or the code of its report.
TEST_F(KwfTest, HeaderReadersAtTheirEdges) {
    using Reader = std::function<std::string(const char*)>;
    const Reader version = [](const char* p) { return std::to_string(Kwf_ReadVersion(p)); };
    const Reader isNew = [](const char* p) { return Kwf_IsNewFile(p) ? "new" : "old"; };
    const Reader guide = [](const char* p) {
        char text[256] = "untouched";
        const bool notFixed = Kwf_ReadGuide(p, text, sizeof text);
        return (notFixed ? "not fixed: " : "fixed: ") + std::string(text);
    };
    const Reader base = [](const char* p) {
        char text[300];
        Kwf_ReadBase(p, text, sizeof text);
        return std::to_string(strlen(text)) + " bytes";
    };
    const Reader update = [](const char* p) {
        time_t t = 0;
        Kwf_ReadUpdateTime(p, &t);
        return std::string(t ? "read" : "none");
    };
    const std::string base248 = "Base = " + std::string(248, 'b');  // a line of 255 bytes
    const std::string guideText = "管理者に頼んでください";
    // The application is compared exactly; unquoted values lose trailing
    // blanks; without it Version is not read at all. A Base line over 255
    // bytes leaves a rest in Update's 256-byte line buffer, which is read in
    // place of Update; Base itself reads whole.
    const struct {
        std::vector<std::pair<int, std::string>> changes;
        Lines extra;
        const Reader& read;
        std::string expected;
    } cases[] = {
        {{{1, "Application = Tessaly! "}}, {}, version, "100"},
        {{{1, "Application = \"Tessaly! \""}}, {}, version, "9999"},
        {{{1, "Application = tessaly!"}}, {}, version, "9999"},
        {{{2, "Version = "}}, {}, version, "0"},
        {{{1, "Application = Other"}, {2, "NoVersionHere = 1"}}, {}, version, "9999"},
        {{{3, "bNewFile = 1"}}, {}, isNew, "new"},
        {{}, {}, guide, "not fixed: untouched"},
        {{}, {"bFixed = 1", "Guide = " + guideText}, guide, "fixed: " + guideText},
        {{}, {"bFixed = 0", "Guide = shown anyway"}, guide, "not fixed: shown anyway"},
        {{}, {"bFixed = 1", "Other = x"}, guide, "596"},
        {{}, {"bFixed = 1"}, guide, "595"},
        {{{4, base248}}, {}, update, "read"},
        {{{4, base248 + "b"}}, {}, update, "596"},
        {{{4, base248 + "b"}}, {}, base, "249 bytes"},
    };
    for (const auto& c : cases) {
        const std::string db = Put("h.kwf", Header(c.changes, c.extra));
        std::string value;
        const int code = CaughtCode([&] { value = c.read(db.c_str()); });
        EXPECT_EQ(c.expected, code ? std::to_string(code) : value)
            << Utf8(Header(c.changes, c.extra));
    }
}

// A database's DispURL reaches the browser only when it names a file of this
// computer; any other is refused with one box and the default page is shown.
TEST_F(KwfTest, DisplayPageOfAnotherHostIsRefusedForTheDefaultOne) {
    StrX_SetExePath("\\opt\\tessaly\\tessaly");
    const std::string fallback = "\\opt\\tessaly\\outframe.htm";
    const char* kept[] = {"\\opt\\tessaly\\outframe.htm",
                          "/home/u/frame.htm",
                          "frame.htm",
                          "sub\\frame.htm",
                          "C:\\pages\\frame.htm",
                          "file:///home/u/frame.htm",
                          "FILE://localhost/home/u/frame.htm",
                          "file:frame.htm",
                          "\x95\x5C:x.htm"};
    const char* refused[] = {"https://evil.example/phish",
                             "http:evil.example.htm",
                             "HTTP://evil.example/",
                             "javascript:alert(1)",
                             "ftp://h/x",
                             "\\\\host\\share\\x.htm",
                             "//host/x.htm",
                             "/\\host/x.htm",
                             "file://host/x.htm",
                             "file:\\\\host\\x.htm",
                             "file://localhost.evil/x",
                             " \x01https://evil.example/",
                             "ht\ttp\n://evil.example/"};
    for (const char* url : kept) {
        boxes_.boxes.clear();
        char out[260] = "untouched";
        EXPECT_EQ(url, std::string(Kwf_DisplayPage(url, out, sizeof out))) << url;
        EXPECT_STREQ("untouched", out) << url;
        EXPECT_TRUE(boxes_.boxes.empty()) << url;
    }
    for (const char* url : refused) {
        boxes_.boxes.clear();
        char out[260] = "untouched";
        EXPECT_EQ(out, Kwf_DisplayPage(url, out, sizeof out)) << url;
        EXPECT_EQ(fallback, out) << url;
        ASSERT_EQ(1u, boxes_.boxes.size()) << url;
        EXPECT_EQ("Tessaly!", boxes_.boxes[0].title);
        EXPECT_NE(std::string::npos, boxes_.boxes[0].text.find(url)) << url;
    }
}

TEST_F(KwfTest, HeaderReadersCutToTheirBuffers) {
    StrX_SetExePath("\\opt\\tessaly\\tessaly");
    const std::string db = Put("c.kwf", Header({{4, "Base = C:\\" + std::string(400, 'x')},
                                                {7, "DispURL = http://example.com/frames.htm"},
                                                {8, "DispTarget = " + std::string(100, 't')}},
                                               {"bFixed = 1", "Guide = " + std::string(300, 'g')}));
    const char* p = db.c_str();
    char b[6][48];  // base, guide, result file, URL, target, 1-byte base; '#' guards
    memset(b, '#', sizeof b);
    const int sizes[6] = {20, 10, 10, 39, 10, 1};
    int canUpdate = -1;
    ASSERT_EQ(0, CaughtCode([&] {
                  Kwf_ReadBase(p, b[0], sizes[0]);
                  Kwf_ReadGuide(p, b[1], sizes[1]);
                  Kwf_ReadDisplay(p, b[2], sizes[2], b[3], sizes[3], b[4], sizes[4], &canUpdate);
                  Kwf_ReadBase(p, b[5], sizes[5]);
              }));
    EXPECT_EQ("C:\\" + std::string(16, 'x'), b[0]);
    EXPECT_EQ(std::string(9, 'g'), b[1]);
    EXPECT_STREQ("\\opt\\tes", b[2]) << "out.htm in the program folder, at most size - 2";
    EXPECT_STREQ("http://ex", b[3]) << "kept to the smaller path buffer";
    EXPECT_EQ(std::string(9, 't'), b[4]);
    EXPECT_STREQ("", b[5]);
    for (int i = 0; i < 6; i++) EXPECT_EQ('#', b[i][sizes[i]]) << "guard byte of buffer " << i;
}

TEST_F(KwfTest, LinksEndAtABlankOrForeignLineAndEveryRecordCountsOnce) {
    // The count's 2048-byte line buffer holds 2047 bytes, the search's 8191:
    // a longer record still counts once, and the rest of it is never taken
    // for a record of its own, even when it reads like one.
    const std::string line2046 = "A = t, x, " + std::string(2036, 'p');
    const std::string line2047 = "A = t, x, " + std::string(2037, 'p');
    const std::string line2048 = "A = t, x, " + std::string(2038, 'p');
    const std::string restLikeRecord = "A = t, x, " + std::string(2037, 'p') + "A = r, x, r.htm";
    const std::string kw3k = "A = t, " + std::string(3000, 'k') + "; x, t.htm";  // builder-made
    const std::string line9000 = "A = t, x, " + std::string(8181, 'p') + "A = r, x, r.htm";
    const std::tuple<const char*, Lines, int, Lines> cases[] = {
        {"blank", {"A = a, x, a.htm", " ", "A = b, x, b.htm"}, 1, {"a"}},
        {"foreign", {"A = a, x, a.htm", "B = x, x, x.htm", "A = b, x, b.htm"}, 1, {"a"}},
        {"2046", {"A = a, x, a.htm", line2046, "A = b, x, b.htm"}, 3, {"a", "t", "b"}},
        {"2047", {"A = a, x, a.htm", line2047, "A = b, x, b.htm"}, 3, {"a", "t", "b"}},
        {"2048", {"A = a, x, a.htm", line2048, "A = b, x, b.htm"}, 3, {"a", "t", "b"}},
        {"rest like a record", {restLikeRecord, "A = b, x, b.htm"}, 2, {"t", "b"}},
        {"3 KB of keywords among 7",
         {"A = 1, x, 1.htm", "A = 2, x, 2.htm", "A = 3, x, 3.htm", kw3k, "A = 5, x, 5.htm",
          "A = 6, x, 6.htm", "A = 7, x, 7.htm"},
         7,
         {"1", "2", "3", "t", "5", "6", "7"}},
        {"longer than the search's line", {line9000, "A = b, x, b.htm"}, 2, {"t", "b"}},
        {"no pages", {}, 0, {}}};
    for (const auto& [what, links, count, titles] : cases) {
        const std::string db = Put("c.kwf", Db("C:\\pages", links));
        int pages = -1;
        ASSERT_EQ(0, CaughtCode([&] { pages = Kwf_CountPages(db.c_str()); })) << what;
        EXPECT_EQ(count, pages) << what;
        ASSERT_EQ(0, Search(db, "x")) << what;
        EXPECT_EQ(titles, Titles()) << what;
        EXPECT_EQ(static_cast<int>(titles.size()), rec_.count) << what;
    }
    // Missing values read as empty.
    const std::string db = Put("s.kwf", Db("C:\\pages", {"A = only a title", "A = t2, kw"}));
    ASSERT_EQ(0, Search(db, "t"));
    EXPECT_EQ((Lines{"only a title | (none) | ", "t2 | (none) | "}), rec_.hits);
}

TEST_F(KwfTest, DamagedDatabasesReportAndReleaseEverything) {
    struct {
        const char* what;
        std::string bytes;
        int headerCode, searchCode;
    } cases[] = {
        {"no section head", "Application = Tessaly!\r\n", 593, 593},
        {"keys out of order", Header({{2, "bNewFile = 0"}, {3, "Version = 100"}}), 596, 596},
        {"header cut short", "[main] \r\nApplication = Tessaly!\r\nVersion = 100\r\n", 595, 595},
        {"no links section", Header({}), 0, 591}};
    const uint8_t* sp = BigStack_Sys()->sp;
    const int descriptors = OpenDescriptors();
    for (const auto& c : cases) {
        const std::string db = Put("x.kwf", c.bytes);
        EXPECT_EQ(c.headerCode, CaughtCode([&] { Kwf_IsNewFile(db.c_str()); })) << c.what;
        EXPECT_EQ(c.searchCode, Search(db, "x")) << c.what;
        EXPECT_EQ(-1, rec_.count) << c.what << ": no end reported";
        EXPECT_EQ(sp, BigStack_Sys()->sp) << c.what;
        EXPECT_EQ(0, Except3_GetSys()->nTry) << c.what;
        EXPECT_EQ(descriptors, OpenDescriptors()) << c.what << ": the database left open";
    }
    EXPECT_EQ(CodeName(FileX_Err_CannotReadOpen.code),
              CodeName(Search(Inside("missing.kwf"), "x")));
    EXPECT_NE(std::string::npos, LastText().find("missing.kwf"));
}

// ---- Search ------------------------------------------------------------------------

// A hit reports the keyword entry it lies in (from the ';' before it to the
// next ';', blanks in front skipped), once per page, "(none)" when only the
// title holds the query; the path is not searched. A hit begins on a
// character of the text, never on the trail byte of a double-byte character,
// and ASCII letters fold only as single-byte characters.
TEST_F(KwfTest, SearchFindsTheKeywordEntryOnWholeCharacters) {
    const struct {
        const char *title, *keywords, *query, *entry;  // entry nullptr: no hit
        bool last = false;                             // the keywords end the line (no path)
    } cases[] = {
        {"t", "a; bcd; e", "c", "bcd"},
        {"t", "a; bcd; e", "d; e", "bcd"},  // ends at the first ';' after the match start
        {"t", "a; bcd; e", "e", "e"},
        {"t", ";abc", "abc", "abc"},
        {"t", "x;   yz ;w", "y", "yz "},
        {"t", "a; bcd; e", "; e", "e"},  // a match on ';' belongs to the entry after it
        {"京都の寺", "寺; 京都", "京都", "京都"},
        {"京都旅行", "旅行", "京都", "(none)"},
        {"t", "", "p.htm", nullptr},
        {"t", "x", "", nullptr},
        {"-", "ファイル", "求", nullptr},  // 83 8B 81 76 holds 求's 8B 81
        {"-", "キャー", "メ", nullptr},    // ャー is 83 83 81 5B: メ is 83 81
        {"-", "ヘzq", "wzq", nullptr},     // ヘ is 83 77
        {"-", "ヘzq", "WZQ", nullptr},
        {"-", "ヘ", "ジ", nullptr},    // ジ is 83 57: a trail w is not a W
        {"-", "表示", "\\", nullptr},  // 表 is 95 5C
        {"-", "ＨＴＭＬ", "html", nullptr},
        {"-", "ｈｔｍｌ", "ＨＴＭＬ", nullptr},
        {"-", "ヘzq", "ヘZQ", "ヘzq"},               // folding on the single-byte letters
        {"-", "ファイル求; x", "求", "ファイル求"},  // a real 求 at the end of an entry
        {"-", "京都; 寺", "京都", "京都"},           // a double-byte query at the start
        {"-", "寺; 古都京都", "京都", "古都京都"},   // and at the end of the value
        {"-", "x; aBC", "abc", "aBC"},
        {"-", "HTML; css", "html", "HTML"},
        {"-", "ＨＴＭＬ", "ＨＴＭＬ", "ＨＴＭＬ"},
        {"-", "寺; 京都", "京都", "京都", true},  // the line's last bytes
        // A query of letters is found by its least common letter, in either case.
        {"-", "x; KyOtO", "kYoTo", "KyOtO"},
        {"-", "Q; aq", "AQ", "aq"},
        {"-", "Zq; qz; QZ", "qz", "qz"},
        {"-", "kyotx; KYOT", "kyoto", nullptr},
        {"-", "x; Jazz", "JAZZ", "Jazz", true},
    };
    for (const auto& c : cases) {
        const std::string line =
            std::string("A = ") + c.title + ", " + c.keywords + (c.last ? "" : ", p.htm");
        ASSERT_EQ(0, Search(Put("s.kwf", Db("C:\\pages", {line})), c.query)) << Utf8(line);
        const Lines want = c.entry ? Lines{std::string(c.title) + " | " + c.entry + " | " +
                                           (c.last ? "" : "file:///C|/pages/p.htm")}
                                   : Lines{};
        EXPECT_EQ(want, rec_.hits) << Utf8(line) << " / " << Utf8(c.query);
        EXPECT_EQ(static_cast<int>(want.size()), rec_.count) << Utf8(line);
    }
}

TEST_F(KwfTest, SearchResolvesPathsAgainstBase) {
    const std::string dir = tmp_.path();
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"C:\\pages", "travel\\kyoto.htm", "file:///C|/pages/travel/kyoto.htm"},
        {"C:\\pages", "my page.htm", "file:///C|/pages/my page.htm"},  // no %20
        {"C:\\pages", "表\\a.htm", "file:///C|/pages/表/a.htm"},       // trail byte 0x5C stays
        {"C:\\pages", "D:\\other\\x.htm", "file:///D|/other/x.htm"},
        {".", "travel\\kyoto.htm", "file://" + dir + "/travel/kyoto.htm"},
        {"\\srv\\www", "a.htm", "file:///srv/www/a.htm"},
        // A network path is given no scheme, joined or stored.
        {"\\\\server\\pages", "a.htm", "//server/pages/a.htm"},
        {".", "\\\\host\\x.htm", "//host/x.htm"},
        {"C:\\pages", "", ""},
        // A URL reader opens the file: '#', '?' and a '%' that begins no
        // escape are escaped, escapes and blanks stay; a URL stays as stored.
        {"\\srv", "#a b?.htm", "file:///srv/%23a b%3F.htm"},
        {"\\srv", "caf%C3%A9%2541.htm", "file:///srv/caf%C3%A9%2541.htm"},
        {"\\srv", "100%.htm", "file:///srv/100%25.htm"},
        {"\\srv", "%zz%4", "file:///srv/%25zz%254"},
        {"\\srv", "\x95\x5C#.htm", "file:///srv/\x95\x5C%23.htm"},
        {"C:\\p?", "a.htm", "file:///C|/p%3F/a.htm"},
        {"\\srv", ".\\http:evil.example.htm", "file:///srv/http:evil.example.htm"},
        {"\\srv", ".\\c:x.htm", "file:///srv/c:x.htm"},
        {"\\srv", "http://h/a?b#c", "http://h/a?b#c"},
        {"\\srv", "file:///x/a?b", "file:///x/a?b"}};
    for (const auto& [base, path, href] : cases) {
        const std::string db = Put("vark.kwf", Db(base, {"A = t, k, " + path}));
        ASSERT_EQ(0, Search(db, "k")) << base << " + " << path;
        EXPECT_EQ(Lines{"t | k | " + href}, rec_.hits) << Utf8(base) << " + " << Utf8(path);
    }
}

TEST(LinkMakerTest, EveryLinkIsWhatTheWholeWayMakesAndPlainNamesTakeTheShortWay) {
    const std::string longBase = "\\home\\" + std::string(240, 'b');
    // 表 is 95 5C: a trail byte 0x5C.
    // clang-format off
    const std::string bases[] = {
        "\\home\\u\\pages", "\\home\\u\\pages\\", "C:\\pages", "C:\\", "\\", "", "\\srv",
        "\\home\\\x95\x5C\\p",
        "\\home\\\x95\x5C", "\\a\\..\\b", "\\a\\.\\b", "..\\b", "pages", "\\p%41\\q",
        "\\p%4", "\\pa#th?", "\\\\server\\share", "file:\\x", "http:\\h\\x", "/unix/form",
        "C:/pages/", longBase, longBase + "bbbbbbbbbbbbbbbb"};
    std::vector<std::string> names = {
        "a.htm", "sub\\a.htm", "\x95\x5C\\a.htm", "\x95\x5C.htm", "..\\a.htm", ".\\a.htm",
        "a\\..\\b.htm", "a\\.\\b.htm", ".hidden.htm", "a\\.x", "a/.x", "a\\.", "a.", "x\\",
        "#frag.htm", "?q.htm", "100%.htm", "%41.htm", "%2F.htm", "%zz", "%", "a%4", "a/b.htm",
        "C:x", "c:\\x.htm", "\\rooted.htm", "/rooted.htm", "\\\\host\\x", "file:x", "http:x",
        "\x95", "a\x95", "\x95\x5C", "a b.htm", "\x82\xa0\x82\xa2.htm", "", "x"};
    for (int n = 245; n <= 262; n++)
        names.push_back(std::string(static_cast<size_t>(n - 6), 'n') + ".htm");
    for (const std::string& base : bases)
        for (const std::string& name : names) {
            char want[kwf_detail::kLinkSize], got[kwf_detail::kLinkSize];
            snprintf(want, sizeof want, "%s", name.c_str());
            kwf_detail::makeLink(want, base.c_str());
            const kwf_detail::LinkMaker links(base.c_str());
            EXPECT_STREQ(want, links.Make(name.c_str(), got)) << Utf8(base) << " + " << Utf8(name);
        }
    // The short way serves what a built folder holds, and only that.
    const std::string home = "\\home\\u\\pages";
    const size_t room = 259 - (home.size() + 1);  // the joined form is 259 bytes at most
    const kwf_detail::LinkMaker links(home.c_str());
    const std::pair<std::string, bool> ways[] = {
        {"a.htm", true}, {"sub\\\x95\x5C" "a.htm", true}, {"\x95\x5C.htm", false},
        {"#a%.htm", true}, {"a.b.c", true},
        {"..\\a.htm", false}, {"a\\.\\b", false}, {".a", false}, {"\\a", false}, {"c:a", false},
        {"", false}, {std::string(room, 'n'), true}, {std::string(room + 1, 'n'), false}};
    // clang-format on
    for (const auto& [name, shares] : ways) EXPECT_EQ(shares, links.Shares(name.c_str())) << name;
    for (const char* base : {"\\a\\..\\b", "\\p", "file:\\x\\y"})
        EXPECT_FALSE(kwf_detail::LinkMaker(base).Shares("a.htm")) << base;
}

TEST_F(KwfTest, SearchCutsValuesAndNeverOverruns) {
    const std::string longTitle = "T" + std::string(5000, 't');
    const std::string longKeywords = "K" + std::string(5000, 'k');
    const std::string db = Put(
        "s.kwf",
        Db("C:\\pages", {"A = " + longTitle + ", x, 1.htm", "A = y, " + longKeywords + ", 2.htm",
                         "A = z, x, " + std::string(400, 'r') + ".htm",
                         "A = w, x, D:\\" + std::string(4200, 'a'), "A = v, x, after.htm"}));
    ASSERT_EQ(0, Search(db, "x"));
    // A joined path is cut at 259 bytes before the scheme goes in front; an
    // absolute path is cut only so that the scheme fits.
    EXPECT_EQ((Lines{longTitle.substr(0, 4095) + " | x | file:///C|/pages/1.htm",
                     "z | x | file:///C|/pages/" + std::string(259 - 9, 'r'),
                     "w | x | file:///D|/" + std::string(4095 - 11, 'a'),
                     "v | x | file:///C|/pages/after.htm"}),
              rec_.hits);
    ASSERT_EQ(0, Search(db, "K"));
    EXPECT_EQ(Lines{"y | " + longKeywords.substr(0, 4095) + " | file:///C|/pages/2.htm"},
              rec_.hits);
}

TEST_F(KwfTest, SearchTakesNoHeapMemoryPerLine) {
    Lines many;
    for (int i = 0; i < 500; i++)
        many.push_back("A = page " + std::to_string(i) + ", kw; page; x, dir\\p" +
                       std::to_string(i) + ".htm");
    const std::string small = Put("small.kwf", Db("C:\\pages", {many[0]}));
    const std::string big = Put("big.kwf", Db("C:\\pages", many));
    int count = -1;
    const Kwf_HitSink sink{[](void*, const char*, const char*, const char*) {},
                           [](void* c, int n) { *static_cast<int*>(c) = n; }, &count};
    long allocs[2] = {-1, -2};
    ASSERT_EQ(0, CaughtCode([&] {
                  Kwf_Search(small.c_str(), "page", &sink);  // first-use costs out of the count
                  for (int i = 0; i < 2; i++) {
                      AllocCounter counter;
                      Kwf_Search((i ? big : small).c_str(), "page", &sink);
                      allocs[i] = counter.Count();
                  }
              }));
    EXPECT_EQ(500, count);
    EXPECT_EQ(allocs[0], allocs[1]) << "only the platform's opens of the file allocate";
}

}  // namespace
