// The database builder: pages written to a temporary folder, built with
// CreKey_Build and the database read back line by line.
//
// Link lines are compared whole, as the database file holds them ("A = title,
// keywords, path", CP932). Japanese text is written through Sjis(u8"...") or
// escapes, never as a plain literal.

#include "app/crekey.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <functional>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "app/kwf.h"
#include "components/bigstack.h"
#include "components/filex.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The lines of a text-mode file with their CR LF ends taken off.
Lines FileLines(const std::string& bytes) {
    Lines lines;
    for (size_t start = 0, end; start < bytes.size(); start = end + 1) {
        end = std::min(bytes.find('\n', start), bytes.size());
        lines.push_back(bytes.substr(start, end - start));
        if (!lines.back().empty() && lines.back().back() == '\r') lines.back().pop_back();
    }
    return lines;
}

// The page lines of a database: every line after the head "[links] " up to
// the closing blank line ("(unclosed)" when it is missing).
Lines LinkLines(const std::string& bytes) {
    const Lines lines = FileLines(bytes);
    auto at = std::find(lines.begin(), lines.end(), "[links] ");
    if (at == lines.end()) return {"(no links)"};
    auto end = std::find(++at, lines.end(), " ");
    Lines links(at, end);
    if (end == lines.end()) links.push_back("(unclosed)");
    return links;
}

// True when text ends on a character boundary: no Shift_JIS lead byte is
// left without its trail byte.
bool WholeCharacters(const std::string& text) {
    for (size_t i = 0; i < text.size(); i++)
        if (CodePage_IsLead(static_cast<unsigned char>(text[i])) && ++i == text.size())
            return false;
    return true;
}

std::string Repeat(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; i++) s += piece;
    return s;
}

// 表 in CP932: a lead byte and the trail byte 0x5C.
const std::string kHyo = "\x95\x5C";

class CreKeyTest : public LibraryTest {
   protected:
    // Writes a file below the pages folder (rel with '/'); returns its inside path.
    std::string Page(const std::string& rel, const std::string& bytes) {
        pages_.Write(rel, bytes);
        return Inside(pages_, rel);
    }
    static std::string Inside(const TempDir& dir, const std::string& rel) {
        std::string p = dir.inside() + "\\" + rel;
        std::replace(p.begin(), p.end(), '/', '\\');
        return p;
    }
    // The database outside the pages folder.
    std::string Db() const { return Inside(out_, "vark.kwf"); }
    std::string DbBytes() const { return ReadFile(out_.path() + "/vark.kwf"); }

    // Builds base into db inside a try frame and returns the caught code (0:
    // the build ended normally). Every callback call is logged in calls_ as
    // "path #count position/total" (path relative to base), then onCall_ runs.
    // The scratch stack and the frame stack must be as before.
    int Build(const std::string& base, const std::string& db) {
        calls_.clear();
        base_ = base;
        stats_ = CreKey_Stats{-1, -1, -1};
        unsigned char* sp = BigStack_Sys()->sp;
        int code = CaughtCode([&] {
            CreKey_Build(&cancel_, base.c_str(), db.c_str(), OnProgress, this, "main", &stats_);
        });
        EXPECT_EQ(sp, BigStack_Sys()->sp) << "the build releases its scratch";
        EXPECT_EQ(0, Except3_GetSys()->nTry);
        return code;
    }
    int Build() { return Build(pages_.inside(), Db()); }
    // files/pages/skipped of the last build.
    std::string Stats() const {
        return std::to_string(stats_.files) + "/" + std::to_string(stats_.pages) + "/" +
               std::to_string(stats_.skipped);
    }

    // The page lines of the database at an inside path.
    static Lines Links(const std::string& db) { return LinkLines(ReadFile(Fs_ToNative(db))); }

    // The "title, keywords" of a build of one page p.htm alone in a folder;
    // the whole lines joined by " | " when they are not one entry for p.htm.
    std::string Entry(const std::string& page) {
        TempDir dir;
        dir.Write("p.htm", page);
        int code = Build(dir.inside(), Db());
        if (code != 0) return "(build failed " + std::to_string(code) + ")";
        std::string joined;
        for (const std::string& l : Links(Db())) joined += (joined.empty() ? "" : " | ") + l;
        const std::string tail = ", p.htm";
        if (joined.compare(0, 4, "A = ") == 0 && joined.size() >= 4 + tail.size() &&
            joined.compare(joined.size() - tail.size(), tail.size(), tail) == 0)
            return joined.substr(4, joined.size() - 4 - tail.size());
        return joined;
    }

    static int OnProgress(void* context, const CreKey_Progress* p) {
        CreKeyTest* t = static_cast<CreKeyTest*>(context);
        std::string path = p->path;
        if (path.compare(0, t->base_.size() + 1, t->base_ + "\\") == 0)
            path.erase(0, t->base_.size() + 1);
        t->calls_.push_back(path + " #" + std::to_string(p->count) + " " +
                            std::to_string(p->position) + "/" + std::to_string(p->total));
        if (t->onCall_) t->onCall_(*p);
        return 0;
    }
    // The paths of the callback calls.
    Lines CalledPaths() const {
        Lines paths;
        for (const std::string& c : calls_) paths.push_back(c.substr(0, c.find(" #")));
        return paths;
    }

