#include "app/kwf.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "app/crekey.h"
#include "components/bigstack.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "support/testsupport.h"

namespace {

using Lines = std::vector<std::string>;

// Joins lines, each ended by CR LF, as a text-mode writer puts them on disk.
std::string CrLf(const Lines& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

// The header lines of a built database with Base = base; extra lines follow
// DispTarget.
Lines HeaderLines(const std::string& base, const Lines& extra = {}) {
    Lines lines = {"[main] ",        "Application = Tessaly!", "Version = 100",
                   "bNewFile = 0",   "Base = " + base,         "Update = 2000/03/30-21:15:07",
                   "bCanUpdate = 1", "DispURL = (default)",    "DispTarget = main"};
    lines.insert(lines.end(), extra.begin(), extra.end());
    return lines;
}

// The bytes of a header alone with Base C:\pages, lines replaced by number.
std::string Header(const std::vector<std::pair<int, std::string>>& changes,
                   const Lines& extra = {}) {
    Lines lines = HeaderLines("C:\\pages", extra);
    for (const auto& [i, line] : changes) lines[i] = line;
    return CrLf(lines);
}

// A whole database: header, separator, "links" with the given lines, separator.
std::string Db(const std::string& base, const Lines& links, const Lines& extraHeader = {}) {
    Lines lines = HeaderLines(base, extraHeader);
    lines.push_back(" ");
    lines.push_back("[links] ");
    lines.insert(lines.end(), links.begin(), links.end());
    lines.push_back(" ");
    return CrLf(lines);
}

time_t Time2000() {
    time_t t = 0;
    StrX_MakeTime(&t, 2000, 3, 30, 21, 15, 7);
    return t;
}

// The hits of a search as "title | entry | href" ("(none)" for no entry).
struct Recorder {
    Lines hits;
    int ends = 0, count = -1;
    static void OnHit(void* c, const char* title, const char* entry, const char* href) {
        static_cast<Recorder*>(c)->hits.push_back(std::string(title) + " | " +
                                                  (entry ? entry : "(none)") + " | " + href);
    }
    static void OnEnd(void* c, int count) {
        static_cast<Recorder*>(c)->ends++;
        static_cast<Recorder*>(c)->count = count;
    }
};

class KwfTest : public LibraryTest {
   protected:
    // Writes bytes to name in the temporary folder; returns its inside path.
    std::string Put(const std::string& name, const std::string& bytes) {
        tmp_.Write(name, bytes);
        return Inside(name);
    }
    std::string Inside(const std::string& name) { return tmp_.inside() + "\\" + name; }
    // Runs a search inside a try frame; the hits and end count land in rec_.
    int Search(const std::string& db, const std::string& query) {
        rec_ = Recorder{};
        Kwf_HitSink sink = {Recorder::OnHit, Recorder::OnEnd, &rec_};
        return CaughtCode([&] { Kwf_Search(db.c_str(), query.c_str(), &sink); });
    }
    // Runs fn inside a try frame and returns its result; a report fails the test.
    template <class Fn>
    auto Ok(Fn fn) {
        decltype(fn()) result{};
        EXPECT_EQ(0, CaughtCode([&] { result = fn(); })) << LastText();
        return result;
    }
    // The titles of the last search's hits.
    Lines Titles() const {
        Lines titles;
        for (const std::string& h : rec_.hits) titles.push_back(h.substr(0, h.find(" | ")));
        return titles;
    }

    TempDir tmp_;
    Recorder rec_;
};

// ---- The layout --------------------------------------------------------------

const char kTwoPageDb[] =
    "[main] \r\n"
    "Application = Tessaly!\r\n"
    "Version = 100\r\n"
    "bNewFile = 0\r\n"
    "Base = C:\\pages\r\n"
    "Update = 2000/03/30-21:15:07\r\n"
    "bCanUpdate = 1\r\n"
    "DispURL = (default)\r\n"
    "DispTarget = main\r\n"
    " \r\n"
    "[links] \r\n"
    "A = 京都旅行, 旅行; 京都; 寺, travel\\kyoto.htm\r\n"
    "A = \"Notes, misc\", , notes.htm\r\n"
    " \r\n";

TEST_F(KwfTest, WritesTheTwoPageDatabaseByteForByte) {
    const std::string db = Inside("vark.kwf");
    IniWriter w{};
    ASSERT_EQ(0, CaughtCode([&] {
                  IniFile_OpenWrite(&w, db.c_str());
                  CreKey_WriteHeaderAt(&w, "C:\\pages", "main", Time2000());
                  CreKey_WriteLink(&w, "京都旅行", "旅行; 京都; 寺", "travel\\kyoto.htm");
                  CreKey_WriteLink(&w, "Notes, misc", "", "notes.htm");
                  IniFile_CloseWrite(&w);
              }));
    const std::string bytes = tmp_.Read("vark.kwf");
    EXPECT_EQ(kTwoPageDb, bytes);
    EXPECT_EQ(14, std::count(bytes.begin(), bytes.end(), '\n'));
}

TEST_F(KwfTest, EveryHeaderReaderReadsTheTwoPageDatabase) {
    const std::string db = Put("vark.kwf", kTwoPageDb);
    StrX_SetExePath("\\opt\\tessaly\\tessaly");
    const char* p = db.c_str();
    uint8_t* sp = BigStack_Sys()->sp;
    int version = 0, pages = -1, canUpdate = -1;
    bool newFile = true, notFixed = false;
    char base[260] = "x", resultFile[260] = "", dispUrl[260] = "", target[40] = "x";
    char guide[256] = "untouched";
    time_t updated = 0;
    ASSERT_EQ(0, CaughtCode([&] {
                  version = Kwf_ReadVersion(p);
                  newFile = Kwf_IsNewFile(p);
                  Kwf_ReadBase(p, base, sizeof base);
                  Kwf_ReadUpdateTime(p, &updated);
                  pages = Kwf_CountPages(p);
                  Kwf_ReadDisplay(p, resultFile, sizeof resultFile, dispUrl, sizeof dispUrl, target,
                                  sizeof target, &canUpdate);
                  notFixed = Kwf_ReadGuide(p, guide, sizeof guide);
              }));
    EXPECT_EQ(100, version);
    EXPECT_FALSE(newFile);
    EXPECT_STREQ("C:\\pages", base);
    EXPECT_EQ(Time2000(), updated);
    EXPECT_EQ(2, pages);
    EXPECT_STREQ("\\opt\\tessaly\\out.htm", resultFile);
    EXPECT_STREQ("\\opt\\tessaly\\outframe.htm", dispUrl);
    EXPECT_STREQ("main", target);
    EXPECT_EQ(1, canUpdate);
    EXPECT_TRUE(notFixed);
    EXPECT_STREQ("untouched", guide);
    EXPECT_EQ(sp, BigStack_Sys()->sp) << "every reader pops its mark";
    EXPECT_EQ(0, Except3_GetSys()->nTry);
}

// ---- Header readers at their edges ---------------------------------------------

TEST_F(KwfTest, ReadVersionComparesTheApplicationExactly) {
    struct {
        const char *application, *versionLine;
        int expected;
    } cases[] = {{"Tessaly!", "Version = 101", 101},
                 {"Tessaly! ", "Version = 100", 100},  // unquoted values lose trailing blanks
                 {"\"Tessaly! \"", "Version = 100", 9999},
                 {"tessaly!", "Version = 100", 9999},
                 {"", "Version = 100", 9999},
                 {"Tessaly!", "Version = ", 0},
                 {"Tessaly!", "Version=-7", -7},
                 {"Other", "NoVersionHere = 1", 9999}};  // Version is then not read at all
    for (const auto& c : cases) {
        const std::string db =
            Put("v.kwf",
                Header({{1, std::string("Application = ") + c.application}, {2, c.versionLine}}));
        EXPECT_EQ(c.expected, Ok([&] { return Kwf_ReadVersion(db.c_str()); }))
            << c.application << ", " << c.versionLine;
    }
}

TEST_F(KwfTest, IsNewFileReadsTheFlag) {
    const std::string db = Put("n.kwf", Header({{3, "bNewFile = 1"}}));
    EXPECT_TRUE(Ok([&] { return Kwf_IsNewFile(db.c_str()); }));
}

TEST_F(KwfTest, ReadGuideOfFixedDatabases) {
    struct {
        Lines extra;
        bool notFixed;
        const char* guide;
    } cases[] = {
        {{}, true, "untouched"},
        {{"bFixed = 1", "Guide = 管理者に頼んでください"}, false, "管理者に頼んでください"},
        {{"bFixed = 0", "Guide = shown anyway"}, true, "shown anyway"},
        {{"bFixed = 1", "Guide = "}, false, ""}};
    for (const auto& c : cases) {
        const std::string db = Put("g.kwf", Db("C:\\pages", {"A = t, k, p.htm"}, c.extra));
        char guide[256] = "untouched";
        EXPECT_EQ(c.notFixed, Ok([&] { return Kwf_ReadGuide(db.c_str(), guide, sizeof guide); }))
            << Utf8(c.guide);
        EXPECT_STREQ(c.guide, guide);
        EXPECT_EQ(1, Ok([&] { return Kwf_CountPages(db.c_str()); }));
    }
    // bFixed without Guide: the next line is not Guide, or there is none.
    char guide[12] = "untouched";
    const std::string noGuide = Put("g.kwf", Db("C:\\pages", {}, {"bFixed = 1"}));
    EXPECT_EQ(596, CaughtCode([&] { Kwf_ReadGuide(noGuide.c_str(), guide, sizeof guide); }));
    const std::string cut = Put("h.kwf", Header({}, {"bFixed = 1"}));
    EXPECT_EQ(595, CaughtCode([&] { Kwf_ReadGuide(cut.c_str(), guide, sizeof guide); }));
    EXPECT_STREQ("untouched", guide);
    // The guide is cut to its buffer.
    const std::string longGuide =
        Put("g.kwf", Db("C:\\pages", {}, {"bFixed = 1", "Guide = " + std::string(300, 'g')}));
    memset(guide, '#', sizeof guide);
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadGuide(longGuide.c_str(), guide, 10); }));
    EXPECT_STREQ("ggggggggg", guide);
    EXPECT_EQ('#', guide[10]) << "guard byte";
}

