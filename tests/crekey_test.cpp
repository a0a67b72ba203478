// The database builder: pages written to a temporary folder, built with
// CreKey_Build and the link lines read back whole ("A = title, keywords, path",
// CP932). Japanese text goes through Sjis(u8"...") or escapes.

#include "app/crekey.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "app/kwf.h"
#include "components/bigstack.h"
#include "components/blex2.h"
#include "components/filex.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// The page lines of a database: those after the head "[links] " up to the closing blank line.
Lines LinkLines(const std::string& bytes) {
    const size_t start = bytes.find("[links] \r\n"), end = bytes.find("\r\n \r\n", start);
    if (start == std::string::npos || end == std::string::npos) return {"(no links or unclosed)"};
    Lines lines;
    for (size_t at = start + 10; at < end + 2; at = bytes.find("\r\n", at) + 2)
        lines.push_back(bytes.substr(at, bytes.find("\r\n", at) - at));
    return lines;
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
std::string Title(const std::string& text) {
    return "<title>" + text + "</title>";
}
std::string Kw(const std::string& content) {
    return "<meta name=keywords content=\"" + content + "\">";
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
    static std::string Inside(const TempDir& dir, std::string rel) {
        std::replace(rel.begin(), rel.end(), '/', '\\');
        return dir.inside() + "\\" + rel;
    }
    // The database outside the pages folder.
    std::string Db() const { return Inside(out_, "vark.kwf"); }
    std::string DbBytes() const { return ReadFile(out_.path() + "/vark.kwf"); }
    static Lines Links(const std::string& db) { return LinkLines(ReadFile(Fs_ToNative(db))); }

    // Builds base into db in a try frame; returns the caught code (0: ended
    // normally). Each callback call is logged in calls_ as "path #count
    // position/total" and its path in paths_ (relative to base), then onCall_ runs.
    int Build(const std::string& base, const std::string& db) {
        calls_.clear();
        paths_.clear();
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
    static int OnProgress(void* context, const CreKey_Progress* p) {
        CreKeyTest* t = static_cast<CreKeyTest*>(context);
        std::string path = p->path;  // a full path
        const std::string prefix = t->base_ + "\\";
        path = path.starts_with(prefix) ? path.substr(prefix.size()) : "(not full) " + path;
        t->paths_.push_back(path);
        t->calls_.push_back(path + " #" + std::to_string(p->count) + " " +
                            std::to_string(p->position) + "/" + std::to_string(p->total));
        if (t->onCall_) t->onCall_(*p);
        return 0;
    }

    // The "title, keywords" of a build of one page p.htm alone in a folder;
    // all link lines when they are not one entry for p.htm.
    std::string Entry(const std::string& page) {
        TempDir dir;
        dir.Write("p.htm", page);
        if (int code = Build(dir.inside(), Db()))
            return "(build failed " + std::to_string(code) + ")";
        const Lines links = Links(Db());
        if (links.size() == 1 && links[0].starts_with("A = ") && links[0].ends_with(", p.htm"))
            return links[0].substr(4, links[0].size() - 11);
        return testing::PrintToString(links);
    }

    // Searches db for query; the hits as "title | entry | href".
    Lines Search(const std::string& db, const std::string& query) {
        Lines hits;
        Kwf_HitSink sink{[](void* c, const char* title, const char* entry, const char* href) {
                             static_cast<Lines*>(c)->push_back(std::string(title) + " | " +
                                                               (entry ? entry : "(none)") + " | " +
                                                               href);
                         },
                         [](void*, int) {}, &hits};
        EXPECT_EQ(CodeName(0),
                  CodeName(CaughtCode([&] { Kwf_Search(db.c_str(), query.c_str(), &sink); })));
        return hits;
    }

    // The names in the database's folder, hidden ones included, sorted.
    Lines OutFiles() const {
        Lines names;
        for (const auto& e : fs::directory_iterator(out_.path()))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // The fault hook: the first call of g_faultOp fails.
    static inline std::string g_faultOp;
    static int InjectFault(const char* op, const char*) {
        if (g_faultOp != op) return 0;
        g_faultOp.clear();
        return EIO;
    }

    TempDir pages_;  // the folder built
    TempDir out_;    // where the database goes unless a test says otherwise
    std::string base_;
    volatile unsigned char cancel_ = 0;
    CreKey_Stats stats_{};
    Lines calls_, paths_;
    std::function<void(const CreKey_Progress&)> onCall_;
};

// ---- What a page's head gives ------------------------------------------------------

// What a page's head gives, and that no page, however long its title or
// large its tags, stops the head being read.
TEST_F(CreKeyTest, HeadRules) {
    const std::string big(5000, 'v'), k = "<meta name=keywords content=k>";
    const std::string nulAfterHead =
        "<title>T</title></head>" + std::string(12, '\n') + '\0' + "\f";
    const std::pair<std::string, std::string> cases[] = {
        // Tags and attributes.
        {"<HTML><HEAD><TITLE>Alpha</TITLE><META NAME=\"Keywords\" CONTENT=\"a b c\">",
         "Alpha, a b c"},
        {"<meta name=keywords content=\"a\r\nb\tc\rd\">", "(no title), abcd"},
        // The title.
        {"<title>Al\r\npha\n beta\tgam\rma</title>", "Alpha betagamma, "},
        {"<title>A<b>B</b>C</title>", "A<b>B</b>C, "},
        {"<title></title><meta name=keywords content=k>", ", k"},
        {"<title>Alpha</head><meta name=keywords content=k>", "(no title), "},
        {"<title>Alpha</title ><i>x</i></title>", "Alpha</title ><i>x</i>, "},
        {"<title>Alpha</title ></head>", "(no title), "},
        {"<title>One</title><title>Two</head>", "One, "},
        // EUC-JP's three-byte characters (ç) have no Shift_JIS form.
        {"<meta charset=euc-jp><title>Traduction fran\x8F\xAB\xB1"
         "aise \xA4\xCE\x8E\xB1</title>",
         "Traduction fran\x81\xAC"
         "aise \x82\xCC\xB1, "},
        // The end of the head; without one the whole page is read.
        {"<head><title>T</title></head><meta name=keywords content=late>", "T, "},
        {"<body><p>text</p><title>T</title><meta name=keywords content=k></body>", "T, k"},
        {nulAfterHead, "T, "},
        // Comments are tags that end at the first '>'.
        {"<!-- <meta name=keywords content=k> -->", "(no title), "},
        {"<!-- <b> <meta name=keywords content=k> -->", "(no title), k"},
        {"", "(no title), "},
        // Shift_JIS as it is (表ソ: trail bytes 0x5C).
        {"<title>" + kHyo + "\x83\x5C</title>", kHyo + "\x83\x5C, "},
        {"<title>\x1b$BF|K\\8l$N%Z!<%8\x1b(B</title>",
         Sjis(u8"日本語のページ, ")},  // '<' inside JIS
        // In two-byte JIS the bytes "</head>!" are 鹿蒹痲勝: no tag is read there.
        {"<title>\x1b$B</head>!\x1b(B</title><meta name=keywords content=k>",
         Sjis(u8"鹿蒹痲勝") + ", k"},
        {"<title>T</title>\x1b$B<meta name=keywords content=xx>\x1b(B", "T, "},
        // Half-width katakana in JIS: ｢ｼｰﾄﾞ｣ is the bytes "<0D^#, neither a tag nor a value's end.
        {"<title>\x1b(I\"<0D^#\x1b(B</title><meta name=keywords content=\"\x1b(I\"<0D^#\x1b(B; "
         "\x1b$B5~ET\x1b(B\">",
         Sjis(u8"｢ｼｰﾄﾞ｣, ｢ｼｰﾄﾞ｣; 京都")},
        // 200 characters of 表 fill the 400-byte title record exactly: the last
        // byte gives way to the NUL and the lead byte left behind must go too.
        {"<title>" + std::string(400, 'a') + "</title>" + k, std::string(399, 'a') + ", k"},
        {"<title>" + Repeat(kHyo, 200) + "</title>" + k, Repeat(kHyo, 199) + ", k"},
        {"<title>a" + Repeat(kHyo, 250) + "</title>" + k, "a" + Repeat(kHyo, 199) + ", k"},
        {"<title>" + std::string(450, 'a') + "<b></title>" + k, std::string(399, 'a') + ", k"},
        // The record fills with a '<' whose look-ahead is still held.
        {"<title>" + std::string(398, 'a') + "<xyzwvu</title>" + k, std::string(398, 'a') + "<, k"},
        // A tag too large for the 4096-byte pool is passed over.
        {"<meta name=description content=\"" + big + "\"><title>T</title>" + k, "T, k"},
        {"<meta name=keywords content=first><meta name=keywords content=\"" + big + "\">",
         "(no title), first"},
        {"<title " + big + ">T</title>", "(no title), "},
        {"<meta name=keywords content=\"" + std::string(4060, 'k') + "\">",  // just fits
         "(no title), " + std::string(4060, 'k')}};
    for (const auto& [page, entry] : cases) EXPECT_EQ(entry, Entry(page)) << page.substr(0, 60);
    EXPECT_TRUE(boxes_.boxes.empty());
}

// The scan of the bytes held and the lexer give every head the same entry
// (or refuse it alike): heads the scan reads, and heads at each of its bounds
// (title and tag lengths, attributes, CR, control bytes, the end of the file
// or of the first block), which it must leave to the lexer or read as it does.
TEST_F(CreKeyTest, HeldScanGivesEveryHeadTheLexersEntry) {
    auto attrs = [](int n) {
        std::string s;
        for (int i = 0; i < n; i++) s += NumberedName(" a", i, "=v");
        return s;
    };
    const std::string kw = "<meta name=keywords content=k>";
    std::vector<std::string> pages = {
        "",
        "<",
        "<t",
        "\xEF\xBB",
        "\xEF\xBB\xBF<title>\xE4\xBA\xAC</title>",
        "\xEF\xBB\x01",
        "<html><head><title>T</title>" + kw + "</head><body>",
        "<HTML><HEAD><TITLE>T</TITLE><META NAME=Keywords CONTENT='a b'></HEAD>",
        "<meta name = \"keywords\"\tcontent =\n'k1'\r\n><meta name=keywords content=k2>",
        "<meta content=k name=keywords><meta name=keywords>",
        "<meta name=keywords content=k name=other content=l>",
        "<meta name=\"keywords\"content=\"k\">",
        "<meta =x name=keywords content=k>",
        "<meta name=keywords content>",
        "<meta charset=euc-jp charset=utf-8><title>\xA4\xCE</title>",
        "<meta charset><title>\xA4\xCE</title>",
        "<meta http-equiv=Content-Type content='text/html; charset=EUC-JP'><title>\xA4\xCE</title>",
        "<meta http-equiv=content-type content='text/html;charset=utf-8'><meta charset=euc-jp>"
        "<title>\xE4\xBA\xAC</title>",
        "<title>\xE4\xBA\xAC</title><meta name=keywords content='\xE4\xBA\xAC'>",
        "<title>\x95\x5C\x83\x5C</title>",
        "<title>a</title><title>b</title>",
        "<title>a</title><title>b</head>",
        "<title>a<b>c</title >d</TITLE>",
        "<title>a</head>",
        "<title>a</titl",
        "<title>a</title",
        "<title>a</head",
        "<title>a</title>",
        "<title>a</head>\x01",
        "<title>a</head>1\x01",
        "<title>a</head>12\x01",
        "<title>T</title></head>\x01",
        "<title>T</title><b\x01>",
        "<title>T\x01</title>",
        "<title>T</title>\x1a\x0e\x0f" + kw,
        "<title>a\r\nb</title>" + kw,
        "<title>a\rb</title>" + kw,
        "<title>a\tb\nc</title>" + kw,
        "<meta name=keywords content='a\r\nb'>",
        "<meta name=keywords content='a\rb'>",
        "<meta charset='euc-jp\r\n'><title>\xA4\xCE</title>",
        "<meta name=description content='a\r\nb'>" + kw,
        "<meta\rname=keywords\rcontent=k\r>",
        "<meta name=keywords content=k\r",
        "<meta name=keywords content='k",
        "<meta name=keywords content='k'",
        "<meta name=keywords content=",
        "<meta name=keywords\x1b$B content=k>",
        "<title>\x1b$B5~ET\x1b(B</title>" + kw,
        // ISO-2022-JP: in two-byte and half-width kana text no byte is a tag,
        // a quote or a separator.
        "<title>\x1b$B</head>!\x1b(B</title>" + kw,
        "<title>T</title>\x1b$B<meta name=keywords content=xx>\x1b(B" + kw,
        "<title>\x1b(I\"<0D^#\x1b(B</title><meta name=keywords content=\"\x1b(I\"<0D^#\x1b(B; "
        "\x1b$B5~ET\x1b(B\">",
        "<meta name=keywords content='\x1b$B'>' x\x1b(B'><title>\x1b$@5~\x1b(JT\x1b(H</title>",
        "<meta name=keywords content=\x1b$B5~ \x1b(B x><meta\x1b$B name=keywords content=k>",
        "<meta name=keywords content='\x1b$B5~\r\nET\x1b(B'>",
        "<meta name=\x1b$B5~\r\nET\x1b(B content=k>" + kw,
        "<title>\x1b$\x01B</title>",
        "<title>\x1b(\rB</title>" + kw,
        "<meta name=keywords content='\x1b$'>",
        "<meta name=keywords content='\x1b('>",
        "<title>a\x1b",
        "<title>a\x1b$",
        "<meta name=k\x1b",
        "\x1b$B",
        "\x1b$B\r\n<title>T</title>",
        "<script>if (a < b && c > d) x = '</head>';</script><title>T</title>" + kw,
        "<!-- <title>x</title> --><title>T</title>",
        "<body><p>no head</p><title>T</title>" + kw + "</body>",
        "<title>T</title>" + kw + "</head>\x00\x01 binary after the head",
        "<meta" + attrs(61) + " name=keywords content=k>",
        "<meta" + attrs(62) + " name=keywords content=k>",
        "<meta" + attrs(63) + " name=keywords content=k>",
        "<meta" + attrs(64) + " name=keywords content=k>",
        "<meta" + attrs(70) + " name=keywords content=k>" + kw,
    };
    // Titles at the scan's bound (398 bytes) and the record's (400), of single
    // bytes and of double-byte characters; tags at the scan's bound (2000
    // bytes) and the pool's (4096).
    for (int n : {396, 397, 398, 399, 400, 401}) {
        pages.push_back("<title>" + std::string(n, 'a') + "</title>" + kw);
        pages.push_back("<title>a" + std::string(n - 2, 'b') + "\x95</title>" + kw);
        pages.push_back("<title>" + Repeat(kHyo, n / 2) + "</title>" + kw);
        pages.push_back("<title>" + std::string(n, 'a') + "<xyzwvu</title>" + kw);
        pages.push_back("<title>" + std::string(n, 'a') + "</head>");
        // UTF-8 without a declared charset, cut inside a character (at some n).
        for (const std::string head : {"", "a"}) {
            std::string utf8 = head;
            while (utf8.size() < static_cast<size_t>(n))
                utf8 += std::string("\xE4\xBA\xAC").substr(0, n - utf8.size());
            pages.push_back("<title>" + utf8 + "</title>" + kw);
        }
    }
    for (int n : {1960, 1970, 1980, 1990, 2000, 4030, 4040, 4050, 4060, 4070})
        pages.push_back(kw + "<meta name=keywords content='" + std::string(n, 'k') + "'>");
    // Heads around the end of the first block (4096 bytes), and pages that
    // end there.
    for (int n : {4000, 4060, 4080, 4085, 4090, 4095, 4096, 4097, 4100, 5000}) {
        const std::string head = "<title>T</title>" + kw;
        pages.push_back(head + std::string(n - head.size(), ' ') + "</head>" +
                        "<meta name=keywords content=after>");
        pages.push_back(std::string(n - 40, ' ') + "<title>T</title><meta name=keywords content=k");
        pages.push_back(std::string(n, ' '));
        pages.push_back(std::string(n - 1, ' ') + "\r\n<title>T</title>");
        pages.push_back(std::string(n - 2, ' ') + "\x1b$B5~ET\x1b(B<title>T</title>");
        pages.push_back("<title>" + std::string(n - 9, ' ') + "\x1b$B5~\x1b(B</title>" + kw);
    }
    // A title's "</head>" that ends the first block: the lexer's look-ahead
    // of 8 bytes meets the byte after it.
    for (const char* after : {"\x01", "x"})
        pages.push_back(std::string(4096 - 15, ' ') + "<title>T</head>" + after);
    // The entry and the counts of files, pages and pages skipped.
    auto read = [&](const std::string& page, bool held) {
        CreKey_SetHeldScan(held);
        const std::string entry = Entry(page);
        return entry + " " + Stats();
    };
    for (const std::string& page : pages)
        EXPECT_EQ(read(page, false), read(page, true))
            << testing::PrintToString(page.substr(0, 80));
    EXPECT_TRUE(boxes_.boxes.empty());
}

// Heads as browsers read them: single quotes group a value as double quotes
// do, TAB, LF and CR separate a tag's name and attributes as a blank does, and
// the keywords are found behind many other attributes; texts with quotes
// that a tag reader could misread keep what they hold.
TEST_F(CreKeyTest, HeadsAsBrowsersReadThem) {
    auto attrs = [](int n) {
        std::string s;
        for (int i = 0; i < n; i++) s += NumberedName(" a", i, "=v");
        return s;
    };
    const std::string jisSmallE = "\x1b$B$'\x1b(B";  // ぇ: 0x24 0x27, a quote byte
    const std::pair<std::string, std::string> cases[] = {
        // Single quotes group.
        {"<meta name='keywords' content='a, b'>", "(no title), \"a, b\""},
        {"<meta name=keywords content='gamma delta'>", "(no title), gamma delta"},
        {"<meta name='keywords' content=''><title>T</title>", "T, "},
        {"<meta name=keywords content='" + jisSmallE + "; x'>", "(no title), " + Sjis(u8"ぇ; x")},
        // White space between the name and the attributes, and between these.
        {"<meta\nname=\"keywords\" content=\"k\">", "(no title), k"},
        {"<meta\tname=\"keywords\"\tcontent=\"k\">", "(no title), k"},
        {"<meta\rname=\"keywords\"\rcontent=\"k\"\r>", "(no title), k"},
        {"<meta\r\n  name = \"keywords\"\r\n  content = 'k'\r\n>", "(no title), k"},
        {"<meta name=\"keywords\"content=\"k\">", "(no title), k"},  // no blank after a quote
        {"<title\n>T</title>", "T, "},
        {"<title\tlang=en>T</title>", "T, "},
        // Form feed stays a byte that text does not hold: the page is skipped.
        {"<meta\fname=keywords content=k>", "{}"},
        // Many attributes: 64 are read, so 62 others leave room for both.
        {"<meta a=1 b=2 c=3 d=4 e=5 f=6 name=\"keywords\" content=\"k\">", "(no title), k"},
        {"<meta" + attrs(32) + " name=keywords content=k>", "(no title), k"},
        {"<meta" + attrs(62) + " name=keywords content=k>", "(no title), k"},
        {"<meta" + attrs(63) + " name=keywords content=k><title>T</title>", "T, "},
        {"<meta disabled name=keywords content=k>", "(no title), k"},  // a name without '='
        // Quotes that must not be misread.
        {"<meta name=\"keywords\" content=\"rock'n'roll; it's\">", "(no title), rock'n'roll; it's"},
        {"<meta name=keywords content=it's>", "(no title), it's"},
        {"<meta name=keywords content='a\"b'>", "(no title), \"a\"\"b\""},
        {"<meta name=description content='Bob's page'><meta name=keywords content=k>",
         "(no title), k"},
        {"<meta name=\"keywords content=\"k\"><title>T</title>", "T, "},  // unbalanced
        {"<title>Bob's 'best' page</title><p>it's</p><meta name=keywords content=k>",
         "Bob's 'best' page, k"},
        {"<p title='x>y'>it's<meta name=keywords content=k></p>", "(no title), k"}};
    for (const auto& [page, entry] : cases) EXPECT_EQ(entry, Entry(page)) << page.substr(0, 80);
    EXPECT_TRUE(boxes_.boxes.empty());
}

// ---- Which files are read ----------------------------------------------------------

// Page names decide which files are read; a file that is not text, cannot be
// opened or is no regular file (FIFO, socket, device, link to a folder) is
// skipped, never opened and never waited on, and the build goes on.
TEST_F(CreKeyTest, PageNamesDecideAndOddFilesAreSkippedWithoutBeingOpened) {
    const char* pages[] = {"a.htm", "A.HTML", "a.htmx", "a.Htm", "x.y.htm", ".htm", "a b.html"};
    const char* others[] = {"a.htm.bak", "a.shtml", "a.txt", "a.htm.htm", "a",
                            "htm",       "a.ht",    "a_htm", "a.xhtml"};
    std::set<std::string> expected = {"A = F, , f.htm"};
    for (const char* name : pages) {
        EXPECT_TRUE(CreKey_IsPageName(name)) << name;
        Page(name, "<title>T</title>");
        expected.insert(std::string("A = T, , ") + name);
    }
    for (const char* name : others) {
        EXPECT_FALSE(CreKey_IsPageName(name)) << name;
        Page(name, "<title>T</title>");
    }
    Page("n.htm", std::string("<title>A\0</title>", 17));
    Page("b.htm", "<meta name=\"key\fwords\" content=k>");        // inside a tag
    Page("f.htm", "\x1b$B5~\x1b(B\x0e\x0f\x1a<title>F</title>");  // ESC SO SI ^Z are text
    fs::create_symlink("missing-target.htm", pages_.path() + "/x.htm");
    ASSERT_EQ(0, mkfifo((pages_.path() + "/fifo.htm").c_str(), 0644));
    ASSERT_EQ(0, mkfifo((pages_.path() + "/pipe").c_str(), 0644));  // not a page name
    fs::create_symlink("/dev/null", pages_.path() + "/null.htm");
    fs::create_symlink(out_.path(), pages_.path() + "/folder.htm");
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = pages_.path() + "/sock.htm";
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
    ASSERT_EQ(0, bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    alarm(20);  // opening the FIFO would wait for a writer for ever
    ASSERT_EQ(0, Build());
    alarm(0);
    close(sock);
    const Lines links = Links(Db());
    EXPECT_EQ(expected, std::set<std::string>(links.begin(), links.end()));
    EXPECT_EQ("25/8/7", Stats());
    EXPECT_TRUE(boxes_.boxes.empty()) << "a skipped page shows nothing";
}

// A name whose inside form cannot fit an entry (60 characters written %XX
// take 720 bytes) is still counted and reported as too long, never dropped
// unseen; a name one character shorter of the same kind that fits is indexed.
TEST_F(CreKeyTest, NamesTooLongForTheInsideFormAreCountedAndReported) {
    std::string emoji;
    for (int i = 0; i < 60; i++) emoji += "\xF0\x9F\x98\x80";  // U+1F600, 12 bytes inside
    // As many as a 255-byte path holds (each 12 bytes inside).
    const int fitting = static_cast<int>(255 - pages_.inside().size() - 1 - 4) / 12;
    ASSERT_GE(fitting, 1) << "the temporary folder is too deep for this test";
    std::string fits;
    for (int i = 0; i < fitting; i++) fits += "\xF0\x9F\x98\x80";
    Page(emoji + ".htm", "<title>E</title>");
    Page(fits + ".htm", "<title>F</title>");
    // A folder whose own path passes the 255-byte form: its files are still
    // seen and its pages counted as too long, below it too.
    const std::string deep = std::string(200, 'd') + "/" + std::string(100, 'e');
    Page(deep + "/page.htm", "<title>P</title>");
    Page(deep + "/sub/more.html", "<title>M</title>");
    Page(deep + "/note.txt", "x");
    Lines skipped;
    const CreKey_SkipSink sink{
        [](void* c, const char* path, int reason) {
            static_cast<Lines*>(c)->push_back(std::to_string(reason) + " " + path);
        },
        &skipped};
    stats_ = CreKey_Stats{};
    const std::string db = Inside(pages_, "vark.kwf");
    ASSERT_EQ(0, CaughtCode([&] {
                  CreKey_Build(&cancel_, pages_.inside().c_str(), db.c_str(), nullptr, nullptr,
                               "main", &stats_, &sink);
              }));
    EXPECT_EQ(1, stats_.pages) << Stats();
    EXPECT_EQ(3, stats_.skipped) << Stats();
    EXPECT_LE(5, stats_.files) << Stats();
    const std::string tooLong = std::to_string(CreKey_Skip_TooLong) + " " + pages_.inside() + "\\";
    std::sort(skipped.begin(), skipped.end());
    ASSERT_EQ(3u, skipped.size());
    EXPECT_EQ(0u, skipped[0].find(tooLong + "%F0%9F%98%80")) << skipped[0];
    const std::string deepInside = tooLong + std::string(200, 'd') + "\\" + std::string(100, 'e');
    EXPECT_EQ(deepInside + "\\page.htm", skipped[1]);
    EXPECT_EQ(deepInside + "\\sub\\more.html", skipped[2]);
    EXPECT_EQ(1u, Links(db).size());
}

// Every page-named file counts once, indexed or skipped, and each skipped one
// is told with its reason; other files count only as files.
TEST_F(CreKeyTest, SummaryCountsEveryPageOnceAndTellsWhyOneWasSkipped) {
    const size_t baseLen = pages_.inside().size() + 1;
    const std::string longPage = std::string(256 - baseLen - 4, 'L') + ".htm";  // 256 bytes
    const std::string fitPage = std::string(255 - baseLen - 4, 'F') + ".htm";   // 255 bytes
    Page("a.htm", "<title>A</title>");
    Page("bin.htm", std::string("<title>\0</title>", 16));
    Page("gone.htm", "<title>G</title>");
    Page("notes.txt", "x");
    Page(longPage, "<title>L</title>");
    Page(fitPage, "<title>F</title>");
    Page(std::string(256 - baseLen - 4, 'M') + ".txt", "x");  // too long, not a page
    ASSERT_EQ(0, mkfifo((pages_.path() + "/fifo.htm").c_str(), 0644));
    const std::string db = Inside(pages_, "vark.htm");
    onCall_ = [&](const CreKey_Progress& p) {
        if (std::string(p.path).ends_with("gone.htm")) fs::remove(pages_.path() + "/gone.htm");
    };
    Lines skipped;
    const CreKey_SkipSink sink{
        [](void* c, const char* path, int reason) {
            static_cast<Lines*>(c)->push_back(std::to_string(reason) + " " + path);
        },
        &skipped};
    calls_.clear();
    stats_ = CreKey_Stats{};
    alarm(20);  // opening the FIFO would wait for a writer for ever
    ASSERT_EQ(0, CaughtCode([&] {
                  CreKey_Build(&cancel_, pages_.inside().c_str(), db.c_str(), OnProgress, this,
                               "main", &stats_, &sink);
              }));
    alarm(0);
    ASSERT_EQ(0, CaughtCode([&] {
                  CreKey_Build(&cancel_, pages_.inside().c_str(), db.c_str(), nullptr, nullptr,
                               "main", &stats_, &sink);
              }));
    const std::string base = pages_.inside() + "\\";
    const Lines once = {std::to_string(CreKey_Skip_NotText) + " " + base + "bin.htm",
                        std::to_string(CreKey_Skip_NotRegular) + " " + base + "fifo.htm",
                        std::to_string(CreKey_Skip_Unreadable) + " " + base + "gone.htm",
                        std::to_string(CreKey_Skip_TooLong) + " " + base + longPage};
    Lines both = once;
    both.erase(both.begin() + 2);  // gone.htm is gone by the second build
    both.push_back(std::to_string(CreKey_Skip_Database) + " " + db);
    Lines expected = once;
    expected.insert(expected.end(), both.begin(), both.end());
    EXPECT_EQ(expected, skipped);
    // a.htm, the fitting page, bin.htm, fifo.htm, the long page and vark.htm are
    // pages; with notes.txt and the long .txt, 8 files.
    EXPECT_EQ("8/2/4", Stats());
    EXPECT_EQ((Lines{"A = A, , a.htm", "A = F, , " + fitPage}), Links(db));
    EXPECT_TRUE(boxes_.boxes.empty()) << "a skipped page shows nothing";
}

// A page refused after it was opened (not text) is closed before the build
// goes on: the build leaves as many descriptors open as it found.
TEST_F(CreKeyTest, PagesThatAreNotTextLeaveNoDescriptorOpen) {
    Page("a.htm", "<title>A</title>");
    for (int i = 0; i < 5; i++)
        Page(NumberedName("bin", i, ".htm"), std::string("<title>B</title>\x01", 17));
    const int descriptors = OpenDescriptors();
    EXPECT_EQ(CodeName(0), CodeName(Build()));
    EXPECT_EQ("6/1/5", Stats());
    EXPECT_EQ(descriptors, OpenDescriptors()) << "a page left open";
}

// A folder of 200,000 pages, and 3,500 beside a folder of 3,500: every page is
// walked, read and counted (the walk's table grows on the heap as needed).
// Empty pages, on the memory file system when there is one, keep it quick.
TEST_F(CreKeyTest, FoldersOfThousandsOfPagesBuildWhole) {
    std::string root = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : fs::temp_directory_path();
    root += "/tessaly-crekey-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(root.data()));
    struct Remove {
        std::string path;
        ~Remove() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } remove{root};
    auto make = [](const std::string& folder, int n) {
        fs::create_directories(folder);
        for (int i = 0; i < n; i++)
            close(open((folder + "/" + NumberedName("p", i, ".htm")).c_str(), O_CREAT | O_WRONLY,
                       0644));
    };
    make(root + "/wide", 3500);
    make(root + "/wide/sub", 3500);
    make(root + "/big", 200000);
    const struct {
        const char* folder;
        int pages;
    } cases[] = {{"/wide", 7000}, {"/big", 200000}};
    for (const auto& c : cases) {
        const std::string base = Fs_FromNative(root + c.folder);
        timespec start, end;
        clock_gettime(CLOCK_MONOTONIC, &start);
        ASSERT_EQ(0, Build(base, Db())) << c.folder;
        clock_gettime(CLOCK_MONOTONIC, &end);
        const double seconds = (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
        const std::string all = std::to_string(c.pages);
        EXPECT_EQ(all + "/" + all + "/0", Stats()) << c.folder;
        int counted = -1;
        EXPECT_EQ(CodeName(0),
                  CodeName(CaughtCode([&] { counted = Kwf_CountPages(Db().c_str()); })));
        EXPECT_EQ(c.pages, counted) << c.folder;
        EXPECT_EQ(static_cast<size_t>(c.pages), calls_.size());
        RecordProperty(std::string("seconds") + c.folder, std::to_string(seconds));
    }
    EXPECT_TRUE(boxes_.boxes.empty());
}

// ---- Cancel, empty folders and progress -------------------------------------------

TEST_F(CreKeyTest, CancelKeepsThePreviousDatabaseElseThePagesReadSoFar) {
    for (const char* name : {"a.htm", "b.htm", "c.htm", "d.htm"})
        Page(name, std::string("<title>") + name[0] + "</title>");
    onCall_ = [&](const CreKey_Progress& p) {
        if (p.count == 3) cancel_ = 1;
    };
    cancel_ = 1;  // the build clears it first
    // No database yet: the pages read so far become it; the file of the
    // cancelling call is not read.
    ASSERT_EQ(0, Build());
    EXPECT_EQ((Lines{"A = a, , a.htm", "A = b, , b.htm"}), Links(Db()));
    EXPECT_EQ("3/2/0", Stats());
    // A previous database stays as it was.
    const std::string old = DbBytes();
    Page("a0.htm", "<title>new</title>");
    ASSERT_EQ(0, Build());
    EXPECT_EQ("3/2/0", Stats());
    EXPECT_EQ(old, DbBytes());
    EXPECT_EQ(Lines{"vark.kwf"}, OutFiles());
}

// Names in any characters, in the pages and in the folder built: every page is
// one line and counted, Base reads back, and a name the search's join would
// take as a drive path or a URL is stored so that its link stays in the folder.
TEST_F(CreKeyTest, NamesInAnyCharactersAreIndexedOnOneLineEach) {
    const std::string folder = "a\nb";  // a newline in the folder's name
    for (const std::string& name :
         {std::string("a\nb.htm"), U8(u8"caf\u00E9.html"), std::string("#frag.htm"),
          std::string("http:evil.example.htm"), std::string("c:x.htm"), std::string("file:y.htm"),
          std::string("sub/http:z.htm"), std::string("%41.htm"), std::string("https:w.htm")})
        pages_.Write(folder + "/" + name, "<title>t</title>");
    const std::string base = pages_.inside() + "\\a%0Ab\\";
    ASSERT_EQ(0, Build(base, base + "vark.kwf"));
    EXPECT_EQ("9/9/0", Stats());
    const std::string db = base + "vark.kwf";
    EXPECT_EQ((Lines{"A = t, , #frag.htm", "A = t, , %2541.htm", "A = t, , a%0Ab.htm",
                     "A = t, , .\\c:x.htm", "A = t, , caf%C3%A9.html", "A = t, , .\\file:y.htm",
                     "A = t, , .\\http:evil.example.htm", "A = t, , https:w.htm",
                     "A = t, , sub\\http:z.htm"}),
              Links(db));
    EXPECT_NE(std::string::npos, ReadFile(Fs_ToNative(db)).find("\r\nBase = " + base + "\r\n"));
    int pages = -1;
    char readBase[260] = "";
    time_t updated = 0;
    ASSERT_EQ(0, CaughtCode([&] {
                  pages = Kwf_CountPages(db.c_str());
                  Kwf_ReadBase(db.c_str(), readBase, sizeof readBase);
                  Kwf_ReadUpdateTime(db.c_str(), &updated);
              }));
    EXPECT_EQ(9, pages);
    EXPECT_EQ(base, readBase);
    EXPECT_NE(0, updated);
    // Every link is a file: URL below the folder built.
    std::string url = "file://" + base;
    std::replace(url.begin(), url.end(), '\\', '/');
    EXPECT_EQ(
        (Lines{"t | (none) | " + url + "%23frag.htm", "t | (none) | " + url + "%2541.htm",
               "t | (none) | " + url + "a%0Ab.htm", "t | (none) | " + url + "c:x.htm",
               "t | (none) | " + url + "caf%C3%A9.html", "t | (none) | " + url + "file:y.htm",
               "t | (none) | " + url + "http:evil.example.htm",
               "t | (none) | " + url + "https:w.htm", "t | (none) | " + url + "sub/http:z.htm"}),
        Search(db, "t"));
}

TEST_F(CreKeyTest, EmptyFolderGivesHeaderAndEmptyLinksWithoutCallback) {
    const time_t before = time(nullptr);
    // Base is written exactly as given.
    for (const std::string& base : {pages_.inside() + "\\", pages_.inside()}) {
        ASSERT_EQ(0, Build(base, Db())) << base;
        EXPECT_TRUE(calls_.empty());
        EXPECT_EQ("0/0/0", Stats());
        EXPECT_NE(std::string::npos, DbBytes().find("\r\nBase = " + base + "\r\n")) << base;
        EXPECT_EQ(Lines{}, Links(Db()));
    }
    time_t stamped = 0;
    ASSERT_EQ(0, CaughtCode([&] { Kwf_ReadUpdateTime(Db().c_str(), &stamped); }));
    EXPECT_GE(stamped, before - 1);  // the text keeps whole seconds
    EXPECT_LE(stamped, time(nullptr));
}

TEST_F(CreKeyTest, ProgressCountsEveryFileAndTheDatabaseInsideTheFolderIsNeverRead) {
    // Listing order: a.htm, b.txt, c (x.htm, y.txt), d.htm.
    Page("a.htm", "<title>A</title>");
    Page("b.txt", "text");
    Page("c/x.htm", "<title>X</title>");
    Page("c/y.txt", "text");
    Page("d.htm", "<title>D</title>");
    ASSERT_EQ(0, Build());
    EXPECT_EQ((Lines{"a.htm #1 0/4", "b.txt #2 1/4", "c\\x.htm #3 4/8", "c\\y.txt #4 5/8",
                     "d.htm #5 3/4"}),
              calls_);
    EXPECT_EQ("5/3/0", Stats());
    // A database named like a page inside the folder: only the path rule keeps
    // it out, and its temporary file is never seen.
    const std::string db = Inside(pages_, "e.htm");
    ASSERT_EQ(0, Build(pages_.inside(), db));
    ASSERT_EQ(0, Build(pages_.inside(), db));
    EXPECT_EQ("e.htm", paths_.back());
    EXPECT_EQ("6/3/1", Stats());  // the database bears a page name: counted, skipped
    EXPECT_EQ((Lines{"A = A, , a.htm", "A = X, , c\\x.htm", "A = D, , d.htm"}), Links(db));
    for (const auto& e : fs::directory_iterator(pages_.path()))
        EXPECT_FALSE(e.path().filename().string().starts_with(".e.htm.")) << e.path();
}

// ---- A failed build keeps the old database ----------------------------------------

TEST_F(CreKeyTest, FailedBuildKeepsThePreviousDatabase) {
    Page("a.htm", "<title>A</title>");
    ASSERT_EQ(0, Build());
    const std::string old = DbBytes();
    Page("b.htm", "<title>B</title>");
    // Faults injected at the file-system door (the tests run as root, whom
    // file modes do not stop), each at the first call of its operation.
    const struct {
        const char* op;
        int code;
    } faults[] = {{"lock", 362}, {"create", 362}, {"list", 363}, {"sync", 365}, {"rename", 365}};
    for (const auto& f : faults) {
        g_faultOp = f.op;
        Fs_SetFaultHook(InjectFault);
        EXPECT_EQ(f.code, Build()) << f.op;
        Fs_SetFaultHook(nullptr);
        EXPECT_NE(std::string::npos, LastText().find(f.code == 363 ? pages_.inside() : Db()))
            << f.op << ": " << LastText();
        EXPECT_EQ(old, DbBytes()) << f.op << ": byte for byte";
        EXPECT_EQ(Lines{"vark.kwf"}, OutFiles()) << f.op;
    }
    // The walk fails 50 levels below the base, after a page was read.
    std::string deep = "z";
    for (int i = 1; i < 50; i++) deep += "/z";
    fs::create_directories(pages_.path() + "/" + deep);
    EXPECT_EQ(CodeName(NestFind_Err_OverNest.code), CodeName(Build()));
    EXPECT_EQ((Lines{"a.htm", "b.htm"}), paths_);
    fs::remove_all(pages_.path() + "/z");
    // A folder to scan that is missing; a database that is a folder; a
    // database path with no room for the temp file's name.
    EXPECT_EQ(CodeName(FileX_Err_CannotReadOpen.code),
              CodeName(Build(pages_.inside() + "\\none", Db())));
    out_.Write("dir.kwf/inner", "x");
    EXPECT_EQ(CodeName(FileX_Err_CannotWriteOpen.code),
              CodeName(Build(pages_.inside(), Inside(out_, "dir.kwf"))));
    EXPECT_EQ("x", out_.Read("dir.kwf/inner"));
    fs::remove_all(out_.path() + "/dir.kwf");
    EXPECT_EQ(CodeName(FileX_Err_CannotWriteOpen.code),
              CodeName(Build(pages_.inside(),
                             out_.inside() + "\\" + std::string(250 - out_.inside().size(), 'x'))));
    EXPECT_EQ(old, DbBytes());
    EXPECT_EQ(Lines{"vark.kwf"}, OutFiles());
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(CreKeyTest, FailedWriteOnAFullDiskKeepsThePreviousDatabase) {
    Page("a.htm", "<title>A</title>");
    ASSERT_EQ(0, Build());
    const std::string old = DbBytes();
    for (int i = 0; i < 100; i++) Page(NumberedName("p", i, ".htm"), Title(Repeat("t", 300)));
    // In a child: files may not grow past 8 KB, and the signal of that limit
    // is ignored, so each write past it fails with EFBIG.
    auto child = [&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{8192, 8192};
        setrlimit(RLIMIT_FSIZE, &limit);
        // The failing write is a page's line: its scratch mark must be popped too.
        unsigned char* sp = BigStack_Sys()->sp;
        const int code = Build();
        fprintf(stderr, "code %d %s\n", code, Utf8(LastText()).c_str());
        _exit(code == 365 && LastText().find(Db()) != std::string::npos &&
                      sp == BigStack_Sys()->sp && Except3_GetSys()->nTry == 0
                  ? 0
                  : 1);
    };
    EXPECT_EXIT(child(), testing::ExitedWithCode(0), "code 365");
    EXPECT_EQ(old, DbBytes()) << "byte for byte";
    EXPECT_EQ(Lines{"vark.kwf"}, OutFiles());
}

TEST_F(CreKeyTest, ASecondBuildAtOnceIsRefusedAndAKilledOneLeavesNothingBehind) {
    Page("a.htm", "<title>A</title>");
    Page("b.htm", "<title>B</title>");
    int toParent[2], toChild[2];
    ASSERT_EQ(0, pipe(toParent));
    ASSERT_EQ(0, pipe(toChild));
    const pid_t first = fork();
    ASSERT_NE(-1, first);
    if (first == 0) {
        // The first build stops at its first file until the parent lets it go.
        bool told = false;
        onCall_ = [&](const CreKey_Progress&) {
            char c = 'w';
            if (told || write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1) return;
            told = true;
        };
        _exit(Build() == 0 ? 0 : 1);
    }
    char c;
    ASSERT_EQ(1, read(toParent[0], &c, 1));
    EXPECT_EQ(CodeName(FileX_Err_CannotWriteOpen.code), CodeName(Build()));
    EXPECT_NE(std::string::npos, LastText().find(Db())) << LastText();
    EXPECT_TRUE(calls_.empty());
    ASSERT_EQ(1u, OutFiles().size()) << "only the first build's file";
    EXPECT_TRUE(OutFiles()[0].starts_with(".vark.kwf.") && OutFiles()[0].ends_with(".tmp"));
    // Killed where nothing can clean up: the next build removes its file.
    kill(first, SIGKILL);
    int status = 0;
    waitpid(first, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status));
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
    EXPECT_EQ(CodeName(0), CodeName(Build()));
    EXPECT_EQ(2u, Links(Db()).size());
    EXPECT_EQ(Lines{"vark.kwf"}, OutFiles());
}

TEST_F(CreKeyTest, ReplacedDatabaseKeepsModeGroupAndLinkAndNeverWritesThroughLinks) {
    // Links planted at temp names: never written through.
    out_.Write("victim.txt", "victim");
    const std::string victim = out_.path() + "/victim.txt";
    fs::create_symlink(victim, out_.path() + "/vark.kwf.tmp");
    fs::create_symlink(victim, out_.path() + "/.vark.kwf.abcdef.tmp");  // a dead build's name
    Page("a.htm", "<title>A</title>");
    ASSERT_EQ(0, Build());
    EXPECT_EQ("victim", out_.Read("victim.txt"));
    EXPECT_TRUE(fs::is_symlink(out_.path() + "/vark.kwf.tmp")) << "not this system's name";
    const std::string db = out_.path() + "/vark.kwf";
    ASSERT_EQ(0, chmod(db.c_str(), 0640));
    ASSERT_EQ(0, chown(db.c_str(), static_cast<uid_t>(-1), 4321));
    Page("b.htm", "<title>B</title>");
    ASSERT_EQ(0, Build());
    struct stat sb;
    ASSERT_EQ(0, stat(db.c_str(), &sb));
    EXPECT_EQ(0640u, sb.st_mode & 07777);
    EXPECT_EQ(4321u, sb.st_gid);
    EXPECT_EQ(2u, Links(Db()).size());
    // Through a link: the target is replaced, the link stays.
    fs::create_symlink("vark.kwf", out_.path() + "/link.kwf");
    Page("c.htm", "<title>C</title>");
    ASSERT_EQ(0, Build(pages_.inside(), Inside(out_, "link.kwf")));
    EXPECT_EQ("vark.kwf", fs::read_symlink(out_.path() + "/link.kwf").string());
    EXPECT_EQ(3u, Links(Db()).size());
    ASSERT_EQ(0, stat(db.c_str(), &sb));
    EXPECT_EQ(0640u, sb.st_mode & 07777);
    // A database its owner may not write is refused, as opening it for writing is.
    ASSERT_EQ(0, chmod(db.c_str(), 0444));
    const std::string old = DbBytes();
    EXPECT_EQ(CodeName(FileX_Err_CannotWriteOpen.code), CodeName(Build()));
    EXPECT_NE(std::string::npos,
              LastText().find(Sjis(u8"書きこみモードで open できません。") + Db()))
        << Utf8(LastText());
    EXPECT_EQ(old, DbBytes());
    EXPECT_EQ((Lines{"link.kwf", "vark.kwf", "vark.kwf.tmp", "victim.txt"}), OutFiles());
}

TEST_F(CreKeyTest, RefusesWhatItWouldDestroyOrCouldNotReadBack) {
    // An empty file holds nothing to lose (a page given as the database: cli_test).
    out_.Write("vark.kwf", "");
    EXPECT_EQ(CodeName(0), CodeName(Build()));
    // The Base line must fit the header readers' 256-byte line: a base of 248
    // bytes is read back, one of 249 refused before anything is touched.
    for (const size_t size : {248u, 249u}) {
        const std::string base =
            pages_.inside() + "\\" + std::string(size - pages_.inside().size() - 2, 'd') + "\\";
        ASSERT_EQ(size, base.size());
        fs::create_directories(Fs_ToNative(base));
        const std::string db = Inside(out_, "b" + std::to_string(size) + ".kwf");
        const int code = Build(base, db);
        time_t stamp = 0;
        if (size == 248) {
            EXPECT_EQ(CodeName(0), CodeName(code));
            EXPECT_EQ(CodeName(0),
                      CodeName(CaughtCode([&] { Kwf_ReadUpdateTime(db.c_str(), &stamp); })));
            EXPECT_NE(0, stamp);
        } else {
            EXPECT_EQ(CodeName(Errors_Unofficial.code), CodeName(code));
            EXPECT_FALSE(fs::exists(Fs_ToNative(db)));
        }
    }
}

TEST_F(CreKeyTest, CutTextsKeepWholeCharactersAndAreFound) {
    // As the last attribute the table holds (the 64th), content is read into
    // what is left of the tag pool and cut there without a report.
    std::string others;
    for (int i = 0; i < 62; i++) others += NumberedName(" a", i, "=1");
    Page("q.htm", "<meta" + others + " name=\"keywords\" content=\"x" + Repeat(kHyo, 2100) +
                      "\"><title>T</title>");
    ASSERT_EQ(0, Build());
    const Lines links = Links(Db());
    ASSERT_EQ(1u, links.size());
    const std::string& line = links[0];
    ASSERT_TRUE(line.starts_with("A = T, x" + kHyo) && line.ends_with(", q.htm"))
        << line.substr(0, 20);
    const std::string keywords = line.substr(7, line.size() - 14);
    EXPECT_TRUE(WholeCharacters(keywords)) << keywords.size() << " bytes";
    EXPECT_EQ(Lines{"T | " + keywords + " | file://" + pages_.path() + "/q.htm"},
              Search(Db(), "x"));
}

// A page's stored path is StrX_RelPath's path relative to the base, whatever
// the base's form: with or without its separator, '/' for '\\', a separator
// doubled, another case, a trail byte 0x5C at its end, a base the path does
// not lie in.
TEST_F(CreKeyTest, ReadPageStoresThePathRelativeToTheBaseAsStrXRelPathGivesIt) {
    const std::string inside = pages_.inside();
    std::string slashed = inside;
    std::replace(slashed.begin(), slashed.end(), '\\', '/');
    std::string upper = inside;
    for (char& c : upper) c = static_cast<char>(CodePage_ToUpper(static_cast<unsigned char>(c)));
    Page(U8(u8"表/r.htm"), "<title>R</title>");
    const std::string paths[] = {
        Page("p.htm", "<title>P</title>"), Page("sub/q.htm", "<title>Q</title>"),
        inside + "\\" + kHyo + "\\r.htm", inside + "\\sub\\\\q.htm", inside + "/sub/q.htm"};
    const std::string bases[] = {inside + "\\",
                                 inside,
                                 slashed + "/",
                                 inside + "/",
                                 inside + "\\\\",
                                 upper + "\\",
                                 inside + "\\sub\\",
                                 inside + "\\" + kHyo,
                                 inside + "\\" + kHyo + "\\",
                                 "\\",
                                 "\\elsewhere\\",
                                 "C:\\",
                                 "sub\\"};
    for (const std::string& path : paths) {
        for (const std::string& base : bases) {
            char want[260];
            StrX_CopyN(want, path.c_str(), sizeof want);
            StrX_RelPath(want, sizeof want, base.c_str());
            IniWriter w{};
            ASSERT_EQ(0, CaughtCode([&] { IniFile_OpenWrite(&w, Db().c_str()); }));
            EXPECT_EQ(0, CaughtCode([&] { CreKey_ReadPage(path.c_str(), base.c_str(), &w); }));
            ASSERT_EQ(0, CaughtCode([&] { IniFile_CloseWrite(&w); }));
            const std::string bytes = DbBytes();
            const size_t at = bytes.rfind(", ");
            EXPECT_EQ(std::string(want) + "\r\n \r\n",
                      at == std::string::npos ? bytes : bytes.substr(at + 2))
                << path << " against " << base;
        }
    }
}

TEST_F(CreKeyTest, ReadPageWithoutItsScratchReports281AndWritesNothing) {
    const std::string page = Page("g.htm", "<title>G</title>");
    const std::string base = pages_.inside();
    IniWriter w{};
    BigStack* bs = BigStack_Sys();
    unsigned char* sp = bs->sp;
    ASSERT_EQ(0, CaughtCode([&] { IniFile_OpenWrite(&w, Db().c_str()); }));
    BigStack_Push(bs);  // leaves less than its 42532 bytes
    EXPECT_EQ(
        CodeName(0),
        CodeName(CaughtCode([&] { BigStack_Alloc(bs, bs->mem + bs->size - bs->sp - 42000); })));
    EXPECT_EQ(CodeName(BigStack_Full.code),
              CodeName(CaughtCode([&] { CreKey_ReadPage(page.c_str(), base.c_str(), &w); })));
    BigStack_Pop(bs);
    EXPECT_EQ(sp, bs->sp);
    ASSERT_EQ(0, CaughtCode([&] { IniFile_CloseWrite(&w); }));
    EXPECT_EQ(" \r\n", DbBytes());
}

// ---- Memory -----------------------------------------------------------------------

// Allocations of opening a page as the lexer does, reading a byte and closing
// it: all the platform's (path conversion, the reader and its block).
long OpenAndReadCost(const std::string& page) {
    AllocCounter counter;
    TextRead* r = FileX_OpenReader(page.c_str(), BLex2_BlockSize);
    TextRead_Get(r);
    TextRead_Close(r);
    return counter.Count();
}

TEST_F(CreKeyTest, BuildTakesNoHeapMemoryPerPageBeyondListingAndOpening) {
    // 1 page and 50 pages: the difference is the platform's listing of 49 more
    // names and 49 more pages opened and read, plus the run-time's exception
    // object for each tag passed over; nothing in the builder. The walk's
    // table is the same for both (its first slot arrays and name block, taken
    // once per walk and freed at its end), so it cancels out.
    const std::string page = "<html><head><title>\x1b$B5~ET\x1b(B " + std::string(300, 't') +
                             "</title><meta name=keywords content=\"" + std::string(3000, 'k') +
                             "\"></head><body>" + std::string(20000, 'b') + "</body></html>";
    const std::string passedOver = "<meta content=\"" + std::string(5000, 'd') + "\">" + page;
    TempDir one, fifty;
    one.Write("p0.htm", page);
    for (int i = 0; i < 50; i++)
        fifty.Write(NumberedName("p", i, ".htm"), i % 5 == 4 ? passedOver : page);
    auto build = [&](const TempDir& dir) {
        volatile unsigned char cancel = 0;
        AllocCounter counter;
        CreKey_Build(&cancel, dir.inside().c_str(), Db().c_str(), nullptr, nullptr, "main");
        return counter.Count();
    };
    auto list = [](const TempDir& dir) {
        AllocCounter counter;
        FileX_Find find;
        FileX_FindFirst(&find, dir.inside().c_str());
        while (!FileX_FindNext(&find)) {
        }
        FileX_FindClose(&find);
        return counter.Count();
    };
    long oneAllocs = 0, fiftyAllocs = 0, pageCost = 0, listOne = 0, listFifty = 0;
    ASSERT_EQ(0, CaughtCode([&] {
                  build(one);  // first-use costs out of the count
                  oneAllocs = build(one);
                  fiftyAllocs = build(fifty);
                  pageCost = OpenAndReadCost(Inside(one, "p0.htm"));
                  listOne = list(one);
                  listFifty = list(fifty);
              }));
    EXPECT_EQ(50u, Links(Db()).size());
    EXPECT_EQ(oneAllocs + (listFifty - listOne) + 49 * pageCost + 10, fiftyAllocs)
        << "per page " << pageCost << ", listing " << listOne << " / " << listFifty;
    // An ASCII path opens without a conversion, and the reader's memory of
    // the page before serves the next: nothing is allocated per page.
    EXPECT_EQ(0, pageCost);
}

// ---- Encodings -----------------------------------------------------------------

// One encoding for the whole page: a byte-order mark, else the first charset
// declared wherever it stands in the head, else what all its head text shows
// (most hand-made pages of the Shift_JIS years declare none). References are
// decoded; with a word, the stored page is found by it.
TEST_F(CreKeyTest, EachPageIsStoredWholeInItsOwnEncodingAndFound) {
    const std::string head = Title(U8(u8"京都の旅")) + Kw(U8(u8"京都; 寺"));
    const std::string stored = Sjis(u8"京都の旅") + ", " + Sjis(u8"京都; 寺");
    const std::string kyoto = Sjis(u8"京都"), geta = Sjis(u8"〓"), utf8 = U8(u8"京都");
    // ﾃｽ in Shift_JIS is 0xC3 0xBD, which is also the UTF-8 of ý (no Shift_JIS form).
    const std::string kana = "\xC3\xBD";
    char asEuc[16];  // the UTF-8 bytes of 京都 as the EUC-JP conversion reads them
    StrX_ToSjisFrom(asEuc, sizeof asEuc, utf8.c_str(), StrX_Code_Euc);
    // ピアノ in ISO-2022-JP holds '"' (ア is 0x25 0x22): it ends neither the value nor the tag.
    const std::string piano = "\x1b$B%T%\"%N\x1b(B", music = "\x1b$B2;3Z\x1b(B";
    const std::string httpEquiv = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=";
    const std::string emoji = U8(u8"旅😀と𠮷野家〜"), sushi = U8(u8"京都; 🍣");
    const std::string eucNihongo = "\xc6\xfc\xcb\xdc\xb8\xec\xa4\xce\xa5\xda\xa1\xbc\xa5\xb8";
    const std::string eucPage = "\xA4\xCE\xA5\xDA\xA1\xBC\xA5\xB8";  // のページ, or ､ﾎ･ﾚ｡ｼ･ｸ
    std::string longUtf8 = "a", storedLong = "a";
    for (int i = 0; i < 40; i++) longUtf8 += U8(u8"京都の旅");
    for (int i = 0; i < 33; i++) storedLong += Sjis(u8"京都の旅");  // 397 of 399 bytes kept whole
    struct {
        std::string page, entry, word;
    } cases[] = {
        // UTF-8, with or without a byte-order mark, declared in every form; an
        // unknown charset falls back to the bytes.
        {head, stored, kyoto},
        {"\xEF\xBB\xBF" + head, stored, ""},
        {"<meta charset=\"utf-8\">" + head, stored, ""},
        {"<META CHARSET=UTF-8>" + head, stored, ""},
        {httpEquiv + "UTF-8\">" + head, stored, ""},
        {"<meta http-equiv=CONTENT-TYPE content=\"text/html;charset=utf8\">" + head, stored, ""},
        {"<meta charset=\"iso-8859-1\">" + head, stored, ""},
        // A declared Shift_JIS wins over bytes that are valid UTF-8.
        {httpEquiv + "Shift_JIS\">" + Title(kana) + Kw(kana), kana + ", " + kana, ""},
        {"<meta charset=x-sjis>" + Title(kana), kana + ", ", ""},
        {"<meta charset=x-sjis><meta charset=utf-8>" + Title(kana), kana + ", ", ""},
        {"<meta charset=SHIFT-JIS>" + Title(kana), kana + ", ", ""},
        {Title(kana), geta + ", ", ""},
        // A declaration, even a wrong one, holds for the whole page.
        {"<meta charset=euc-jp>" + Title(utf8), std::string(asEuc) + ", ", ""},
        {Title(utf8) + "<meta charset=EUC-JP>" + Kw(utf8), std::string(asEuc) + ", " + asEuc, ""},
        {"<meta charset=shift_jis>" + Title(eucPage), eucPage + ", ", "\xCE\xA5"},
        {Title(eucPage) + "<meta charset=Shift_JIS>", eucPage + ", ", "\xCE\xA5"},
        // A byte-order mark wins over keywords that are not UTF-8.
        {"\xEF\xBB\xBF" + Title(utf8) + Kw("\x95\x5C"), kyoto + ", " + geta + "\\", kyoto},
        // One geta mark per character outside CP932 (〜 is CP932's ～).
        {"<meta charset=utf-8>" + Title(emoji) + Kw(sushi),
         Sjis(u8"旅") + geta + Sjis(u8"と") + geta + Sjis(u8"野家～, 京都; ") + geta, ""},
        // JIS keywords are converted whole.
        {Kw(music + "; " + piano + "; \x1b$BI=\x1b(B") + "<title></title x>",
         "(no title), " + Sjis(u8"音楽; ピアノ; 表"), Sjis(u8"ピアノ")},
        {httpEquiv + "ISO-2022-JP\">" + Title("\x1b$B2;3Z$NIt20\x1b(B") + Kw(music + "; " + piano),
         Sjis(u8"音楽の部屋") + ", " + Sjis(u8"音楽; ピアノ"), ""},
        // Undeclared Shift_JIS that begins with a level-2 kanji or half-width kana.
        {Title("Cafe") + Kw(Sjis(u8"珈琲; ケーキ")), "Cafe, " + Sjis(u8"珈琲; ケーキ"),
         Sjis(u8"珈琲")},
        {Title(Sjis(u8"饂飩の店")) + Kw(Sjis(u8"うどん; 麺")),
         Sjis(u8"饂飩の店") + ", " + Sjis(u8"うどん; 麺"), Sjis(u8"うどん")},
        {Title(Sjis(u8"ﾃｽﾄ page")) + Kw(Sjis(u8"ｶﾚｰ; ﾗｲｽ")),
         Sjis(u8"ﾃｽﾄ page") + ", " + Sjis(u8"ｶﾚｰ; ﾗｲｽ"), Sjis(u8"ｶﾚｰ")},
        {Title(Sjis(u8"日本語のページ")) + Kw(Sjis(u8"日本; 言語")),
         Sjis(u8"日本語のページ") + ", " + Sjis(u8"日本; 言語"), Sjis(u8"言語")},
        // Undeclared UTF-8 cut by its record inside a character.
        {Title(longUtf8) + Kw(utf8), storedLong + ", " + kyoto, kyoto},
        // Undeclared EUC-JP, also where its bytes read as Shift_JIS half-width
        // kana, and ISO-2022-JP.
        {Title(eucNihongo) + Kw("\xb5\xfe\xc5\xd4"), Sjis(u8"日本語のページ") + ", " + kyoto,
         kyoto},
        {Title(eucPage), Sjis(u8"のページ") + ", ", Sjis(u8"ページ")},
        {Title("\x1b$BF|K\\8l\x1b(B") + Kw("\x1b$B5~ET\x1b(B"), Sjis(u8"日本語, 京都"), kyoto},
        // References: named, decimal, hexadecimal, a no-break space (also as
        // a UTF-8 character), unknown and unterminated.
        {Title("Tom &amp; Jerry &ndash; &#20140;&#x90FD;&nbsp;&copy; &bogus; &amp") +
             Kw("R&amp;D; lab; &lt;b&gt;"),
         "Tom & Jerry - " + kyoto + " " + geta + " &bogus; &amp, R&D; lab; <b>", "R&D"},
        {Title(U8(u8"京都\u00a0旅")) + Kw("&#x4EAC;"), Sjis(u8"京都 旅, 京"), Sjis(u8"都 旅")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.entry, Entry(c.page)) << Utf8(c.entry);
        if (!c.word.empty()) {
            EXPECT_EQ(1u, Search(Db(), c.word).size()) << Utf8(c.word) << " in " << Utf8(c.entry);
        }
    }
}

}  // namespace