    // Searches db for query; the hits as "title | entry | href".
    Lines Search(const std::string& db, const std::string& query) {
        struct Sink {
            Lines hits;
            int count = -1;
        } sink;
        Kwf_HitSink k{[](void* c, const char* title, const char* entry, const char* href) {
                          static_cast<Sink*>(c)->hits.push_back(std::string(title) + " | " +
                                                                (entry ? entry : "(none)") + " | " +
                                                                href);
                      },
                      [](void* c, int count) { static_cast<Sink*>(c)->count = count; }, &sink};
        EXPECT_EQ(0, CaughtCode([&] { Kwf_Search(db.c_str(), query.c_str(), &k); }));
        EXPECT_EQ(static_cast<int>(sink.hits.size()), sink.count);
        return sink.hits;
    }
    // The href of a page of the pages folder.
    std::string Href(const std::string& rel) const { return "file://" + pages_.path() + "/" + rel; }

    TempDir pages_;  // the folder built
    TempDir out_;    // where the database goes unless a test says otherwise
    std::string base_;
    volatile unsigned char cancel_ = 0;
    CreKey_Stats stats_{};
    Lines calls_;
    std::function<void(const CreKey_Progress&)> onCall_;
};

// ---- What a page's head gives ------------------------------------------------------

TEST_F(CreKeyTest, HeadRules) {
    const std::pair<std::string, std::string> cases[] = {
        // Tags and attributes.
        {"<HTML><HEAD><TITLE>Alpha</TITLE><META NAME=\"Keywords\" CONTENT=\"a b c\">",
         "Alpha, a b c"},
        {"<meta name = \"keywords\"  content =  \"k\" >", "(no title), k"},
        {"<meta a=1 b=2 c=3 name=\"keywords\" content=\"k\">", "(no title), k"},  // 5th attribute
        {"<meta a=1 b=2 c=3 d=4 e=5 name=\"keywords\" content=\"k\">", "(no title), "},
        {"<meta\nname=\"keywords\" content=\"k\">", "(no title), "},  // no blank after the name
        {"<meta \nname=\"keywords\"\ncontent=\"k\">", "(no title), k"},
        {"<meta name=\"keywords\" content='a b'>", "(no title), 'a"},
        {"<meta name=\"description\" content=\"d\">", "(no title), "},
        {"<meta name=keywords content=first><meta name=keywords>", "(no title), first"},
        {"<meta name=keywords content=one><meta name=keywords content=two>", "(no title), two"},
        {"<meta name=keywords content=\"a\r\nb\tc\rd\">", "(no title), abcd"},
        // The title.
        {"<title>Al\r\npha\n beta\tgam\rma</title>", "Alpha betagamma, "},
        {"<title>A<b>B</b>C</title>", "A<b>B</b>C, "},
        {"<title></title><meta name=keywords content=k>", ", k"},
        {"<title>Alpha</TITLE>", "Alpha, "},
        {"<title>Alpha</head><meta name=keywords content=k>", "(no title), "},
        {"<title>Alpha<meta name=keywords content=k>", "(no title), "},
        {"<title>Alpha</title ><i>x</i></title>", "Alpha</title ><i>x</i>, "},
        {"<title>Alpha</title ></head>", "(no title), "},
        {"<title>One</title><title>Two</title>", "Two, "},
        {"<title>One</title><title>Two</head>", "One, "},
        // The end of the head; without one the whole page is read.
        {"<head><title>T</title></head><meta name=keywords content=late>", "T, "},
        {"<title>T</title></HEAD><meta name=keywords content=late>", "T, "},
        {"</head><title>T</title>", "(no title), "},
        {"<body><p>text</p><title>T</title><meta name=keywords content=k></body>", "T, k"},
        {"<title>T</title></head>\n\n\n\n\n\n\n\n\n\n\n\n" + std::string(1, '\0') + "\f", "T, "},
        // Comments are tags that end at the first '>'.
        {"<!-- <meta name=keywords content=k> -->", "(no title), "},
        {"<!-- <b> <meta name=keywords content=k> -->", "(no title), k"},
        // Pages without a head.
        {"", "(no title), "},
        {"<", "(no title), "}};
    for (const auto& [page, entry] : cases) EXPECT_EQ(entry, Entry(page)) << page;
}