TEST_F(KwfTest, LongBaseLineBreaksOnlyTheShortLineBuffer) {
    // The 256-byte line buffer of Kwf_ReadUpdateTime holds 255 bytes of a line:
    // a longer Base line leaves a rest that is read instead of Update.
    const std::pair<size_t, int> cases[] = {{255, 0}, {256, 596}, {1000, 596}};
    for (const auto& [length, updateCode] : cases) {
        const std::string db =
            Put("b.kwf", Header({{4, "Base = " + std::string(length - 7, 'b')}}));
        time_t t = 0;
        EXPECT_EQ(updateCode, CaughtCode([&] { Kwf_ReadUpdateTime(db.c_str(), &t); })) << length;
        char base[1024], r[260], u[260], target[40];
        int canUpdate = 0;
        EXPECT_EQ(0, CaughtCode([&] {
                      Kwf_ReadBase(db.c_str(), base, sizeof base);
                      Kwf_ReadDisplay(db.c_str(), r, sizeof r, u, sizeof u, target, sizeof target,
                                      &canUpdate);
                  }))
            << length;
        EXPECT_EQ(length - 7, strlen(base)) << length;
        EXPECT_EQ(1, canUpdate);
    }
}

TEST_F(KwfTest, ReadBaseCutsToItsBuffer) {
    const std::string db = Put("b.kwf", Header({{4, "Base = C:\\" + std::string(400, 'x')}}));
    char base[24];
    memset(base, '#', sizeof base);
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadBase(db.c_str(), base, 20); }));
    EXPECT_EQ("C:\\" + std::string(16, 'x'), base);
    EXPECT_EQ('#', base[20]) << "guard byte";
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadBase(db.c_str(), base, 1); }));
    EXPECT_EQ('\0', base[0]);
}

