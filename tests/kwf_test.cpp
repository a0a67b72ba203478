#include "app/kwf.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "app/crekey.h"
#include "components/bigstack.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "support/testsupport.h"

namespace {

// Joins lines, each ended by CR LF, as a text-mode writer puts them on disk.
std::string CrLf(const std::vector<std::string>& lines) {
    std::string out;
    for (const std::string& l : lines) out += l + "\r\n";
    return out;
}

// The header lines of a built database with Base = base; extra lines follow
// DispTarget.
std::vector<std::string> HeaderLines(const std::string& base,
                                     const std::vector<std::string>& extra = {}) {
    std::vector<std::string> lines = {
        "[main] ",        "Application = Tessaly!", "Version = 100",
        "bNewFile = 0",   "Base = " + base,         "Update = 2000/03/30-21:15:07",
        "bCanUpdate = 1", "DispURL = (default)",    "DispTarget = main",
    };
    lines.insert(lines.end(), extra.begin(), extra.end());
    return lines;
}

// A whole database: header, separator, "links" with the given lines, separator.
std::string Db(const std::string& base, const std::vector<std::string>& links,
               const std::vector<std::string>& extraHeader = {}) {
    std::vector<std::string> lines = HeaderLines(base, extraHeader);
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

// One hit as the sink saw it.
struct Hit {
    std::string title;
    std::string entry;  // "(none)" for an absent entry
    std::string href;
};

bool operator==(const Hit& a, const Hit& b) {
    return a.title == b.title && a.entry == b.entry && a.href == b.href;
}

std::ostream& operator<<(std::ostream& os, const Hit& h) {
    return os << "{" << Utf8(h.title) << " | " << Utf8(h.entry) << " | " << Utf8(h.href) << "}";
}

struct Recorder {
    std::vector<Hit> hits;
    int ends = 0;
    int count = -1;

    static void OnHit(void* c, const char* title, const char* entry, const char* href) {
        static_cast<Recorder*>(c)->hits.push_back({title, entry ? entry : "(none)", href});
    }
    static void OnEnd(void* c, int count) {
        Recorder* r = static_cast<Recorder*>(c);
        r->ends++;
        r->count = count;
    }
    Kwf_HitSink Sink() { return {OnHit, OnEnd, this}; }
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
        Kwf_HitSink sink = rec_.Sink();
        return CaughtCode([&] { Kwf_Search(db.c_str(), query.c_str(), &sink); });
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
    // The literal above is Shift_JIS: 京都 is 8B 9E 93 73.
    EXPECT_NE(std::string::npos, bytes.find("\x8B\x9E\x93\x73\x97\xB7\x8D\x73, "));
    int lines = 0;
    for (size_t p = 0; (p = bytes.find("\r\n", p)) != std::string::npos; p += 2) lines++;
    EXPECT_EQ(14, lines);
}

TEST_F(KwfTest, WriteHeaderStampsTheCurrentTime) {
    const std::string db = Inside("now.kwf");
    const time_t before = time(nullptr);
    IniWriter w{};
    ASSERT_EQ(0, CaughtCode([&] {
                  IniFile_OpenWrite(&w, db.c_str());
                  CreKey_WriteHeader(&w, "C:\\pages", "frame");
                  IniFile_CloseWrite(&w);
              }));
    const time_t after = time(nullptr);
    time_t stamped = 0;
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadUpdateTime(db.c_str(), &stamped); }));
    EXPECT_GE(stamped, before - 1);  // the text keeps whole seconds
    EXPECT_LE(stamped, after);
    const std::string bytes = tmp_.Read("now.kwf");
    EXPECT_NE(std::string::npos, bytes.find("\r\nDispTarget = frame\r\n \r\n[links] \r\n \r\n"));
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
    struct Case {
        const char* application;
        const char* versionLine;
        int expected;
    } cases[] = {
        {"Tessaly!", "Version = 100", 100},
        {"Tessaly! ", "Version = 100", 100},  // unquoted values lose trailing blanks
        {"\"Tessaly! \"", "Version = 100", 9999},
        {"tessaly!", "Version = 100", 9999},
        {"TESSALY!", "Version = 100", 9999},
        {"Tessaly", "Version = 100", 9999},
        {"", "Version = 100", 9999},
        {"Tessaly!", "Version = 101", 101},
        {"Tessaly!", "Version = 102", 102},
        {"Tessaly!", "Version = ", 0},
        {"Tessaly!", "Version=-7", -7},
        // Version is not read at all for a foreign application.
        {"Other", "NoVersionHere = 1", 9999},
    };
    for (const Case& c : cases) {
        std::vector<std::string> lines = HeaderLines("C:\\pages");
        lines[1] = std::string("Application = ") + c.application;
        lines[2] = c.versionLine;
        const std::string db = Put("v.kwf", CrLf(lines));
        int version = 0;
        EXPECT_EQ(0, CaughtCode([&] { version = Kwf_ReadVersion(db.c_str()); })) << c.application;
        EXPECT_EQ(c.expected, version)
            << "Application = " << c.application << ", " << c.versionLine;
    }
}