TEST_F(CreKeyTest, JapaneseTitlesAreStoredInShiftJis) {
    const std::string kyoto = Sjis(u8"京都"), nihongo = Sjis(u8"日本語のページ");
    // ページ in JIS holds the byte 0x3C ('<') as the second half of the long
    // vowel mark; keywords are converted like the title.
    const std::pair<std::string, std::string> cases[] = {
        {"<title>" + kyoto + "</title><meta name=keywords content=\"" + kyoto + "\">",
         kyoto + ", " + kyoto},
        {"<title>" + kHyo + "\x83\x5C</title>", kHyo + "\x83\x5C, "},
        {"<title>\x1b$B5~ET\x1b(B</title>", kyoto + ", "},
        {"<title>\x1b$BF|K\\8l$N%Z!<%8\x1b(B</title>", nihongo + ", "},
        {"<title>\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xa5\xda\xa1\xbc\xa5\xb8</title>"
         "<meta name=keywords content=k>",
         nihongo + ", k"},
        {"<meta name=keywords content=\"\xb5\xfe\xc5\xd4\">", "(no title), " + kyoto}};
    for (const auto& [page, entry] : cases) EXPECT_EQ(entry, Entry(page)) << Utf8(entry);

    // In two-byte JIS text the bytes "</head>!" are the four kanji 鹿蒹痲勝:
    // no tag is read there, and tags are read again after ESC ( B.
    EXPECT_EQ(Sjis(u8"鹿蒹痲勝") + ", k",
              Entry("<title>\x1b$B</head>!\x1b(B</title><meta name=keywords content=k>"));
    EXPECT_EQ("T, ", Entry("<title>T</title>\x1b$B<meta name=keywords content=xx>\x1b(B"));
    EXPECT_EQ("T, k", Entry("\x1b$B5~\x1b(B<title>T</title><meta name=keywords content=k>"));
}

// ---- Which files get an entry ------------------------------------------------------

TEST_F(CreKeyTest, BinaryFilesAreSkippedAndTheBuildGoesOn) {
    Page("a.htm", std::string("<title>A\0</title>", 17));
    Page("b.htm", "<meta name=\"key\fwords\" content=k>");            // inside a tag
    Page("c.htm", "<title>C</title><meta name=keywords content=k>");  // read
    Page("d.htm", std::string("\0", 1));
    Page("e.htm", "<title>E\b</title>");
    Page("f.htm", "\x1b$B5~\x1b(B\x0e\x0f\x1a<title>F</title>");  // ESC SO SI ^Z are text
    ASSERT_EQ(0, Build());
    EXPECT_EQ((Lines{"A = C, k, c.htm", "A = F, , f.htm"}), Links(Db()));
    EXPECT_EQ("6/2/4", Stats());
    EXPECT_TRUE(boxes_.boxes.empty()) << "a skipped page shows nothing";
}

TEST_F(CreKeyTest, PageNameRule) {
    const char* pages[] = {"a.htm", "A.HTML", "a.htmx", "a.Htm", "x.y.htm", ".htm", "a b.html"};
    const char* others[] = {"a.htm.bak", "a.shtml", "a.txt", "a.htm.htm", "a",
                            "htm",       "a.ht",    "a_htm", "a.xhtml"};
    for (const char* name : pages) EXPECT_TRUE(CreKey_IsPageName(name)) << name;
    for (const char* name : others) EXPECT_FALSE(CreKey_IsPageName(name)) << name;

    // In a build the same names decide which files are read; every file counts.
    Lines expected;
    for (const char* name : pages) expected.push_back(std::string("A = T, , ") + name);
    for (const char* name : pages) Page(name, "<title>T</title>");
    for (const char* name : others) Page(name, "<title>T</title>");
    ASSERT_EQ(0, Build());
    Lines links = Links(Db());
    std::sort(links.begin(), links.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, links);
    EXPECT_EQ("16/7/0", Stats());
    EXPECT_EQ(16u, calls_.size());
}

TEST_F(CreKeyTest, DatabaseInsideTheFolderIsCountedButNeverRead) {
    // Named like a page, so only the path rule keeps it out.
    const std::string db = Inside(pages_, "db.htm");
    Page("a.htm", "<title>A</title>");
    ASSERT_EQ(0, Build(pages_.inside(), db));
    EXPECT_EQ(Lines{"A = A, , a.htm"}, Links(db));
    // The second build sees the database (never its own temporary file).
    ASSERT_EQ(0, Build(pages_.inside(), db));
    EXPECT_EQ(Lines{"A = A, , a.htm"}, Links(db));
    EXPECT_EQ((Lines{"a.htm", "db.htm"}), CalledPaths());
    EXPECT_EQ("2/1/0", Stats());
    EXPECT_FALSE(fs::exists(pages_.path() + "/db.htm.tmp"));
}