TEST_F(KwfTest, ReadDisplayKeepsStoredValuesAndCutsThem) {
    StrX_SetExePath("\\opt\\tessaly\\tessaly");
    std::string db = Put("d.kwf", Header({{6, "bCanUpdate = 0"},
                                          {7, "DispURL = http://example.com/frames.htm"},
                                          {8, "DispTarget = " + std::string(100, 't')}}));
    char resultFile[12], dispUrl[40], target[12];
    memset(resultFile, '#', sizeof resultFile);
    memset(dispUrl, '#', sizeof dispUrl);
    memset(target, '#', sizeof target);
    int canUpdate = -1;
    // The URL is kept to the smaller path buffer (10 bytes here).
    ASSERT_EQ(0, CaughtCode([&] {
                  Kwf_ReadDisplay(db.c_str(), resultFile, 10, dispUrl, 39, target, 10, &canUpdate);
              }));
    EXPECT_EQ(0, canUpdate);
    EXPECT_STREQ("http://ex", dispUrl);
    EXPECT_EQ(std::string(9, 't'), target);
    EXPECT_STREQ("\\opt\\tes", resultFile) << "out.htm in the program folder, at most size - 2";
    EXPECT_TRUE(resultFile[10] == '#' && dispUrl[39] == '#' && target[10] == '#') << "guards";

    // A quoted "(default)" is still the default; an empty target stays empty.
    db = Put("d.kwf", Header({{7, "DispURL = \"(default)\""}, {8, "DispTarget = "}}));
    StrX_SetExePath("\\opt\\t\\tessaly-cli");
    char r[260], u[260];
    ASSERT_EQ(0, CaughtCode([&] {
                  Kwf_ReadDisplay(db.c_str(), r, sizeof r, u, sizeof u, target, sizeof target,
                                  &canUpdate);
              }));
    EXPECT_STREQ("", target);
    EXPECT_STREQ("\\opt\\t\\outframe.htm", u);
}