TEST_F(KwfTest, ReadGuideOfFixedDatabases) {
    struct Case {
        std::vector<std::string> extra;
        bool expected;
        const char* guide;
    } cases[] = {
        {{}, true, "untouched"},
        {{"bFixed = 1", "Guide = 管理者に頼んでください"}, false, "管理者に頼んでください"},
        {{"bFixed = 0", "Guide = shown anyway"}, true, "shown anyway"},
        {{"bFixed = 1", "Guide = "}, false, ""},
    };
    for (const Case& c : cases) {
        const std::string db = Put("g.kwf", Db("C:\\pages", {"A = t, k, p.htm"}, c.extra));
        char guide[256] = "untouched";
        bool notFixed = !c.expected;
        int pages = -1;
        ASSERT_EQ(0, CaughtCode([&] {
                      notFixed = Kwf_ReadGuide(db.c_str(), guide, sizeof guide);
                      pages = Kwf_CountPages(db.c_str());
                  }))
            << Utf8(c.guide);
        EXPECT_EQ(c.expected, notFixed) << Utf8(c.guide);
        EXPECT_STREQ(c.guide, guide);
        EXPECT_EQ(1, pages);
    }
}

TEST_F(KwfTest, ReadGuideOfFixedDatabaseWithoutGuideIsBadAttr) {
    const std::string db = Put("g.kwf", Db("C:\\pages", {}, {"bFixed = 1"}));
    char guide[256] = "untouched";
    EXPECT_EQ(IniFile_Err_BadAttr.code,
              CaughtCode([&] { Kwf_ReadGuide(db.c_str(), guide, sizeof guide); }));
    // A header that ends right after bFixed has no line left for Guide.
    const std::string cut = Put("h.kwf", CrLf(HeaderLines("C:\\pages", {"bFixed = 1"})));
    EXPECT_EQ(IniFile_Err_FewAttr.code,
              CaughtCode([&] { Kwf_ReadGuide(cut.c_str(), guide, sizeof guide); }));
    EXPECT_STREQ("untouched", guide);
}

TEST_F(KwfTest, ReadGuideCutsTheGuideToItsBuffer) {
    const std::string db =
        Put("g.kwf", Db("C:\\pages", {}, {"bFixed = 1", "Guide = " + std::string(300, 'g')}));
    char guide[12];
    memset(guide, '#', sizeof guide);
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadGuide(db.c_str(), guide, 10); }));
    EXPECT_STREQ("ggggggggg", guide);
    EXPECT_EQ('#', guide[10]) << "guard byte";
}

TEST_F(KwfTest, LongBaseLineBreaksOnlyTheShortLineBuffer) {
    // The 256-byte line buffer of Kwf_ReadUpdateTime holds 255 bytes of a line:
    // a Base line whose text (without CR LF) is 256 bytes or more leaves a rest
    // that is read as the next line instead of Update.
    struct Case {
        size_t textLength;
        int updateCode;
    } cases[] = {{200, 0}, {254, 0}, {255, 0}, {256, 596}, {300, 596}, {1000, 596}};
    for (const Case& c : cases) {
        const std::string prefix = "Base = ";
        std::vector<std::string> lines = HeaderLines("");
        lines[4] = prefix + std::string(c.textLength - prefix.size(), 'b');
        const std::string db = Put("b.kwf", CrLf(lines));
        time_t t = 0;
        EXPECT_EQ(c.updateCode, CaughtCode([&] { Kwf_ReadUpdateTime(db.c_str(), &t); }))
            << c.textLength;
        char base[1024];
        int canUpdate = 0;
        char r[260], u[260], target[40];
        EXPECT_EQ(0, CaughtCode([&] {
                      Kwf_ReadBase(db.c_str(), base, sizeof base);
                      Kwf_ReadDisplay(db.c_str(), r, sizeof r, u, sizeof u, target, sizeof target,
                                      &canUpdate);
                  }))
            << c.textLength;
        EXPECT_EQ(c.textLength - prefix.size(), strlen(base)) << c.textLength;
        EXPECT_EQ(1, canUpdate);
    }
}