TEST_F(CreKeyTest, PageThatCannotBeOpenedIsSkipped) {
    for (const char* name : {"a.htm", "b.htm", "c.htm"})
        Page(name, std::string("<title>") + name[0] + "</title>");
    fs::create_symlink("missing-target.htm", pages_.path() + "/x.htm");  // dangling
    // b.htm goes away between its listing and its reading.
    onCall_ = [&](const CreKey_Progress& p) {
        if (p.count == 2) fs::remove(pages_.path() + "/b.htm");
    };
    ASSERT_EQ(0, Build());
    EXPECT_EQ((Lines{"a.htm", "b.htm", "c.htm", "x.htm"}), CalledPaths());
    EXPECT_EQ((Lines{"A = a, , a.htm", "A = c, , c.htm"}), Links(Db()));
    EXPECT_EQ("4/2/2", Stats());
    EXPECT_TRUE(boxes_.boxes.empty());
}

// ---- Cancel, empty folders and progress -------------------------------------------

TEST_F(CreKeyTest, CancelInTheFirstCallbackLeavesHeaderAndEmptyLinks) {
    Page("a.htm", "<title>A</title>");
    Page("b.htm", "<title>B</title>");
    onCall_ = [&](const CreKey_Progress&) { cancel_ = 1; };
    cancel_ = 7;  // the build clears it first
    const time_t before = time(nullptr);
    ASSERT_EQ(0, Build());
    const time_t after = time(nullptr);
    EXPECT_EQ(Lines{"a.htm"}, CalledPaths()) << "the first call stops it";
    EXPECT_EQ("1/0/0", Stats());
    const Lines lines = FileLines(DbBytes());
    ASSERT_EQ(12u, lines.size());
    EXPECT_TRUE(std::regex_match(lines[5],
                                 std::regex("Update = \\d{4}/\\d\\d/\\d\\d-\\d\\d:\\d\\d:\\d\\d")))
        << lines[5];
    EXPECT_EQ((Lines{"[main] ", "Application = Tessaly!", "Version = 100", "bNewFile = 0",
                     "Base = " + pages_.inside(), lines[5], "bCanUpdate = 1", "DispURL = (default)",
                     "DispTarget = main", " ", "[links] ", " "}),
              lines);
    time_t stamped = 0;
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadUpdateTime(Db().c_str(), &stamped); }));
    EXPECT_GE(stamped, before - 1);  // the text keeps whole seconds
    EXPECT_LE(stamped, after);
    EXPECT_EQ(0u, DbBytes().find("[main] \r\nApplication = Tessaly!\r\n")) << "CR LF on disk";
}

TEST_F(CreKeyTest, CancelLaterKeepsThePagesReadSoFar) {
    out_.Write("vark.kwf", "old database\r\n");
    for (const char* name : {"a.htm", "b.htm", "c.htm", "d.htm"})
        Page(name, std::string("<title>") + name[0] + "</title>");
    onCall_ = [&](const CreKey_Progress& p) {
        if (p.count == 3) cancel_ = 1;
    };
    ASSERT_EQ(0, Build());
    // A complete database replaces the old one; the file reported by the
    // cancelling call is not read.
    EXPECT_EQ((Lines{"A = a, , a.htm", "A = b, , b.htm"}), Links(Db()));
    EXPECT_EQ("3/2/0", Stats());
    EXPECT_FALSE(fs::exists(out_.path() + "/vark.kwf.tmp"));
}

TEST_F(CreKeyTest, EmptyFolderGivesHeaderAndEmptyLinksWithoutCallback) {
    // Base is written exactly as given, trailing backslash included; a
    // missing folder walks as empty.
    for (const std::string& base :
         {pages_.inside(), pages_.inside() + "\\", pages_.inside() + "\\none"}) {
        ASSERT_EQ(0, Build(base, Db())) << base;
        EXPECT_TRUE(calls_.empty());
        EXPECT_EQ("0/0/0", Stats());
        const Lines lines = FileLines(DbBytes());
        ASSERT_EQ(12u, lines.size());
        EXPECT_EQ("Base = " + base, lines[4]);
        EXPECT_EQ(Lines{}, Links(Db()));
    }
}

TEST_F(CreKeyTest, ProgressCountsEveryFileWithPositionAndTotal) {
    // Listing order: a.htm, b.txt, c (x.htm, y.txt), d.htm.
    Page("a.htm", "<title>A</title>");
    Page("b.txt", "text");
    Page("c/x.htm", "<title>X</title>");
    Page("c/y.txt", "text");
    Page("d.htm", "<title>D</title>");
    std::string third;
    onCall_ = [&](const CreKey_Progress& p) {
        if (p.count == 3) third = p.path;
    };
    ASSERT_EQ(0, Build());
    EXPECT_EQ((Lines{"a.htm #1 0/4", "b.txt #2 1/4", "c\\x.htm #3 4/8", "c\\y.txt #4 5/8",
                     "d.htm #5 3/4"}),
              calls_);
    EXPECT_EQ(Inside(pages_, "c/x.htm"), third) << "the full path";
    EXPECT_EQ((Lines{"A = A, , a.htm", "A = X, , c\\x.htm", "A = D, , d.htm"}), Links(Db()));
    EXPECT_EQ("5/3/0", Stats());

    // Without a callback and without stats the build still runs.
    volatile unsigned char cancel = 1;
    ASSERT_EQ(0, CaughtCode([&] {
                  CreKey_Build(&cancel, pages_.inside().c_str(), Db().c_str(), nullptr, nullptr,
                               "frame");
              }));
    EXPECT_EQ(0, cancel);
    EXPECT_EQ(3u, Links(Db()).size());
    EXPECT_NE(std::string::npos, DbBytes().find("\r\nDispTarget = frame\r\n"));
}

