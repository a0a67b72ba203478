// The database builder: pages written to a temporary folder, built with
// CreKey_Build and the database read back line by line.
//
// Link lines are compared whole, as the database file holds them ("A = title,
// keywords, path", CP932). Japanese text is written through Sjis(u8"...") or
// escapes, never as a plain literal.

#include "app/crekey.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
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

// ---- Helpers ------------------------------------------------------------------

// True for "Update = YYYY/MM/DD-hh:mm:ss".
bool IsUpdateLine(const std::string& line) {
    const std::string shape = "Update = 0000/00/00-00:00:00";
    if (line.size() != shape.size()) return false;
    for (size_t i = 0; i < shape.size(); i++) {
        if (shape[i] == '0' ? !isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
            return false;
    }
    return true;
}

// The lines of a text-mode file with their CR LF (or LF) ends taken off; a
// last line without an end is kept.
std::vector<std::string> FileLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The page lines of a database: every line after the head "[links] " up to
// the closing blank line. {"(no links)"} when the head is missing,
// {..., "(unclosed)"} when the closing blank is.
std::vector<std::string> LinkLines(const std::string& bytes) {
    std::vector<std::string> lines = FileLines(bytes), links;
    size_t i = 0;
    while (i < lines.size() && lines[i] != "[links] ") i++;
    if (i == lines.size()) return {"(no links)"};
    for (i++; i < lines.size() && lines[i] != " "; i++) links.push_back(lines[i]);
    if (i == lines.size()) links.push_back("(unclosed)");
    return links;
}

// Whole file bytes at a native path; "(missing)" when it cannot be read.
std::string Slurp(const std::string& native) {
    FILE* f = fopen(native.c_str(), "rb");
    if (!f) return "(missing)";
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    fclose(f);
    return s;
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

// The lines 1-11 and 14 of a database without pages; the Update line is
// checked apart (it holds the time of the build).
std::vector<std::string> EmptyDatabase(const std::string& base, const std::string& update) {
    return {"[main] ",           "Application = Tessaly!",
            "Version = 100",     "bNewFile = 0",
            "Base = " + base,    update,
            "bCanUpdate = 1",    "DispURL = (default)",
            "DispTarget = main", " ",
            "[links] ",          " "};
}

// One progress call as the callback saw it; path relative to the base folder.
struct Call {
    std::string path;
    int count, position, total;
    bool operator==(const Call& o) const {
        return path == o.path && count == o.count && position == o.position && total == o.total;
    }
};

std::ostream& operator<<(std::ostream& os, const Call& c) {
    return os << "{" << c.path << " #" << c.count << " " << c.position << "/" << c.total << "}";
}

// One hit of a search.
struct Hit {
    std::string title, entry, href;
    bool operator==(const Hit& o) const {
        return title == o.title && entry == o.entry && href == o.href;
    }
};

std::ostream& operator<<(std::ostream& os, const Hit& h) {
    return os << "{" << Utf8(h.title) << " | " << Utf8(h.entry) << " | " << h.href << "}";
}

class CreKeyTest : public LibraryTest {
   protected:
    // Writes a file below the pages folder (rel with '/'); returns its inside path.
    std::string Page(const std::string& rel, const std::string& bytes) {
        pages_.Write(rel, bytes);
        return Inside(pages_, rel);
    }
    static std::string Inside(const TempDir& dir, const std::string& rel) {
        std::string p = dir.inside() + "\\" + rel;
        for (char& c : p)
            if (c == '/') c = '\\';
        return p;
    }
    // The database outside the pages folder.
    std::string Db() const { return Inside(out_, "vark.kwf"); }

    // Builds base into db inside a try frame and returns the caught code (0:
    // the build ended normally). Every callback call is logged in calls_, then
    // onCall_ runs. The scratch stack and the frame stack must be as before.
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

    // The page lines of the database at an inside path.
    static std::vector<std::string> Links(const std::string& db) {
        return LinkLines(Slurp(Fs_ToNative(db)));
    }

    // The page lines of a build of one page p.htm alone in a folder, joined
    // by " | "; "(build failed N)" when the build raised.
    std::string LinkOf(const std::string& page) {
        TempDir dir;
        dir.Write("p.htm", page);
        int code = Build(dir.inside(), Db());
        if (code != 0) return "(build failed " + std::to_string(code) + ")";
        std::string joined;
        for (const std::string& l : Links(Db())) joined += (joined.empty() ? "" : " | ") + l;
        return joined;
    }

    static int OnProgress(void* context, const CreKey_Progress* p) {
        CreKeyTest* t = static_cast<CreKeyTest*>(context);
        std::string path = p->path;
        const std::string prefix = t->base_ + "\\";
        if (path.compare(0, prefix.size(), prefix) == 0) path.erase(0, prefix.size());
        t->calls_.push_back({path, p->count, p->position, p->total});
        if (t->onCall_) t->onCall_(*p);
        return 0;
    }

    std::vector<std::string> CalledPaths() const {
        std::vector<std::string> paths;
        for (const Call& c : calls_) paths.push_back(c.path);
        return paths;
    }

    // Searches db for query and returns the hits.
    std::vector<Hit> Search(const std::string& db, const std::string& query) {
        struct Sink {
            std::vector<Hit> hits;
            int count = -1;
            static void OnHit(void* c, const char* title, const char* entry, const char* href) {
                static_cast<Sink*>(c)->hits.push_back({title, entry ? entry : "(none)", href});
            }
            static void OnEnd(void* c, int count) { static_cast<Sink*>(c)->count = count; }
        } sink;
        Kwf_HitSink k{Sink::OnHit, Sink::OnEnd, &sink};
        EXPECT_EQ(0, CaughtCode([&] { Kwf_Search(db.c_str(), query.c_str(), &k); }));
        EXPECT_EQ(static_cast<int>(sink.hits.size()), sink.count);
        return sink.hits;
    }

    TempDir pages_;  // the folder built
    TempDir out_;    // where the database goes unless a test says otherwise
    std::string base_;
    volatile unsigned char cancel_ = 0;
    CreKey_Stats stats_{};
    std::vector<Call> calls_;
    std::function<void(const CreKey_Progress&)> onCall_;
};

// ---- What a page's head gives ------------------------------------------------------

TEST_F(CreKeyTest, SubFolderPageGivesTitleKeywordsAndRelativePath) {
    Page("sub/page.htm",
         "<html><head>\n<title>Alpha</title>\n"
         "<meta name=\"keywords\" content=\"a b c\">\n</head><body>x</body></html>\n");
    ASSERT_EQ(0, Build());
    EXPECT_EQ(std::vector<std::string>{"A = Alpha, a b c, sub\\page.htm"}, Links(Db()));
    EXPECT_EQ(1, stats_.files);
    EXPECT_EQ(1, stats_.pages);
    EXPECT_EQ(0, stats_.skipped);
}

TEST_F(CreKeyTest, HeadRules) {
    struct Case {
        const char* what;
        std::string page;
        std::string link;
    } cases[] = {
        // Tags and attributes.
        {"capitals", "<HTML><HEAD><TITLE>Alpha</TITLE><META NAME=\"Keywords\" CONTENT=\"a b c\">",
         "A = Alpha, a b c, p.htm"},
        {"unquoted values", "<meta name=KEYWORDS content=abc>", "A = (no title), abc, p.htm"},
        {"spaces around =", "<meta name = \"keywords\"  content =  \"k\" >",
         "A = (no title), k, p.htm"},
        {"content as fifth attribute", "<meta a=1 b=2 c=3 name=\"keywords\" content=\"k\">",
         "A = (no title), k, p.htm"},
        {"name and content after five others",
         "<meta a=1 b=2 c=3 d=4 e=5 name=\"keywords\" content=\"k\">", "A = (no title), , p.htm"},
        {"newline after the tag name", "<meta\nname=\"keywords\" content=\"k\">",
         "A = (no title), , p.htm"},
        {"TAB after the tag name", "<meta\tname=\"keywords\" content=\"k\">",
         "A = (no title), , p.htm"},
        {"newline after a space is white space", "<meta \nname=\"keywords\"\ncontent=\"k\">",
         "A = (no title), k, p.htm"},
        {"single-quoted content", "<meta name=\"keywords\" content='a b'>",
         "A = (no title), 'a, p.htm"},
        {"another meta", "<meta name=\"description\" content=\"d\">", "A = (no title), , p.htm"},
        {"keywords without content keep the earlier ones",
         "<meta name=keywords content=first><meta name=keywords>", "A = (no title), first, p.htm"},
        {"the last keywords meta wins",
         "<meta name=keywords content=one><meta name=keywords "
         "content=two>",
         "A = (no title), two, p.htm"},
        {"keywords lose CR, LF and TAB", "<meta name=keywords content=\"a\r\nb\tc\rd\">",
         "A = (no title), abcd, p.htm"},
        {"keywords with a comma are quoted", "<meta name=keywords content=\"a, b\">",
         "A = (no title), \"a, b\", p.htm"},
        // The title.
        {"multi-line title", "<title>Al\r\npha\n beta\tgam\rma</title>",
         "A = Alpha betagamma, , p.htm"},
        {"title with markup", "<title>A<b>B</b>C</title>", "A = A<b>B</b>C, , p.htm"},
        {"title with a comma is quoted", "<title>Notes, misc</title>",
         "A = \"Notes, misc\", , p.htm"},
        {"empty title", "<title></title><meta name=keywords content=k>", "A = , k, p.htm"},
        {"closing tag in capitals", "<title>Alpha</TITLE>", "A = Alpha, , p.htm"},
        {"no </title> before </head>", "<title>Alpha</head><meta name=keywords content=k>",
         "A = (no title), , p.htm"},
        {"no </title> and no head end", "<title>Alpha<meta name=keywords content=k>",
         "A = (no title), , p.htm"},
        {"</title > does not end the title", "<title>Alpha</title ><i>x</i></title>",
         "A = Alpha</title ><i>x</i>, , p.htm"},
        {"</title > runs on to </head>", "<title>Alpha</title ></head>", "A = (no title), , p.htm"},
        {"the last title wins", "<title>One</title><title>Two</title>", "A = Two, , p.htm"},
        {"a later unfinished title keeps the earlier", "<title>One</title><title>Two</head>",
         "A = One, , p.htm"},
        // The end of the head.
        {"meta after </head> ignored",
         "<head><title>T</title></head><meta name=keywords content=late>", "A = T, , p.htm"},
        {"</HEAD> in capitals", "<title>T</title></HEAD><meta name=keywords content=late>",
         "A = T, , p.htm"},
        {"title after </head> ignored", "</head><title>T</title>", "A = (no title), , p.htm"},
        {"no head end: the whole page is read",
         "<body><p>text</p><title>T</title><meta name=keywords content=k></body>",
         "A = T, k, p.htm"},
        {"a binary byte after the head is never read",
         "<title>T</title></head>\n\n\n\n\n\n\n\n\n\n\n\n" + std::string(1, '\0') + "\f",
         "A = T, , p.htm"},
        // Comments are tags that end at the first '>'.
        {"a comment swallows the first tag in it", "<!-- <meta name=keywords content=k> -->",
         "A = (no title), , p.htm"},
        {"a tag after the comment's first '>' counts",
         "<!-- <b> <meta name=keywords content=k> -->", "A = (no title), k, p.htm"},
        // Pages without a head.
        {"empty page", "", "A = (no title), , p.htm"},
        {"plain text", "hello\n", "A = (no title), , p.htm"},
        {"a lone '<' at the end", "<", "A = (no title), , p.htm"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.link, LinkOf(c.page)) << c.what;
}

TEST_F(CreKeyTest, JapaneseTitlesAreStoredInShiftJis) {
    const std::string kyoto = Sjis(u8"京都");
    const std::string nihongo = Sjis(u8"日本語のページ");
    struct Case {
        const char* what;
        std::string page;
        std::string link;
    } cases[] = {
        {"Shift_JIS", "<title>" + kyoto + "</title><meta name=keywords content=\"" + kyoto + "\">",
         "A = " + kyoto + ", " + kyoto + ", p.htm"},
        // 0x5C trail bytes stay as they are.
        {"Shift_JIS with 0x5C trail bytes", "<title>" + kHyo + "\x83\x5C</title>",
         "A = " + kHyo + "\x83\x5C, , p.htm"},
        {"JIS", "<title>\x1b$B5~ET\x1b(B</title>", "A = " + kyoto + ", , p.htm"},
        // ページ holds the byte 0x3C ('<') as the second half of the long vowel mark.
        {"JIS with a '<' byte", "<title>\x1b$BF|K\\8l$N%Z!<%8\x1b(B</title>",
         "A = " + nihongo + ", , p.htm"},
        {"EUC-JP",
         "<title>\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xa5\xda\xa1\xbc\xa5\xb8</title>"
         "<meta name=keywords content=k>",
         "A = " + nihongo + ", k, p.htm"},
        // Keywords are converted like the title.
        {"EUC-JP keywords", "<meta name=keywords content=\"\xb5\xfe\xc5\xd4\">",
         "A = (no title), " + kyoto + ", p.htm"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.link, LinkOf(c.page)) << c.what;
}

TEST_F(CreKeyTest, LessThanByteInsideJisTextStartsNoTag) {
    // In two-byte JIS text the bytes "</head>!" are the four kanji 鹿蒹痲勝: the
    // title goes on to its real end and the keywords after it are read.
    const std::string jis = "\x1b$B</head>!\x1b(B";
    EXPECT_EQ("A = " + Sjis(u8"鹿蒹痲勝") + ", k, p.htm",
              LinkOf("<title>" + jis + "</title><meta name=keywords content=k>"));
    // Outside the title too: no tag is read in two-byte text.
    EXPECT_EQ("A = T, , p.htm",
              LinkOf("<title>T</title>\x1b$B<meta name=keywords content=xx>\x1b(B"));
    // Back in one-byte text after ESC ( B tags are read again.
    EXPECT_EQ("A = T, k, p.htm",
              LinkOf("\x1b$B5~\x1b(B<title>T</title><meta name=keywords content=k>"));
}

// ---- Files that get no entry ------------------------------------------------------

TEST_F(CreKeyTest, BinaryFilesAreSkippedAndTheBuildGoesOn) {
    Page("a.htm", std::string("<title>A\0</title>", 17));
    Page("b.htm", "<meta name=\"key\fwords\" content=k>");            // inside a tag
    Page("c.htm", "<title>C</title><meta name=keywords content=k>");  // read
    Page("d.htm", std::string("\0", 1));
    Page("e.htm", "<title>E\b</title>");
    Page("f.htm", "\x1b$B5~\x1b(B\x0e\x0f\x1a<title>F</title>");  // ESC SO SI ^Z are text
    ASSERT_EQ(0, Build());
    EXPECT_EQ((std::vector<std::string>{"A = C, k, c.htm", "A = F, , f.htm"}), Links(Db()));
    EXPECT_EQ(6, stats_.files);
    EXPECT_EQ(2, stats_.pages);
    EXPECT_EQ(4, stats_.skipped);
    EXPECT_TRUE(boxes_.boxes.empty()) << "a skipped page shows nothing";
}

TEST_F(CreKeyTest, PageNameRule) {
    const char* pages[] = {"a.htm", "A.HTML", "a.htmx", "a.Htm", "x.y.htm", ".htm", "a b.html"};
    const char* others[] = {"a.htm.bak", "a.shtml", "a.txt", "a.htm.htm", "a",
                            "htm",       "a.ht",    "a_htm", "a.xhtml"};
    for (const char* name : pages) EXPECT_TRUE(CreKey_IsPageName(name)) << name;
    for (const char* name : others) EXPECT_FALSE(CreKey_IsPageName(name)) << name;

    // In a build the same names decide which files are read; every file counts.
    for (const char* name : pages) Page(name, "<title>T</title>");
    for (const char* name : others) Page(name, "<title>T</title>");
    ASSERT_EQ(0, Build());
    std::vector<std::string> expected = {"A = T, , .htm",   "A = T, , a b.html", "A = T, , a.Htm",
                                         "A = T, , a.htm",  "A = T, , A.HTML",   "A = T, , a.htmx",
                                         "A = T, , x.y.htm"};
    std::vector<std::string> links = Links(Db());
    std::sort(links.begin(), links.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, links);
    EXPECT_EQ(16, stats_.files);
    EXPECT_EQ(16, static_cast<int>(calls_.size()));
    EXPECT_EQ(7, stats_.pages);
    EXPECT_EQ(0, stats_.skipped);
}

TEST_F(CreKeyTest, DatabaseInsideTheFolderIsCountedButNeverRead) {
    // Named like a page, so only the path rule keeps it out.
    const std::string db = Inside(pages_, "db.htm");
    Page("a.htm", "<title>A</title>");
    ASSERT_EQ(0, Build(pages_.inside(), db));
    EXPECT_EQ(std::vector<std::string>{"A = A, , a.htm"}, Links(db));
    // The second build sees the database (never its own temporary file).
    ASSERT_EQ(0, Build(pages_.inside(), db));
    EXPECT_EQ(std::vector<std::string>{"A = A, , a.htm"}, Links(db));
    EXPECT_EQ((std::vector<std::string>{"a.htm", "db.htm"}), CalledPaths());
    EXPECT_EQ(2, stats_.files);
    EXPECT_EQ(1, stats_.pages);
    EXPECT_EQ(0, stats_.skipped);
    EXPECT_FALSE(fs::exists(pages_.path() + "/db.htm.tmp"));
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
    EXPECT_EQ(std::vector<std::string>{"a.htm"}, CalledPaths()) << "the first call stops it";
    EXPECT_EQ(1, stats_.files);
    EXPECT_EQ(0, stats_.pages);

    std::vector<std::string> lines = FileLines(Slurp(out_.path() + "/vark.kwf"));
    ASSERT_EQ(12u, lines.size());
    EXPECT_TRUE(IsUpdateLine(lines[5])) << lines[5];
    EXPECT_EQ(EmptyDatabase(pages_.inside(), lines[5]), lines);
    time_t stamped = 0;
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadUpdateTime(Db().c_str(), &stamped); }));
    EXPECT_GE(stamped, before - 1);
    EXPECT_LE(stamped, after);
    // CR LF on disk.
    EXPECT_EQ(0u, Slurp(out_.path() + "/vark.kwf").find("[main] \r\nApplication = Tessaly!\r\n"));
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
    EXPECT_EQ((std::vector<std::string>{"A = a, , a.htm", "A = b, , b.htm"}), Links(Db()));
    EXPECT_EQ(3, stats_.files);
    EXPECT_EQ(2, stats_.pages);
    EXPECT_FALSE(fs::exists(out_.path() + "/vark.kwf.tmp"));
}

TEST_F(CreKeyTest, EmptyFolderGivesHeaderAndEmptyLinksWithoutCallback) {
    ASSERT_EQ(0, Build());
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(0, stats_.files);
    std::vector<std::string> lines = FileLines(Slurp(out_.path() + "/vark.kwf"));
    ASSERT_EQ(12u, lines.size());
    EXPECT_EQ(EmptyDatabase(pages_.inside(), lines[5]), lines);

    // Base is written exactly as given, trailing backslash included; a
    // missing folder walks as empty.
    const std::string withSlash = pages_.inside() + "\\";
    ASSERT_EQ(0, Build(withSlash, Db()));
    EXPECT_EQ("Base = " + withSlash, FileLines(Slurp(out_.path() + "/vark.kwf"))[4]);
    const std::string missing = pages_.inside() + "\\none";
    ASSERT_EQ(0, Build(missing, Db()));
    EXPECT_TRUE(calls_.empty());
    EXPECT_EQ(std::vector<std::string>{}, Links(Db()));
}

TEST_F(CreKeyTest, ProgressCountsEveryFileWithPositionAndTotal) {
    // Listing order: a.htm, b.txt, c (x.htm, y.txt), d.htm.
    Page("a.htm", "<title>A</title>");
    Page("b.txt", "text");
    Page("c/x.htm", "<title>X</title>");
    Page("c/y.txt", "text");
    Page("d.htm", "<title>D</title>");
    std::vector<std::string> full;
    onCall_ = [&](const CreKey_Progress& p) { full.push_back(p.path); };
    ASSERT_EQ(0, Build());
    EXPECT_EQ((std::vector<Call>{{"a.htm", 1, 0, 4},
                                 {"b.txt", 2, 1, 4},
                                 {"c\\x.htm", 3, 4, 8},
                                 {"c\\y.txt", 4, 5, 8},
                                 {"d.htm", 5, 3, 4}}),
              calls_);
    ASSERT_EQ(5u, full.size());
    EXPECT_EQ(Inside(pages_, "c/x.htm"), full[2]) << "the full path";
    EXPECT_EQ((std::vector<std::string>{"A = A, , a.htm", "A = X, , c\\x.htm", "A = D, , d.htm"}),
              Links(Db()));
    EXPECT_EQ(5, stats_.files);
    EXPECT_EQ(3, stats_.pages);

    // Without a callback and without stats the build still runs.
    volatile unsigned char cancel = 1;
    ASSERT_EQ(0, CaughtCode([&] {
                  CreKey_Build(&cancel, pages_.inside().c_str(), Db().c_str(), nullptr, nullptr,
                               "frame");
              }));
    EXPECT_EQ(0, cancel);
    EXPECT_EQ(3u, Links(Db()).size());
    EXPECT_NE(std::string::npos,
              Slurp(out_.path() + "/vark.kwf").find("\r\nDispTarget = frame\r\n"));
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
    EXPECT_EQ(old, Slurp(out_.path() + "/vark.kwf")) << "byte for byte";
    EXPECT_FALSE(fs::exists(out_.path() + "/vark.kwf.tmp"));
    EXPECT_EQ(std::vector<std::string>{"a.htm"}, CalledPaths());

    // With one level less the walk ends and the database is replaced.
    fs::remove(pages_.path() + "/" + deep);
    ASSERT_EQ(0, Build());
    EXPECT_EQ(std::vector<std::string>{"A = A, , a.htm"}, Links(Db()));
    EXPECT_FALSE(fs::exists(out_.path() + "/vark.kwf.tmp"));
}

TEST_F(CreKeyTest, UnwritableDatabaseReports362AndKeepsWhatWasThere) {
    Page("a.htm", "<title>A</title>");
    const std::string old = "old database\r\n";
    out_.Write("vark.kwf", old);

    // The temporary file cannot be made (a folder holds its name).
    fs::create_directory(out_.path() + "/vark.kwf.tmp");
    EXPECT_EQ(362, Build());
    EXPECT_EQ(old, Slurp(out_.path() + "/vark.kwf"));
    EXPECT_TRUE(fs::is_directory(out_.path() + "/vark.kwf.tmp"));
    EXPECT_TRUE(calls_.empty()) << "nothing is walked";
    fs::remove(out_.path() + "/vark.kwf.tmp");

    // The database cannot be put in place (a folder holds its name).
    const std::string folderDb = Inside(out_, "dir.kwf");
    fs::create_directory(out_.path() + "/dir.kwf");
    out_.Write("dir.kwf/inner", "x");
    EXPECT_EQ(362, Build(pages_.inside(), folderDb));
    EXPECT_EQ("x", Slurp(out_.path() + "/dir.kwf/inner"));
    EXPECT_FALSE(fs::exists(out_.path() + "/dir.kwf.tmp"));

    // A folder that does not exist.
    EXPECT_EQ(362, Build(pages_.inside(), Inside(out_, "none/vark.kwf")));
    EXPECT_FALSE(fs::exists(out_.path() + "/none"));

    // A path with no room for ".tmp" in 259 bytes.
    const std::string longDb = out_.inside() + "\\" + std::string(255 - out_.inside().size(), 'x');
    EXPECT_EQ(362, Build(pages_.inside(), longDb));
    EXPECT_EQ(old, Slurp(out_.path() + "/vark.kwf"));
    EXPECT_TRUE(boxes_.boxes.empty());
}

// ---- One page never stops the build -----------------------------------------------

TEST_F(CreKeyTest, LongTitleIsCutAtACharacterAndTheHeadGoesOn) {
    const std::string after = "</title><meta name=keywords content=k>";
    struct Case {
        const char* what;
        std::string title;
        std::string stored;
    } cases[] = {
        {"399 bytes fit", std::string(399, 'a'), std::string(399, 'a')},
        {"400 bytes lose one", std::string(400, 'a'), std::string(399, 'a')},
        {"500 bytes", std::string(500, 'a'), std::string(399, 'a')},
        {"500 bytes of double-byte characters", Repeat(kHyo, 250), Repeat(kHyo, 199)},
        {"odd start, double-byte characters", "a" + Repeat(kHyo, 250), "a" + Repeat(kHyo, 199)},
        {"a '<' after the cut", std::string(450, 'a') + "<b>", std::string(399, 'a')},
    };
    for (const Case& c : cases)
        EXPECT_EQ("A = " + c.stored + ", k, p.htm", LinkOf("<title>" + c.title + after)) << c.what;
}

TEST_F(CreKeyTest, TitleFillingTheRecordExactlyKeepsWholeCharacters) {
    // 200 characters of 表 fill the 400-byte record without overflowing it:
    // the record's last byte gives way to the NUL, and the title must not end
    // in the lead byte left behind (a broken character before the ", ").
    Page("p.htm", "<title>" + Repeat(kHyo, 200) + "</title><meta name=keywords content=k>");
    ASSERT_EQ(0, Build());
    const std::vector<std::string> links = Links(Db());
    ASSERT_EQ(std::vector<std::string>{"A = " + Repeat(kHyo, 199) + ", k, p.htm"}, links);
    // A search finds the page by its keywords and links it whole.
    const std::vector<Hit> expected = {
        {Repeat(kHyo, 199), "k", "file://" + pages_.path() + "/p.htm"}};
    EXPECT_EQ(expected, Search(Db(), "k"));
}

TEST_F(CreKeyTest, TagTooLargeForThePoolIsPassedOver) {
    const std::string big(5000, 'v');
    struct Case {
        const char* what;
        std::string page;
        std::string link;
    } cases[] = {
        {"long value, later keywords meta",
         "<meta name=description content=\"" + big +
             "\"><title>T</title><meta name=keywords content=k>",
         "A = T, k, p.htm"},
        {"long unquoted value", "<meta content=" + big + " name=x><meta name=keywords content=k>",
         "A = (no title), k, p.htm"},
        {"long keywords are passed over, the earlier stay",
         "<meta name=keywords content=first><meta name=keywords content=\"" + big + "\">",
         "A = (no title), first, p.htm"},
        {"long tag name", "<" + big + "><title>T</title>", "A = T, , p.htm"},
        {"a title tag passed over starts no title", "<title " + big + ">T</title>",
         "A = (no title), , p.htm"},
        {"just fits", "<meta name=keywords content=\"" + std::string(4060, 'k') + "\">",
         "A = (no title), " + std::string(4060, 'k') + ", p.htm"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.link, LinkOf(c.page)) << c.what;
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(CreKeyTest, KeywordsCutByThePoolKeepWholeCharacters) {
    // As the fifth attribute, content is read into what is left of the pool
    // and the tag ends there, so the value is cut without a report. A sound
    // cut leaves whole characters (or the tag is passed over): never a lead
    // byte right before the ", " of the database line.
    Page("p.htm", "<meta a=1 b=2 c=3 name=\"keywords\" content=\"x" + Repeat(kHyo, 2100) +
                      "\"><title>T</title>");
    ASSERT_EQ(0, Build());
    const std::vector<std::string> links = Links(Db());
    ASSERT_EQ(1u, links.size());
    const std::string& line = links[0];
    ASSERT_EQ(0u, line.find("A = T, ")) << line.substr(0, 20);
    ASSERT_EQ(line.size() - 7, line.rfind(", p.htm"));
    const std::string keywords = line.substr(7, line.size() - 14);
    EXPECT_TRUE(keywords.empty() || keywords.compare(0, 3, "x" + kHyo) == 0);
    EXPECT_TRUE(WholeCharacters(keywords)) << keywords.size() << " bytes, the last 0x" << std::hex
                                           << (static_cast<unsigned char>(keywords.back()) + 0);
    EXPECT_EQ((std::vector<Hit>{{"T", keywords, "file://" + pages_.path() + "/p.htm"}}),
              Search(Db(), "x"));
}

TEST_F(CreKeyTest, PageThatCannotBeOpenedIsSkipped) {
    Page("a.htm", "<title>A</title>");
    Page("b.htm", "<title>B</title>");
    Page("c.htm", "<title>C</title>");
    fs::create_symlink("missing-target.htm", pages_.path() + "/x.htm");  // dangling
    // b.htm goes away between its listing and its reading.
    onCall_ = [&](const CreKey_Progress& p) {
        if (p.count == 2) fs::remove(pages_.path() + "/b.htm");
    };
    ASSERT_EQ(0, Build());
    EXPECT_EQ((std::vector<std::string>{"a.htm", "b.htm", "c.htm", "x.htm"}), CalledPaths());
    EXPECT_EQ((std::vector<std::string>{"A = A, , a.htm", "A = C, , c.htm"}), Links(Db()));
    EXPECT_EQ(4, stats_.files);
    EXPECT_EQ(2, stats_.pages);
    EXPECT_EQ(2, stats_.skipped);
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(CreKeyTest, ReadPageReportsWhatItDid) {
    const std::string db = Db();
    const std::string good = Page("sub/g.htm", "<title>G</title><meta name=keywords content=k>");
    const std::string binary = Page("b.htm", std::string("<title>\0", 8));
    IniWriter w{};
    bool read[3] = {};
    unsigned char* sp = BigStack_Sys()->sp;
    ASSERT_EQ(0, CaughtCode([&] {
                  IniFile_OpenWrite(&w, db.c_str());
                  CreKey_WriteHeader(&w, pages_.inside().c_str(), "main");
                  read[0] = CreKey_ReadPage(good.c_str(), pages_.inside().c_str(), &w);
                  read[1] = CreKey_ReadPage(binary.c_str(), pages_.inside().c_str(), &w);
                  read[2] = CreKey_ReadPage(Inside(pages_, "none.htm").c_str(),
                                            pages_.inside().c_str(), &w);
                  IniFile_CloseWrite(&w);
              }));
    EXPECT_TRUE(read[0]);
    EXPECT_FALSE(read[1]);
    EXPECT_FALSE(read[2]);
    EXPECT_EQ(sp, BigStack_Sys()->sp);
    EXPECT_EQ(std::vector<std::string>{"A = G, k, sub\\g.htm"}, Links(db));
}

TEST_F(CreKeyTest, ReadPageNeedsItsScratchAndReleasesIt) {
    const std::string page = Page("a.htm", "<title>A</title>");
    IniWriter w{};
    ASSERT_EQ(0, CaughtCode([&] { IniFile_OpenWrite(&w, Db().c_str()); }));
    // Leave less than the page's 42060 bytes (and a mark) on the scratch stack.
    BigStack* bs = BigStack_Sys();
    unsigned char* sp = bs->sp;
    BigStack_Push(bs);
    const int room = static_cast<int>(bs->mem + bs->size - bs->sp);
    EXPECT_EQ(0, CaughtCode([&] { BigStack_Alloc(bs, room - 42000); }));
    EXPECT_EQ(281, CaughtCode([&] { CreKey_ReadPage(page.c_str(), pages_.inside().c_str(), &w); }));
    BigStack_Pop(bs);
    EXPECT_EQ(sp, bs->sp);
    EXPECT_EQ(0, CaughtCode([&] { IniFile_CloseWrite(&w); }));
    EXPECT_EQ(" \r\n", Slurp(out_.path() + "/vark.kwf")) << "no entry written";
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
        (std::vector<std::string>{
            "A = " + Sjis(u8"京都の寺") + ", , jis.htm", "A = \"Notes, misc\", , notes.htm",
            "A = " + Sjis(u8"京都旅行") + ", " + Sjis(u8"旅行; 京都; 寺") + ", travel\\kyoto.htm"}),
        Links(Db()));

    const std::string root = "file://" + pages_.path();
    EXPECT_EQ((std::vector<Hit>{{Sjis(u8"京都の寺"), "(none)", root + "/jis.htm"},
                                {Sjis(u8"京都旅行"), kyoto, root + "/travel/kyoto.htm"}}),
              Search(Db(), kyoto));
    EXPECT_EQ((std::vector<Hit>{{"Notes, misc", "(none)", root + "/notes.htm"}}),
              Search(Db(), "MISC"));
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
    // Every per-page buffer of the builder lies on the scratch stack, so
    // reading a page costs exactly what opening and reading a file costs the
    // platform, whatever the page holds. The one addition is a raised report:
    // frames ride on C++ exceptions, and a throw takes its exception object
    // from the run-time's heap (a tag passed over, a binary page skipped).
    const std::string head = "<html><head><title>\x1b$B5~ET\x1b(B " + std::string(300, 't') +
                             "</title><meta name=keywords content=\"" + std::string(3000, 'k') +
                             "\"></head>";
    const std::string body = "<body>" + std::string(100000, 'b') + "</body></html>";
    struct Case {
        const char* what;
        std::string page;
        long throws;
    } cases[] = {
        {"a large page", head + body, 0},
        {"a title cut to its record", "<title>" + std::string(1000, 't') + "</title>", 0},
        {"a tag passed over", "<meta content=\"" + std::string(5000, 'd') + "\">" + head, 1},
        {"a binary page", "<title>T\f</title>", 1},
    };
    const std::string base = pages_.inside();
    IniWriter w{};
    ASSERT_EQ(0, CaughtCode([&] {
                  IniFile_OpenWrite(&w, Db().c_str());
                  CreKey_WriteHeader(&w, base.c_str(), "main");
              }));
    for (const Case& c : cases) {
        const std::string page = Page("p.htm", c.page);
        long cost = -1, readCost = -1;
        ASSERT_EQ(0, CaughtCode([&] {
                      CreKey_ReadPage(page.c_str(), base.c_str(), &w);  // first-use costs
                      cost = OpenAndReadCost(page);
                      AllocCounter counter;
                      CreKey_ReadPage(page.c_str(), base.c_str(), &w);
                      readCost = counter.Count();
                  }))
            << c.what;
        EXPECT_GT(cost, 0) << c.what;
        EXPECT_EQ(cost + c.throws, readCost) << c.what;
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

// UTF-8 text of a literal, as a page holds it.
std::string Utf8Bytes(const char8_t* text) {
    return reinterpret_cast<const char*>(text);
}

TEST_F(CreKeyTest, Utf8PagesAreStoredInShiftJis) {
    const std::string title = Utf8Bytes(u8"京都の旅"), keywords = Utf8Bytes(u8"京都; 寺");
    const std::string stored = "A = " + Sjis(u8"京都の旅") + ", " + Sjis(u8"京都; 寺") + ", p.htm";
    const std::string head =
        "<title>" + title + "</title><meta name=keywords content=\"" + keywords + "\">";
    struct Case {
        const char* what;
        std::string page;
    } cases[] = {
        {"no declaration", head},
        {"byte-order mark", "\xEF\xBB\xBF" + head},
        {"meta charset", "<meta charset=\"utf-8\">" + head},
        {"meta charset unquoted, capitals", "<META CHARSET=UTF-8>" + head},
        {"http-equiv",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">" + head},
        {"http-equiv in capitals",
         "<meta http-equiv=CONTENT-TYPE content=\"text/html;charset=utf8\">" + head},
        {"an unknown charset falls back to detection", "<meta charset=\"iso-8859-1\">" + head},
    };
    for (const Case& c : cases) EXPECT_EQ(stored, LinkOf(c.page)) << c.what;
}

TEST_F(CreKeyTest, DeclaredShiftJisWinsOverBytesThatAreValidUtf8) {
    // The half-width kana ﾃｽ are 0xC3 0xBD in Shift_JIS, which is also the
    // UTF-8 of U+00FD: the declaration decides.
    const std::string kana = "\xC3\xBD";
    EXPECT_EQ("A = " + kana + ", " + kana + ", p.htm",
              LinkOf("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">"
                     "<title>" +
                     kana + "</title><meta name=keywords content=" + kana + ">"));
    for (const char* name : {"x-sjis", "windows-31j", "cp932", "SHIFT-JIS"})
        EXPECT_EQ("A = " + kana + ", , p.htm",
                  LinkOf(std::string("<meta charset=") + name + "><title>" + kana + "</title>"))
            << name;
    // Undeclared, the same bytes read as UTF-8: ý has no Shift_JIS form.
    EXPECT_EQ("A = " + Sjis(u8"〓") + ", , p.htm", LinkOf("<title>" + kana + "</title>"));
}

TEST_F(CreKeyTest, WrongDeclarationWins) {
    // A UTF-8 page that declares EUC-JP is taken at its word: its bytes go
    // through the EUC-JP conversion (the page is wrong, not the reader).
    const std::string utf8 = Utf8Bytes(u8"京都");
    char expected[16];
    StrX_ToSjisFrom(expected, sizeof expected, utf8.c_str(), StrX_Code_Euc);
    ASSERT_NE(Sjis(u8"京都"), expected);
    EXPECT_EQ(std::string("A = ") + expected + ", , p.htm",
              LinkOf("<meta charset=euc-jp><title>" + utf8 + "</title>"));
}

TEST_F(CreKeyTest, DeclarationCountsForWhatFollowsIt) {
    // The title comes before the declaration, so the page's own bytes decide
    // for it (UTF-8); the keywords come after it and are taken as EUC-JP.
    const std::string utf8 = Utf8Bytes(u8"京都");
    char asEuc[16];
    StrX_ToSjisFrom(asEuc, sizeof asEuc, utf8.c_str(), StrX_Code_Euc);
    EXPECT_EQ("A = " + Sjis(u8"京都") + ", " + asEuc + ", p.htm",
              LinkOf("<title>" + utf8 +
                     "</title><meta charset=EUC-JP><meta name=keywords content=" + utf8 + ">"));
}

TEST_F(CreKeyTest, CharactersOutsideShiftJisBecomeGeta) {
    const std::string geta = Sjis(u8"〓");
    // An emoji and a rare kanji (𠮷) have no CP932 form; the wave dash 〜 is
    // CP932's ～. One mark per character, the rest of the words intact.
    // (Texts outside CP932 stay out of the assertion macros, which would
    // spell them in the test's own CP932 literals.)
    const std::string title = Utf8Bytes(u8"旅😀と𠮷野家〜");
    const std::string keywords = Utf8Bytes(u8"京都; 🍣");
    const std::string expected = "A = " + Sjis(u8"旅") + geta + Sjis(u8"と") + geta +
                                 Sjis(u8"野家～") + ", " + Sjis(u8"京都; ") + geta + ", p.htm";
    const std::string page = "<meta charset=utf-8><title>" + title +
                             "</title><meta name=keywords content=\"" + keywords + "\">";
    EXPECT_EQ(expected, LinkOf(page));
}

TEST_F(CreKeyTest, JisKeywordsAreConvertedWhole) {
    // ピアノ in ISO-2022-JP holds the byte '"' (ア is 0x25 0x22) and 鍵 holds
    // '>' (0x38 0x30 ... 0x3E in other characters): inside two-byte text they
    // end neither the quoted value nor the tag.
    const std::string piano = "\x1b$B%T%\"%N\x1b(B";
    const std::string hyo = "\x1b$BI=\x1b(B";  // 表
    EXPECT_EQ("A = (no title), " + Sjis(u8"音楽; ピアノ; 表") + ", p.htm",
              LinkOf("<meta name=keywords content=\"\x1b$B2;3Z\x1b(B; " + piano + "; " + hyo +
                     "\"><title></title x>"));
    // The sample pages' JIS and EUC-JP keywords come out in Shift_JIS.
    EXPECT_EQ("A = " + Sjis(u8"音楽の部屋") + ", " + Sjis(u8"音楽; ピアノ") + ", p.htm",
              LinkOf("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=ISO-2022-JP\">"
                     "<title>\x1b$B2;3Z$NIt20\x1b(B</title>"
                     "<meta name=\"keywords\" content=\"\x1b$B2;3Z\x1b(B; " +
                     piano + "\">"));
}

TEST_F(CreKeyTest, Utf8PageIsFoundByItsTitleAndKeywords) {
    Page("blog.html", "\xEF\xBB\xBF<html><head><meta charset=\"utf-8\"><title>" +
                          Utf8Bytes(u8"カフェ日記") + "</title><meta name=\"keywords\" content=\"" +
                          Utf8Bytes(u8"珈琲; 京都") + "\"></head>");
    ASSERT_EQ(0, Build());
    const std::string href = "file://" + pages_.path() + "/blog.html";
    EXPECT_EQ((std::vector<Hit>{{Sjis(u8"カフェ日記"), Sjis(u8"珈琲"), href}}),
              Search(Db(), Sjis(u8"珈琲")));
    EXPECT_EQ((std::vector<Hit>{{Sjis(u8"カフェ日記"), "(none)", href}}),
              Search(Db(), Sjis(u8"日記")));
}

}  // namespace