TEST_F(KwfTest, ReadBaseCutsToItsBuffer) {
    const std::string db = Put("b.kwf", CrLf(HeaderLines("C:\\" + std::string(400, 'x'))));
    char base[24];
    memset(base, '#', sizeof base);
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadBase(db.c_str(), base, 20); }));
    EXPECT_EQ("C:\\" + std::string(16, 'x'), std::string(base));
    EXPECT_EQ('#', base[20]) << "guard byte";
    char one = '#';
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadBase(db.c_str(), &one, 1); }));
    EXPECT_EQ('\0', one);
}

TEST_F(KwfTest, ReadDisplayKeepsStoredValuesAndCutsThem) {
    StrX_SetExePath("\\opt\\tessaly\\tessaly");
    std::vector<std::string> lines = HeaderLines("C:\\pages");
    lines[6] = "bCanUpdate = 0";
    lines[7] = "DispURL = http://example.com/frames.htm";
    lines[8] = "DispTarget = " + std::string(100, 't');
    const std::string db = Put("d.kwf", CrLf(lines));
    char resultFile[12], dispUrl[40], target[12];
    memset(resultFile, '#', sizeof resultFile);
    memset(dispUrl, '#', sizeof dispUrl);
    memset(target, '#', sizeof target);
    int canUpdate = -1;
    ASSERT_EQ(0, CaughtCode([&] {
                  // The URL is kept to the smaller path buffer (10 bytes here).
                  Kwf_ReadDisplay(db.c_str(), resultFile, 10, dispUrl, 39, target, 10, &canUpdate);
              }));
    EXPECT_EQ(0, canUpdate);
    EXPECT_STREQ("http://ex", dispUrl);
    EXPECT_EQ(std::string(9, 't'), std::string(target));
    EXPECT_STREQ("\\opt\\tes", resultFile) << "out.htm in the program folder, at most size - 2";
    EXPECT_EQ('#', resultFile[10]);
    EXPECT_EQ('#', dispUrl[39]);
    EXPECT_EQ('#', target[10]);
}

TEST_F(KwfTest, ReadDisplayWithEmptyTarget) {
    std::vector<std::string> lines = HeaderLines("C:\\pages");
    lines[7] = "DispURL = \"(default)\"";  // quoted, still the default
    lines[8] = "DispTarget = ";
    const std::string db = Put("d.kwf", CrLf(lines));
    StrX_SetExePath("\\opt\\t\\tessaly-cli");
    char r[260], u[260], target[40] = "x";
    int canUpdate = -1;
    ASSERT_EQ(0, CaughtCode([&] {
                  Kwf_ReadDisplay(db.c_str(), r, sizeof r, u, sizeof u, target, sizeof target,
                                  &canUpdate);
              }));
    EXPECT_STREQ("", target);
    EXPECT_STREQ("\\opt\\t\\outframe.htm", u);
}

TEST_F(KwfTest, CountPagesStopsAtALineTooLongForItsBuffer) {
    // The 2048-byte line buffer holds 2047 bytes: a line of 2047 bytes with its
    // LF is read whole; one byte more and its line end is read as a line of its
    // own, which ends the count.
    struct Case {
        size_t textLength;  // without the line end
        int count;
    } cases[] = {{100, 3}, {2046, 3}, {2047, 2}, {2048, 2}, {5000, 2}};
    for (const Case& c : cases) {
        std::string longLine = "A = t, k, " + std::string(c.textLength - 10, 'p');
        const std::string db =
            Put("c.kwf", Db("C:\\pages", {"A = first, k, a.htm", longLine, "A = z, k, z.htm"}));
        int count = -1;
        ASSERT_EQ(0, CaughtCode([&] { count = Kwf_CountPages(db.c_str()); })) << c.textLength;
        EXPECT_EQ(c.count, count) << c.textLength;
        // The search reads lines of up to 8191 bytes whole.
        ASSERT_EQ(0, Search(db, "z"));
        ASSERT_EQ(1u, rec_.hits.size()) << c.textLength;
        EXPECT_EQ("z", rec_.hits[0].title);
    }
}