// ---- A failed build keeps the old database ----------------------------------------

TEST_F(CreKeyTest, WalkLimitKeepsThePreviousDatabase) {
    const std::string old = "old database\r\n";
    out_.Write("vark.kwf", old);
    Page("a.htm", "<title>A</title>");
    std::string deep = "z";
    for (int i = 1; i < 50; i++) deep += "/z";
    fs::create_directories(pages_.path() + "/" + deep);  // 50 levels below the base
    EXPECT_EQ(9991, Build());
    EXPECT_EQ(old, DbBytes()) << "byte for byte";
    EXPECT_FALSE(fs::exists(out_.path() + "/vark.kwf.tmp"));
    EXPECT_EQ(Lines{"a.htm"}, CalledPaths());
    // With one level less the walk ends and the database is replaced.
    fs::remove(pages_.path() + "/" + deep);
    ASSERT_EQ(0, Build());
    EXPECT_EQ(Lines{"A = A, , a.htm"}, Links(Db()));
    EXPECT_FALSE(fs::exists(out_.path() + "/vark.kwf.tmp"));
}

TEST_F(CreKeyTest, UnwritableDatabaseReports362AndKeepsWhatWasThere) {
    Page("a.htm", "<title>A</title>");
    const std::string old = "old database\r\n";
    out_.Write("vark.kwf", old);
    // The temporary file cannot be made (a folder holds its name): nothing is walked.
    fs::create_directory(out_.path() + "/vark.kwf.tmp");
    EXPECT_EQ(362, Build());
    EXPECT_EQ(old, DbBytes());
    EXPECT_TRUE(fs::is_directory(out_.path() + "/vark.kwf.tmp"));
    EXPECT_TRUE(calls_.empty());
    fs::remove(out_.path() + "/vark.kwf.tmp");
    // The database cannot be put in place (a folder holds its name).
    out_.Write("dir.kwf/inner", "x");
    EXPECT_EQ(362, Build(pages_.inside(), Inside(out_, "dir.kwf")));
    EXPECT_EQ("x", out_.Read("dir.kwf/inner"));
    EXPECT_FALSE(fs::exists(out_.path() + "/dir.kwf.tmp"));
    // A folder that does not exist; a path with no room for ".tmp" in 259 bytes.
    EXPECT_EQ(362, Build(pages_.inside(), Inside(out_, "none/vark.kwf")));
    EXPECT_FALSE(fs::exists(out_.path() + "/none"));
    EXPECT_EQ(362, Build(pages_.inside(),
                         out_.inside() + "\\" + std::string(255 - out_.inside().size(), 'x')));
    EXPECT_EQ(old, DbBytes());
    EXPECT_TRUE(boxes_.boxes.empty());
}

// ---- One page never stops the build -----------------------------------------------

TEST_F(CreKeyTest, LongTitleIsCutAtACharacterAndTheHeadGoesOn) {
    // 200 characters of 表 fill the 400-byte record exactly: the last byte
    // gives way to the NUL and the lead byte left behind must go too.
    const std::pair<std::string, std::string> cases[] = {
        {std::string(399, 'a'), std::string(399, 'a')},
        {std::string(400, 'a'), std::string(399, 'a')},
        {Repeat(kHyo, 200), Repeat(kHyo, 199)},
        {Repeat(kHyo, 250), Repeat(kHyo, 199)},
        {"a" + Repeat(kHyo, 250), "a" + Repeat(kHyo, 199)},
        {std::string(450, 'a') + "<b>", std::string(399, 'a')}};
    for (const auto& [title, stored] : cases)
        EXPECT_EQ(stored + ", k",
                  Entry("<title>" + title + "</title><meta name=keywords content=k>"))
            << title.size();
    // The search finds the exact case by its keywords and links it whole.
    Page("p.htm", "<title>" + Repeat(kHyo, 200) + "</title><meta name=keywords content=k>");
    ASSERT_EQ(0, Build());
    EXPECT_EQ(Lines{Repeat(kHyo, 199) + " | k | " + Href("p.htm")}, Search(Db(), "k"));
}