TEST_F(KwfTest, CountPagesStopsAtALineTooLongForItsBuffer) {
    // The 2048-byte line buffer holds 2047 bytes: a longer line's rest is read
    // as a line of its own, which ends the count.
    const std::pair<size_t, int> cases[] = {{2046, 3}, {2047, 2}, {5000, 2}};
    for (const auto& [length, count] : cases) {
        const std::string db =
            Put("c.kwf",
                Db("C:\\pages", {"A = first, k, a.htm",
                                 "A = t, k, " + std::string(length - 10, 'p'), "A = z, k, z.htm"}));
        EXPECT_EQ(count, Ok([&] { return Kwf_CountPages(db.c_str()); })) << length;
        // The search reads lines of up to 8191 bytes whole.
        ASSERT_EQ(0, Search(db, "z"));
        EXPECT_EQ(Lines{"z"}, Titles()) << length;
    }
    // No pages: 0, and a search reports 0 at its end.
    const std::string empty = Put("e.kwf", Db("C:\\pages", {}));
    EXPECT_EQ(0, Ok([&] { return Kwf_CountPages(empty.c_str()); }));
    ASSERT_EQ(0, Search(empty, "a"));
    EXPECT_TRUE(rec_.ends == 1 && rec_.count == 0);
}

TEST_F(KwfTest, DamagedDatabasesReportAndReleaseEverything) {
    struct {
        const char* what;
        std::string bytes;
        int code;
    } cases[] = {
        {"no section head", "Application = Tessaly!\r\n", 593},
        {"another section", "[other] \r\nApplication = Tessaly!\r\n", 591},
        {"empty file", "", 361},
        {"keys out of order", Header({{2, "bNewFile = 0"}, {3, "Version = 100"}}), 596},
        {"header cut short", CrLf({"[main] ", "Application = Tessaly!", "Version = 100"}), 595}};
    for (const auto& c : cases) {
        const std::string db = Put("x.kwf", c.bytes);
        uint8_t* sp = BigStack_Sys()->sp;
        EXPECT_EQ(c.code, CaughtCode([&] { Kwf_IsNewFile(db.c_str()); })) << c.what;
        EXPECT_EQ(sp, BigStack_Sys()->sp) << c.what;
        EXPECT_EQ(0, Except3_GetSys()->nTry) << c.what;
    }
    const std::string missing = Inside("missing.kwf");
    EXPECT_EQ(363, CaughtCode([&] { Kwf_ReadVersion(missing.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("missing.kwf"));
    const std::string noLinks = Put("h.kwf", Header({}));
    EXPECT_EQ(591, CaughtCode([&] { Kwf_CountPages(noLinks.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("セクション links が見つかりません"));
}

// ---- Search ------------------------------------------------------------------------

TEST_F(KwfTest, SearchCutsTheMatchedKeywordEntry) {
    struct {
        const char *keywords, *query, *entry;
    } cases[] = {{"a; bcd; e", "c", "bcd"},
                 {"a; bcd; e", "d; e", "bcd"},  // the entry ends at the first
                                                // ';' after the match start
                 {"a; bcd; e", "e", "e"},
                 {"a; bcd; e", "A", "a"},
                 {";abc", "abc", "abc"},
                 {"x;   yz ;w", "y", "yz "},  // blanks skipped in front only
                 {"a; bcd; e", "; e", "e"},   // a match on the ';' belongs to the entry after it
                 {"k1;k2;k2", "k2", "k2"}};
    for (const auto& c : cases) {
        const std::string db =
            Put("s.kwf", Db("C:\\pages", {std::string("A = title, ") + c.keywords + ", p.htm"}));
        ASSERT_EQ(0, Search(db, c.query)) << c.keywords;
        EXPECT_EQ(Lines{std::string("title | ") + c.entry + " | file:///C|/pages/p.htm"}, rec_.hits)
            << c.keywords << " / " << c.query;
        EXPECT_EQ(1, rec_.count);
    }
}

TEST_F(KwfTest, SearchMatchesAsciiWithoutCaseAndNothingElse) {
    const std::string db =
        Put("s.kwf", Db("C:\\pages", {"A = one, HTML; css, 1.htm", "A = two, ＨＴＭＬ, 2.htm",
                                      "A = three, ｈｔｍｌ, 3.htm", "A = four, , 4.htm"}));
    // Full-width letters neither fold nor match half-width; titles match too;
    // the path is not searched; an empty query finds nothing.
    const std::pair<const char*, Lines> cases[] = {
        {"html", {"one"}},       {"HtMl", {"one"}}, {"ＨＴＭＬ", {"two"}},
        {"ｈｔｍｌ", {"three"}}, {"", {}},          {"o", {"one", "two", "four"}},
        {"htm", {"one"}}};
    for (const auto& [query, titles] : cases) {
        ASSERT_EQ(0, Search(db, query)) << query;
        EXPECT_EQ(titles, Titles()) << Utf8(query);
        EXPECT_EQ(static_cast<int>(titles.size()), rec_.count) << Utf8(query);
        EXPECT_EQ(1, rec_.ends);
    }
}

TEST_F(KwfTest, SearchListsAPageOnceWithItsEntry) {
    const std::string db =
        Put("s.kwf", Db("C:\\pages", {"A = 京都の寺, 寺; 京都, a.htm", "A = 京都旅行, 旅行, b.htm",
                                      "A = 大阪, 食べ物, c.htm"}));
    ASSERT_EQ(0, Search(db, "京都"));
    EXPECT_EQ((Lines{"京都の寺 | 京都 | file:///C|/pages/a.htm",
                     "京都旅行 | (none) | file:///C|/pages/b.htm"}),
              rec_.hits);
    EXPECT_EQ(2, rec_.count);
}

TEST_F(KwfTest, SearchResolvesPathsAgainstBase) {
    const std::string dir = tmp_.path();
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"C:\\pages", "travel\\kyoto.htm", "file:///C|/pages/travel/kyoto.htm"},
        {"C:\\pages\\", "a.htm", "file:///C|/pages/a.htm"},
        {"C:\\pages", "my page.htm", "file:///C|/pages/my page.htm"},  // no %20
        {"C:\\pages", "表\\a.htm", "file:///C|/pages/表/a.htm"},       // trail byte 0x5C stays
        {"C:\\pages\\sub", "..\\b.htm", "file:///C|/pages/b.htm"},
        {"C:\\pages", "D:\\other\\x.htm", "file:///D|/other/x.htm"},
        {"C:\\pages", "http://example.com/x.htm", "http://example.com/x.htm"},
        {"\\\\server\\share", "a.htm", "//server/share/a.htm"},
        {".", "travel\\kyoto.htm", "file://" + dir + "/travel/kyoto.htm"},
        {"site", "a.htm", "file://" + dir + "/site/a.htm"},
        {"\\srv\\www", "a.htm", "file:///srv/www/a.htm"},
        {"C:\\pages", "", ""}};
    ASSERT_EQ('\x5C', std::string("表")[1]) << "the case above needs a 0x5C trail byte";
    for (const auto& [base, path, href] : cases) {
        const std::string db = Put("vark.kwf", Db(base, {"A = t, k, " + path}));
        ASSERT_EQ(0, Search(db, "k")) << base << " + " << path;
        EXPECT_EQ(Lines{"t | k | " + href}, rec_.hits) << Utf8(base) << " + " << Utf8(path);
    }
}

TEST_F(KwfTest, SearchEndsTheListAtABlankOrForeignLineAndReadsMissingValuesAsEmpty) {
    for (const char* between : {" ", "B = x, x, x.htm", ""}) {
        const std::string db =
            Put("s.kwf", Db("C:\\pages", {"A = first, x, 1.htm", between, "A = second, x, 2.htm"}));
        ASSERT_EQ(0, Search(db, "x")) << between;
        EXPECT_EQ(Lines{"first"}, Titles()) << between;
        EXPECT_EQ(1, rec_.count);
    }
    const std::string db = Put("s.kwf", Db("C:\\pages", {"A = only a title", "A = t2, kw"}));
    ASSERT_EQ(0, Search(db, "t"));
    EXPECT_EQ((Lines{"only a title | (none) | ", "t2 | (none) | "}), rec_.hits);
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
    // absolute path stays as stored, cut only so that the scheme fits; the
    // buffers after the path were not touched.
    EXPECT_EQ((Lines{longTitle.substr(0, 4095) + " | x | file:///C|/pages/1.htm",
                     "z | x | file:///C|/pages/" + std::string(259 - 9, 'r'),
                     "w | x | file:///D|/" + std::string(4095 - 11, 'a'),
                     "v | x | file:///C|/pages/after.htm"}),
              rec_.hits);
    ASSERT_EQ(0, Search(db, "K"));
    EXPECT_EQ(Lines{"y | " + longKeywords.substr(0, 4095) + " | file:///C|/pages/2.htm"},
              rec_.hits);
}

TEST_F(KwfTest, SearchFailuresCloseTheDatabaseAndPopTheMark) {
    const std::pair<std::string, int> cases[] = {{Header({}), 591},  // no links section
                                                 {"[main] \r\nApplication = Tessaly!\r\n", 595}};
    for (const auto& [bytes, code] : cases) {
        const std::string db = Put("f.kwf", bytes);
        uint8_t* sp = BigStack_Sys()->sp;
        EXPECT_EQ(code, Search(db, "x"));
        EXPECT_EQ(0, rec_.ends);
        EXPECT_EQ(sp, BigStack_Sys()->sp);
        EXPECT_EQ(0, Except3_GetSys()->nTry);
    }
    EXPECT_EQ(363, Search(Inside("none.kwf"), "x"));
}

// A sink that takes no heap memory: it keeps the last hit in a fixed buffer
// and counts allocations from the first hit to the end.
struct CountingSink {
    int hits = 0, count = -1;
    char last[256] = "";
    std::optional<AllocCounter> sinceFirstHit;
    long allocs = -1;
    static void OnHit(void* c, const char* title, const char* entry, const char* href) {
        auto* s = static_cast<CountingSink*>(c);
        if (s->hits++ == 0) s->sinceFirstHit.emplace();
        snprintf(s->last, sizeof s->last, "%s|%s|%s", title, entry ? entry : "", href);
    }
    static void OnEnd(void* c, int count) {
        auto* s = static_cast<CountingSink*>(c);
        s->count = count;
        if (s->sinceFirstHit) s->allocs = s->sinceFirstHit->Count();
    }
    // Allocations of one whole search of db for "page" into this sink.
    long Search(const std::string& db) {
        Kwf_HitSink sink{OnHit, OnEnd, this};
        AllocCounter counter;
        Kwf_Search(db.c_str(), "page", &sink);
        return counter.Count();
    }
};

TEST_F(KwfTest, SearchTakesNoHeapMemoryPerLine) {
    Lines many;
    for (int i = 0; i < 500; i++)
        many.push_back("A = page " + std::to_string(i) + ", kw; page; x, dir\\p" +
                       std::to_string(i) + ".htm");
    const std::string small = Put("small.kwf", Db("C:\\pages", {many[0]}));
    const std::string big = Put("big.kwf", Db("C:\\pages", many));
    CountingSink a, b;
    long smallAllocs = -1, bigAllocs = -2;
    ASSERT_EQ(0, CaughtCode([&] {
                  smallAllocs = a.Search(small);
                  bigAllocs = b.Search(big);
              }));
    EXPECT_EQ(1, a.count);
    EXPECT_EQ(500, b.count);
    EXPECT_STREQ("page 499|page|file:///C|/pages/dir/p499.htm", b.last);
    // From the first hit to the end, 499 more lines, their searches and links
    // took nothing from the heap; a whole search costs the same whatever the
    // number of lines (only the platform's opens of the file allocate).
    EXPECT_EQ(0, b.allocs);
    EXPECT_EQ(smallAllocs, bigAllocs);
}

}  // namespace