TEST_F(KwfTest, CountPagesOfAnEmptyDatabaseIsZero) {
    const std::string db = Put("e.kwf", Db("C:\\pages", {}));
    int count = -1;
    ASSERT_EQ(0, CaughtCode([&] { count = Kwf_CountPages(db.c_str()); }));
    EXPECT_EQ(0, count);
    ASSERT_EQ(0, Search(db, "a"));
    EXPECT_EQ(1, rec_.ends);
    EXPECT_EQ(0, rec_.count);
}

TEST_F(KwfTest, IsNewFileReadsTheFlag) {
    std::vector<std::string> lines = HeaderLines("C:\\pages");
    lines[3] = "bNewFile = 1";
    const std::string db = Put("n.kwf", CrLf(lines));
    bool newFile = false;
    ASSERT_EQ(0, CaughtCode([&] { newFile = Kwf_IsNewFile(db.c_str()); }));
    EXPECT_TRUE(newFile);
}

TEST_F(KwfTest, DamagedDatabasesReportAndReleaseEverything) {
    std::vector<std::string> misordered = HeaderLines("C:\\pages");
    std::swap(misordered[2], misordered[3]);
    struct Case {
        const char* what;
        std::string bytes;
        int code;
    } cases[] = {
        {"no section head", "Application = Tessaly!\r\n", 593},
        {"another section", "[other] \r\nApplication = Tessaly!\r\n", 591},
        {"empty file", "", 361},
        {"keys out of order", CrLf(misordered), 596},
        {"header cut short", CrLf({"[main] ", "Application = Tessaly!", "Version = 100"}), 595},
    };
    for (const Case& c : cases) {
        const std::string db = Put("x.kwf", c.bytes);
        uint8_t* sp = BigStack_Sys()->sp;
        EXPECT_EQ(c.code, CaughtCode([&] { Kwf_IsNewFile(db.c_str()); })) << c.what;
        EXPECT_EQ(sp, BigStack_Sys()->sp) << c.what;
        EXPECT_EQ(0, Except3_GetSys()->nTry) << c.what;
    }
    const std::string missing = Inside("missing.kwf");
    EXPECT_EQ(363, CaughtCode([&] { Kwf_ReadVersion(missing.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("missing.kwf"));
}

TEST_F(KwfTest, CountPagesWithoutLinksReportsNotFoundSection) {
    const std::string db = Put("h.kwf", CrLf(HeaderLines("C:\\pages")));
    EXPECT_EQ(591, CaughtCode([&] { Kwf_CountPages(db.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("セクション links が見つかりません"));
}

// ---- Search ------------------------------------------------------------------------

TEST_F(KwfTest, SearchCutsTheMatchedKeywordEntry) {
    struct Case {
        const char* keywords;
        const char* query;
        const char* entry;
    } cases[] = {
        {"a; bcd; e", "c", "bcd"},
        {"a; bcd; e", "d; e", "bcd"},  // the entry ends at the first ';' after the match start
        {"a; bcd; e", "e", "e"},
        {"a; bcd; e", "A", "a"},
        {";abc", "abc", "abc"},
        {"abc;", "abc", "abc"},
        {"x;   yz ;w", "y", "yz "},  // blanks skipped in front only
        {"alpha beta", "beta", "alpha beta"},
        {"a; bcd; e", "; e", "e"},  // a match on the ';' belongs to the entry after it
        {"旅行; 京都; 寺", "京都", "京都"},
        {"k1;k2;k2", "k2", "k2"},
    };
    for (const Case& c : cases) {
        const std::string db =
            Put("s.kwf", Db("C:\\pages", {std::string("A = title, ") + c.keywords + ", p.htm"}));
        ASSERT_EQ(0, Search(db, c.query)) << c.keywords;
        ASSERT_EQ(1u, rec_.hits.size()) << c.keywords << " / " << c.query;
        EXPECT_EQ(c.entry, rec_.hits[0].entry) << c.keywords << " / " << c.query;
        EXPECT_EQ(1, rec_.count);
    }
}

TEST_F(KwfTest, SearchMatchesAsciiWithoutCaseAndNothingElse) {
    const std::string db = Put("s.kwf", Db("C:\\pages", {
                                                            "A = one, HTML; css, 1.htm",
                                                            "A = two, ＨＴＭＬ, 2.htm",
                                                            "A = three, ｈｔｍｌ, 3.htm",
                                                            "A = four, , 4.htm",
                                                        }));
    struct Case {
        const char* query;
        std::vector<std::string> titles;
    } cases[] = {
        {"html", {"one"}},
        {"HtMl", {"one"}},
        {"ＨＴＭＬ", {"two"}},  // full-width letters neither fold nor match half-width
        {"ｈｔｍｌ", {"three"}},
        {"", {}},
        {"o", {"one", "two", "four"}},  // titles match too
        {"htm", {"one"}},               // the path is not searched
    };
    for (const Case& c : cases) {
        ASSERT_EQ(0, Search(db, c.query)) << c.query;
        std::vector<std::string> titles;
        for (const Hit& h : rec_.hits) titles.push_back(h.title);
        EXPECT_EQ(c.titles, titles) << Utf8(c.query);
        EXPECT_EQ(static_cast<int>(c.titles.size()), rec_.count) << Utf8(c.query);
        EXPECT_EQ(1, rec_.ends);
    }
}

TEST_F(KwfTest, SearchListsAPageOnceWithItsEntry) {
    const std::string db = Put("s.kwf", Db("C:\\pages", {
                                                            "A = 京都の寺, 寺; 京都, a.htm",
                                                            "A = 京都旅行, 旅行, b.htm",
                                                            "A = 大阪, 食べ物, c.htm",
                                                        }));
    ASSERT_EQ(0, Search(db, "京都"));
    const std::vector<Hit> expected = {
        {"京都の寺", "京都", "file:///C|/pages/a.htm"},
        {"京都旅行", "(none)", "file:///C|/pages/b.htm"},
    };
    EXPECT_EQ(expected, rec_.hits);
    EXPECT_EQ(2, rec_.count);
}

TEST_F(KwfTest, SearchResolvesPathsAgainstBase) {
    const std::string dir = tmp_.path();
    struct Case {
        std::string base;
        std::string path;
        std::string href;
    } cases[] = {
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
        {"C:\\pages", "", ""},
    };
    for (const Case& c : cases) {
        const std::string db = Put("vark.kwf", Db(c.base, {"A = t, k, " + c.path}));
        ASSERT_EQ(0, Search(db, "k")) << c.base << " + " << c.path;
        ASSERT_EQ(1u, rec_.hits.size());
        EXPECT_EQ(c.href, rec_.hits[0].href) << Utf8(c.base) << " + " << Utf8(c.path);
    }
    EXPECT_EQ('\x5C', std::string("表")[1]) << "the case above needs a 0x5C trail byte";
}

TEST_F(KwfTest, SearchEndsTheListAtABlankOrForeignLine) {
    struct Case {
        const char* what;
        const char* between;
    } cases[] = {{"separator", " "}, {"other attribute", "B = x, x, x.htm"}, {"empty", ""}};
    for (const Case& c : cases) {
        const std::string db = Put(
            "s.kwf", Db("C:\\pages", {"A = first, x, 1.htm", c.between, "A = second, x, 2.htm"}));
        ASSERT_EQ(0, Search(db, "x")) << c.what;
        ASSERT_EQ(1u, rec_.hits.size()) << c.what;
        EXPECT_EQ("first", rec_.hits[0].title);
        EXPECT_EQ(1, rec_.count);
    }
}

TEST_F(KwfTest, SearchReadsMissingValuesAsEmpty) {
    const std::string db = Put("s.kwf", Db("C:\\pages", {"A = only a title", "A = t2, kw"}));
    ASSERT_EQ(0, Search(db, "t"));
    const std::vector<Hit> expected = {{"only a title", "(none)", ""}, {"t2", "(none)", ""}};
    EXPECT_EQ(expected, rec_.hits);
}

TEST_F(KwfTest, SearchCutsValuesAndNeverOverruns) {
    const std::string longTitle = "T" + std::string(5000, 't');
    const std::string longKeywords = "K" + std::string(5000, 'k');
    const std::string longRelative = std::string(400, 'r') + ".htm";
    const std::string longAbsolute = "D:\\" + std::string(4200, 'a');
    const std::string db = Put("s.kwf", Db("C:\\pages", {
                                                            "A = " + longTitle + ", x, 1.htm",
                                                            "A = y, " + longKeywords + ", 2.htm",
                                                            "A = z, x, " + longRelative,
                                                            "A = w, x, " + longAbsolute,
                                                            "A = v, x, after.htm",
                                                        }));
    ASSERT_EQ(0, Search(db, "x"));
    ASSERT_EQ(4u, rec_.hits.size());
    EXPECT_EQ(longTitle.substr(0, 4095), rec_.hits[0].title);
    // A joined path is cut at 259 bytes before the scheme goes in front.
    EXPECT_EQ("file:///C|/pages/" + std::string(259 - 9, 'r'), rec_.hits[1].href);
    // An absolute path stays as stored, cut only so that the scheme fits.
    EXPECT_EQ(4095u, rec_.hits[2].href.size());
    EXPECT_EQ("file:///D|/" + std::string(4095 - 11, 'a'), rec_.hits[2].href);
    // The buffers after the path were not touched.
    EXPECT_EQ("file:///C|/pages/after.htm", rec_.hits[3].href);
    ASSERT_EQ(0, Search(db, "K"));
    ASSERT_EQ(1u, rec_.hits.size());
    EXPECT_EQ(longKeywords.substr(0, 4095), rec_.hits[0].entry);
}

TEST_F(KwfTest, SearchFailuresCloseTheDatabaseAndPopTheMark) {
    struct Case {
        const char* what;
        std::string bytes;
        int code;
    } cases[] = {
        {"no links section", CrLf(HeaderLines("C:\\pages")), 591},
        {"damaged header", "[main] \r\nApplication = Tessaly!\r\n", 595},
    };
    for (const Case& c : cases) {
        const std::string db = Put("f.kwf", c.bytes);
        uint8_t* sp = BigStack_Sys()->sp;
        EXPECT_EQ(c.code, Search(db, "x")) << c.what;
        EXPECT_EQ(0, rec_.ends) << c.what;
        EXPECT_EQ(sp, BigStack_Sys()->sp) << c.what;
        EXPECT_EQ(0, Except3_GetSys()->nTry) << c.what;
    }
    EXPECT_EQ(363, Search(Inside("none.kwf"), "x"));
}

// A sink that writes every hit into a fixed buffer: it takes no heap memory.
struct BufferSink {
    char text[1 << 16];
    size_t used = 0;
    int count = -1;
    AllocCounter* counter = nullptr;  // started at the first hit
    long allocsAfterFirstHit = -1;

    static void OnHit(void* c, const char* title, const char* entry, const char* href) {
        BufferSink* s = static_cast<BufferSink*>(c);
        if (!s->counter) s->counter = new AllocCounter;  // before counting starts
        int n = snprintf(s->text + s->used, sizeof s->text - s->used, "%s|%s|%s\n", title,
                         entry ? entry : "", href);
        if (n > 0) s->used += std::min(static_cast<size_t>(n), sizeof s->text - s->used - 1);
    }
    static void OnEnd(void* c, int count) {
        BufferSink* s = static_cast<BufferSink*>(c);
        s->count = count;
        if (s->counter) s->allocsAfterFirstHit = s->counter->Count();
    }
};

// Allocations of one whole search: those the platform makes to open the
// database twice (path conversion, stream records, stdio buffers).
long SearchAllocs(const std::string& db, BufferSink* sink) {
    Kwf_HitSink k{BufferSink::OnHit, BufferSink::OnEnd, sink};
    AllocCounter counter;
    Kwf_Search(db.c_str(), "page", &k);
    return counter.Count();
}

TEST_F(KwfTest, SearchTakesNoHeapMemoryPerLine) {
    std::vector<std::string> many;
    for (int i = 0; i < 500; i++)
        many.push_back("A = page " + std::to_string(i) + ", kw; page; x, dir\\p" +
                       std::to_string(i) + ".htm");
    const std::string small = Put("small.kwf", Db("C:\\pages", {many[0]}));
    const std::string big = Put("big.kwf", Db("C:\\pages", many));

    static BufferSink a, b;
    long smallAllocs = 0, bigAllocs = 0;
    ASSERT_EQ(0, CaughtCode([&] {
                  smallAllocs = SearchAllocs(small, &a);
                  bigAllocs = SearchAllocs(big, &b);
              }));
    EXPECT_EQ(1, a.count);
    EXPECT_EQ(500, b.count);
    EXPECT_NE(nullptr, strstr(b.text, "page 499|page|file:///C|/pages/dir/p499.htm\n"));
    // From the first hit to the end, the reading of 499 more lines, their
    // searches and links took nothing from the heap.
    EXPECT_EQ(0, b.allocsAfterFirstHit);
    // And a whole search costs the same whatever the number of lines: only the
    // two opens of the file allocate, in the platform layer.
    EXPECT_EQ(smallAllocs, bigAllocs);
    delete a.counter;
    delete b.counter;
}

}  // namespace