TEST_F(CreKeyTest, TagTooLargeForThePoolIsPassedOver) {
    const std::string big(5000, 'v');
    const std::pair<std::string, std::string> cases[] = {
        {"<meta name=description content=\"" + big +
             "\"><title>T</title><meta name=keywords content=k>",
         "T, k"},
        {"<meta content=" + big + " name=x><meta name=keywords content=k>", "(no title), k"},
        {"<meta name=keywords content=first><meta name=keywords content=\"" + big + "\">",
         "(no title), first"},
        {"<" + big + "><title>T</title>", "T, "},
        {"<title " + big + ">T</title>", "(no title), "},  // a title tag passed over
        {"<meta name=keywords content=\"" + std::string(4060, 'k') + "\">",  // just fits
         "(no title), " + std::string(4060, 'k')}};
    for (const auto& [page, entry] : cases) EXPECT_EQ(entry, Entry(page)) << page.substr(0, 40);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(CreKeyTest, KeywordsCutByThePoolKeepWholeCharacters) {
    // As the fifth attribute, content is read into what is left of the pool
    // and the tag ends there, so the value is cut without a report; the cut
    // leaves whole characters (or the tag is passed over).
    Page("p.htm", "<meta a=1 b=2 c=3 name=\"keywords\" content=\"x" + Repeat(kHyo, 2100) +
                      "\"><title>T</title>");
    ASSERT_EQ(0, Build());
    const Lines links = Links(Db());
    ASSERT_EQ(1u, links.size());
    const std::string& line = links[0];
    ASSERT_EQ(0u, line.find("A = T, ")) << line.substr(0, 20);
    ASSERT_EQ(line.size() - 7, line.rfind(", p.htm"));
    const std::string keywords = line.substr(7, line.size() - 14);
    EXPECT_TRUE(keywords.empty() || keywords.compare(0, 3, "x" + kHyo) == 0);
    EXPECT_TRUE(WholeCharacters(keywords)) << keywords.size() << " bytes";
    EXPECT_EQ(Lines{"T | " + keywords + " | " + Href("p.htm")}, Search(Db(), "x"));
}

TEST_F(CreKeyTest, ReadPageReportsWhatItDidAndReleasesItsScratch) {
    const std::string base = pages_.inside();
    const std::string good = Page("sub/g.htm", "<title>G</title><meta name=keywords content=k>");
    const std::string binary = Page("b.htm", std::string("<title>\0", 8));
    IniWriter w{};
    std::string read;
    BigStack* bs = BigStack_Sys();
    unsigned char* sp = bs->sp;
    ASSERT_EQ(0, CaughtCode([&] {
                  IniFile_OpenWrite(&w, Db().c_str());
                  for (const std::string& p : {good, binary, Inside(pages_, "none.htm")})
                      read += CreKey_ReadPage(p.c_str(), base.c_str(), &w) ? "1" : "0";
              }));
    EXPECT_EQ("100", read);
    EXPECT_EQ(sp, bs->sp);
    // With less than its 42060 bytes left on the scratch stack: 281, no entry.
    BigStack_Push(bs);
    EXPECT_EQ(0, CaughtCode([&] { BigStack_Alloc(bs, bs->mem + bs->size - bs->sp - 42000); }));
    EXPECT_EQ(281, CaughtCode([&] { CreKey_ReadPage(good.c_str(), base.c_str(), &w); }));
    BigStack_Pop(bs);
    EXPECT_EQ(sp, bs->sp);
    ASSERT_EQ(0, CaughtCode([&] { IniFile_CloseWrite(&w); }));
    EXPECT_EQ("A = G, k, sub\\g.htm\r\n \r\n", DbBytes());
}

// ---- Build and search ------------------------------------------------------------

TEST_F(CreKeyTest, BuiltDatabaseIsFoundBySearch) {
    const std::string kyoto = Sjis(u8"京都");
    Page("travel/kyoto.htm", "<title>" + Sjis(u8"京都旅行") +
                                 "</title><meta name=keywords content=\"" +
                                 Sjis(u8"旅行; 京都; 寺") + "\">");
    Page("notes.htm", "<title>Notes, misc</title>");
    Page("jis.htm", "<title>\x1b$B5~ET$N;{\x1b(B</title>");  // 京都の寺
    ASSERT_EQ(0, Build());
    EXPECT_EQ(
        (Lines{
            "A = " + Sjis(u8"京都の寺") + ", , jis.htm", "A = \"Notes, misc\", , notes.htm",
            "A = " + Sjis(u8"京都旅行") + ", " + Sjis(u8"旅行; 京都; 寺") + ", travel\\kyoto.htm"}),
        Links(Db()));
    EXPECT_EQ((Lines{Sjis(u8"京都の寺") + " | (none) | " + Href("jis.htm"),
                     Sjis(u8"京都旅行") + " | " + kyoto + " | " + Href("travel/kyoto.htm")}),
              Search(Db(), kyoto));
    EXPECT_EQ(Lines{"Notes, misc | (none) | " + Href("notes.htm")}, Search(Db(), "MISC"));
    int pages = 0;
    ASSERT_EQ(0, CaughtCode([&] { pages = Kwf_CountPages(Db().c_str()); }));
    EXPECT_EQ(3, pages);
}

// ---- Memory -----------------------------------------------------------------------

// Allocations of opening a page as the lexer does, reading its first byte and
// closing it: all in the platform layer (the path conversion, the text-mode
// stream and its cookie, and the stdio buffer of the raw stream, which takes
// its block at the first read).
long OpenAndReadCost(const std::string& page) {
    AllocCounter counter;
    FILE* f = FileX_Open(page.c_str(), "rt");
    fgetc(f);
    fclose(f);
    return counter.Count();
}

// Allocations of building base into db, with no callback.
long BuildAllocs(const std::string& base, const std::string& db) {
    volatile unsigned char cancel = 0;
    AllocCounter counter;
    CreKey_Build(&cancel, base.c_str(), db.c_str(), nullptr, nullptr, "main");
    return counter.Count();
}

TEST_F(CreKeyTest, ReadingAPageTakesNoHeapMemoryBeyondOpeningIt) {
    // Every per-page buffer lies on the scratch stack, so reading a page costs
    // what opening and reading a file costs the platform, whatever the page
    // holds; a raised report adds the run-time's exception object (a tag
    // passed over, a binary page skipped).
    const std::string head = "<html><head><title>\x1b$B5~ET\x1b(B " + std::string(300, 't') +
                             "</title><meta name=keywords content=\"" + std::string(3000, 'k') +
                             "\"></head>";
    const std::tuple<const char*, std::string, long> cases[] = {
        {"a large page", head + "<body>" + std::string(100000, 'b') + "</body></html>", 0},
        {"a title cut to its record", "<title>" + std::string(1000, 't') + "</title>", 0},
        {"a tag passed over", "<meta content=\"" + std::string(5000, 'd') + "\">" + head, 1},
        {"a binary page", "<title>T\f</title>", 1}};
    const std::string base = pages_.inside();
    IniWriter w{};
    ASSERT_EQ(0, CaughtCode([&] {
                  IniFile_OpenWrite(&w, Db().c_str());
                  CreKey_WriteHeader(&w, base.c_str(), "main");
              }));
    for (const auto& [what, bytes, throws] : cases) {
        const std::string page = Page("p.htm", bytes);
        long cost = -1, readCost = -1;
        ASSERT_EQ(0, CaughtCode([&] {
                      CreKey_ReadPage(page.c_str(), base.c_str(), &w);  // first-use costs
                      cost = OpenAndReadCost(page);
                      AllocCounter counter;
                      CreKey_ReadPage(page.c_str(), base.c_str(), &w);
                      readCost = counter.Count();
                  }))
            << what;
        EXPECT_GT(cost, 0) << what;
        EXPECT_EQ(cost + throws, readCost) << what;
    }
    ASSERT_EQ(0, CaughtCode([&] { IniFile_CloseWrite(&w); }));
    EXPECT_EQ(6u, Links(Db()).size());
}

TEST_F(CreKeyTest, BuildCostGrowsOnlyByListingAndOpeningPerPage) {
    // 1 page and 50 pages: the difference is the platform's listing of 49
    // more names plus 49 more pages opened and read, nothing in the builder.
    TempDir one, fifty;
    const std::string page = "<title>T</title><meta name=keywords content=k>";
    one.Write("p0.htm", page);
    for (int i = 0; i < 50; i++) fifty.Write("p" + std::to_string(i) + ".htm", page);
    auto list = [](const std::string& folder) {
        AllocCounter counter;
        FileX_Find find;
        FileX_FindFirst(&find, folder.c_str());
        while (!FileX_FindNext(&find)) {
        }
        FileX_FindClose(&find);
        return counter.Count();
    };
    long oneAllocs = 0, fiftyAllocs = 0, pageCost = 0, listOne = 0, listFifty = 0;
    ASSERT_EQ(0, CaughtCode([&] {
                  BuildAllocs(one.inside(), Db());  // first-use costs out of the count
                  oneAllocs = BuildAllocs(one.inside(), Db());
                  fiftyAllocs = BuildAllocs(fifty.inside(), Db());
                  pageCost = OpenAndReadCost(Inside(one, "p0.htm"));
                  listOne = list(one.inside());
                  listFifty = list(fifty.inside());
              }));
    EXPECT_EQ(50u, Links(Db()).size());
    EXPECT_EQ(oneAllocs + (listFifty - listOne) + 49 * pageCost, fiftyAllocs)
        << "one page " << oneAllocs << ", fifty " << fiftyAllocs << ", per page " << pageCost
        << ", listing " << listOne << " / " << listFifty;
}

// ---- Encodings: byte-order mark, declared charsets, UTF-8 -------------------------

TEST_F(CreKeyTest, Utf8PagesAreStoredInShiftJis) {
    const std::string head = "<title>" + U8(u8"京都の旅") +
                             "</title><meta name=keywords content=\"" + U8(u8"京都; 寺") + "\">";
    // An unknown charset falls back to detection.
    for (const std::string& page :
         {head, "\xEF\xBB\xBF" + head, "<meta charset=\"utf-8\">" + head,
          "<META CHARSET=UTF-8>" + head,
          "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">" + head,
          "<meta http-equiv=CONTENT-TYPE content=\"text/html;charset=utf8\">" + head,
          "<meta charset=\"iso-8859-1\">" + head})
        EXPECT_EQ(Sjis(u8"京都の旅") + ", " + Sjis(u8"京都; 寺"), Entry(page))
            << page.substr(0, page.find("<title>"));
}

TEST_F(CreKeyTest, DeclaredShiftJisWinsOverBytesThatAreValidUtf8) {
    // The half-width kana ﾃｽ are 0xC3 0xBD in Shift_JIS, which is also the
    // UTF-8 of U+00FD: the declaration decides.
    const std::string kana = "\xC3\xBD";
    EXPECT_EQ(kana + ", " + kana,
              Entry("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
                    "<title>" +
                    kana + "</title><meta name=keywords content=" + kana + ">"));
    for (const char* name : {"x-sjis", "windows-31j", "cp932", "SHIFT-JIS"})
        EXPECT_EQ(kana + ", ",
                  Entry(std::string("<meta charset=") + name + "><title>" + kana + "</title>"))
            << name;
    // Undeclared, the same bytes read as UTF-8: ý has no Shift_JIS form.
    EXPECT_EQ(Sjis(u8"〓") + ", ", Entry("<title>" + kana + "</title>"));
}

TEST_F(CreKeyTest, WrongDeclarationWinsForWhatFollowsIt) {
    // A UTF-8 page that declares EUC-JP is taken at its word: its bytes go
    // through the EUC-JP conversion. A title before the declaration is
    // decided by its own bytes (UTF-8).
    const std::string utf8 = U8(u8"京都");
    char asEuc[16];
    StrX_ToSjisFrom(asEuc, sizeof asEuc, utf8.c_str(), StrX_Code_Euc);
    ASSERT_NE(Sjis(u8"京都"), asEuc);
    EXPECT_EQ(std::string(asEuc) + ", ", Entry("<meta charset=euc-jp><title>" + utf8 + "</title>"));
    EXPECT_EQ(Sjis(u8"京都") + ", " + asEuc,
              Entry("<title>" + utf8 +
                    "</title><meta charset=EUC-JP><meta name=keywords content=" + utf8 + ">"));
}

TEST_F(CreKeyTest, CharactersOutsideShiftJisBecomeGeta) {
    // An emoji and a rare kanji (𠮷) have no CP932 form; the wave dash 〜 is
    // CP932's ～. One mark per character, the rest of the words intact.
    // (Texts outside CP932 stay out of the assertion macros, which would
    // spell them in the test's own CP932 literals.)
    const std::string geta = Sjis(u8"〓");
    const std::string expected = Sjis(u8"旅") + geta + Sjis(u8"と") + geta + Sjis(u8"野家～") +
                                 ", " + Sjis(u8"京都; ") + geta;
    const std::string page = "<meta charset=utf-8><title>" + U8(u8"旅😀と𠮷野家〜") +
                             "</title><meta name=keywords content=\"" + U8(u8"京都; 🍣") + "\">";
    EXPECT_EQ(expected, Entry(page));
}

TEST_F(CreKeyTest, JisKeywordsAreConvertedWhole) {
    // ピアノ in ISO-2022-JP holds the byte '"' (ア is 0x25 0x22): inside
    // two-byte text it ends neither the quoted value nor the tag.
    const std::string piano = "\x1b$B%T%\"%N\x1b(B";
    EXPECT_EQ("(no title), " + Sjis(u8"音楽; ピアノ; 表"),
              Entry("<meta name=keywords content=\"\x1b$B2;3Z\x1b(B; " + piano +
                    "; \x1b$BI=\x1b(B\"><title></title x>"));
    EXPECT_EQ(Sjis(u8"音楽の部屋") + ", " + Sjis(u8"音楽; ピアノ"),
              Entry("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-2022-JP\">"
                    "<title>\x1b$B2;3Z$NIt20\x1b(B</title>"
                    "<meta name=\"keywords\" content=\"\x1b$B2;3Z\x1b(B; " +
                    piano + "\">"));
}

TEST_F(CreKeyTest, Utf8PageIsFoundByItsTitleAndKeywords) {
    Page("blog.html", "\xEF\xBB\xBF<html><head><meta charset=\"utf-8\"><title>" +
                          U8(u8"カフェ日記") + "</title><meta name=\"keywords\" content=\"" +
                          U8(u8"珈琲; 京都") + "\"></head>");
    ASSERT_EQ(0, Build());
    const std::string title = Sjis(u8"カフェ日記") + " | ";
    EXPECT_EQ(Lines{title + Sjis(u8"珈琲") + " | " + Href("blog.html")},
              Search(Db(), Sjis(u8"珈琲")));
    EXPECT_EQ(Lines{title + "(none) | " + Href("blog.html")}, Search(Db(), Sjis(u8"日記")));
}

}  // namespace
