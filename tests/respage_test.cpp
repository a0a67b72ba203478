// The result page writer: head, items, count and foot, byte for byte.

#include <cstring>
#include <string>
#include <vector>

#include "app/crekey.h"
#include "app/kwf.h"
#include "components/bigstack.h"
#include "components/inifile.h"
#include "support/testsupport.h"

namespace {

// The page's fixed Japanese texts, as bytes.
#define KENSAKU_KEKKA "\x8C\x9F\x8D\xF5\x8C\x8B\x89\xCA"  // 検索結果
#define KARA "\x81\x60"                                   // ～
#define MODORU "\x96\xDF\x82\xE9"                         // 戻る
#define MITSUKARIMASHITA \
    "\x8C\x8F\x82\xDD\x82\xC2\x82\xA9\x82\xE8\x82\xDC\x82\xB5\x82\xBD"  // 件みつかりました

// The head of a page for query, with the back-link line given whole.
std::string Head(const std::string& query, const std::string& backLine) {
    return "<HTML><HEAD>\r\n"
           "<META http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\r\n"
           "\r\n"
           "<TITLE>Tessaly! " KENSAKU_KEKKA " " KARA " " +
           query +
           "</TITLE>\r\n"
           "</HEAD><BODY>\r\n"
           "\r\n"
           "<NOBR>\r\n"
           "\r\n"
           "<TABLE width=100%><TR><TD>\r\n"
           "<B>Tessaly! " KENSAKU_KEKKA " " KARA " \"" +
           query +
           "\"</B>\r\n"
           "</TD><TD align=RIGHT>\r\n" +
           backLine +
           "\r\n"
           "</TD></TR></TABLE>\r\n"
           "\r\n"
           "<UL>\r\n";
}

// The back-link line to url (escaped already).
std::string Back(const std::string& url) {
    return "[<A href=\"" + url + "\" target=_top>" MODORU "</A>]";
}

// The end of a page with count hits.
std::string Count(int count) {
    return "</UL>\r\n\r\n<P>" + std::to_string(count) + " " MITSUKARIMASHITA "</P>\r\n";
}

std::string Repeat(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; i++) s += piece;
    return s;
}

class ResPageTest : public LibraryTest {
   protected:
    // Opens the page in the temporary folder, runs fn on it, closes it and
    // returns the bytes on disk.
    template <class Fn>
    std::string Write(Fn&& fn) {
        const std::string path = tmp_.inside() + "\\out.htm";
        ResPage page{};
        EXPECT_EQ(0, CaughtCode([&] {
                      ResPage_Open(&page, path.c_str());
                      fn(&page);
                      ResPage_Close(&page);
                  }));
        return tmp_.Read("out.htm");
    }
    // The bytes of one item line written with the given target.
    std::string Item(const std::string& target, const std::string& title, const char* entry,
                     const std::string& href) {
        return Write([&](ResPage* p) {
            ResPage_SetTarget(p, target.c_str());
            ResPage_WriteItem(p, title.c_str(), entry, href.c_str());
        });
    }
    // The page of a search for query over a database of the given links
    // (title, keywords, path), with Base C:\pages.
    std::string SearchPage(const std::vector<std::vector<const char*>>& links, const char* query,
                           const char* back) {
        const std::string db = tmp_.inside() + "\\vark.kwf";
        EXPECT_EQ(0, CaughtCode([&] {
                      IniWriter w{};
                      IniFile_OpenWrite(&w, db.c_str());
                      CreKey_WriteHeader(&w, "C:\\pages", "main");
                      for (const auto& l : links) CreKey_WriteLink(&w, l[0], l[1], l[2]);
                      IniFile_CloseWrite(&w);
                  }));
        // The main window's order: open, target, head, sink, search, foot, close.
        return Write([&](ResPage* p) {
            ResPage_SetTarget(p, "main");
            ResPage_WriteHead(p, query, back);
            Kwf_HitSink sink = ResPage_MakeSink(p);
            Kwf_Search(db.c_str(), query, &sink);
            ResPage_WriteFoot(p);
        });
    }

    TempDir tmp_;
};

TEST_F(ResPageTest, KyotoSearchWritesTheExamplePage) {
    const std::string page = SearchPage(
        {{"京都旅行", "旅行; 京都; 寺", "travel\\kyoto.htm"}, {"Notes, misc", "", "notes.htm"}},
        "京都", "file:///C|/home.htm");
    const std::string kyoto = "\x8B\x9E\x93\x73";
    EXPECT_EQ(Head(kyoto, Back("file:///C|/home.htm")) +
                  "<LI><A href=\"file:///C|/pages/travel/kyoto.htm\" target=\"main\">" + kyoto +
                  "[" + kyoto + "\x97\xB7\x8D\x73]</A>\r\n" + Count(1) + "</BODY></HTML>\r\n",
              page)
        << Utf8(page);
}

TEST_F(ResPageTest, EmptyQueryPageHoldsAnEmptyList) {
    EXPECT_EQ(Head("", "") + Count(0) + "</BODY></HTML>\r\n",
              SearchPage({{"t", "k", "a.htm"}}, "", ""));
}

TEST_F(ResPageTest, HeadEscapesTheQueryAndTheBackUrl) {
    EXPECT_EQ(Head("&lt;b&gt;&amp;\"x\" 表", Back("http://h/?a=1&amp;b=&lt;2&gt;&quot;3&quot;")),
              Write([](ResPage* p) {
                  ResPage_WriteHead(p, "<b>&\"x\" 表", "http://h/?a=1&b=<2>\"3\"");
              }));
    for (const char* back : {"", static_cast<const char*>(nullptr)})
        EXPECT_EQ(Head("q", ""), Write([&](ResPage* p) { ResPage_WriteHead(p, "q", back); }))
            << (back ? "empty" : "null");
    // 2100 bytes, 4200 escaped: written whole.
    const std::string query = Repeat("表&", 700), escaped = Repeat("表&amp;", 700);
    EXPECT_EQ(Head(escaped, Back(escaped)),
              Write([&](ResPage* p) { ResPage_WriteHead(p, query.c_str(), query.c_str()); }));
}

TEST_F(ResPageTest, ItemForms) {
    struct {
        std::string target, title;
        const char* entry;
        std::string href, line;
    } cases[] = {
        {"", "京都旅行", "京都", "file:///C|/a.htm",
         "<LI><A href=\"file:///C|/a.htm\">京都[京都旅行]</A>\r\n"},
        {"main", "title only", nullptr, "a.htm",
         "<LI><A href=\"a.htm\" target=\"main\">[title only]</A>\r\n"},
        {"", "<b>&", "x<y", "a.htm", "<LI><A href=\"a.htm\">x&lt;y[&lt;b&gt;&amp;]</A>\r\n"},
        {"", "t", "", "", "<LI><A href=\"\">[t]</A>\r\n"},
        {"", "quote\"kept", "k", "file:///C|/a \"b\"&c<d>.htm",
         "<LI><A href=\"file:///C|/a &quot;b&quot;&amp;c&lt;d&gt;.htm\">k[quote\"kept]</A>\r\n"},
        {"f\"r&me", "t", "k", "a.htm",
         "<LI><A href=\"a.htm\" target=\"f&quot;r&amp;me\">k[t]</A>\r\n"},
        {std::string(300, 'n'), "t", "k", "h",  // the target is cut to 255 bytes
         "<LI><A href=\"h\" target=\"" + std::string(255, 'n') + "\">k[t]</A>\r\n"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.line, Item(c.target, c.title, c.entry, c.href)) << Utf8(c.title);
    uint8_t* sp = BigStack_Sys()->sp;
    Item("main", "t", "k", "h");
    EXPECT_EQ(sp, BigStack_Sys()->sp) << "the scratch buffers are released";
}

TEST_F(ResPageTest, ItemCutsEscapedTextsAt1023Bytes) {
    // 204 "&amp;" make 1020 bytes and the next one does not fit; a double-byte
    // character never splits.
    const std::pair<std::string, std::string> cases[] = {
        {std::string(2000, 'a'), std::string(1023, 'a')},
        {std::string(1023, 'a'), std::string(1023, 'a')},
        {std::string(300, '&'), Repeat("&amp;", 204)},
        {"a" + Repeat("表", 600), "a" + Repeat("表", 511)},
        {"aa" + Repeat("表", 600), "aa" + Repeat("表", 510)}};
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ("<LI><A href=\"h\">[" + escaped + "]</A>\r\n", Item("", text, nullptr, "h"))
            << text.size();
        EXPECT_EQ("<LI><A href=\"h\">" + escaped + "[t]</A>\r\n", Item("", "t", text.c_str(), "h"))
            << text.size();
    }
}

TEST_F(ResPageTest, OpenEmptiesTheTargetAndReportsWhatCannotBeCreated) {
    ResPage page{};
    strcpy(page.target, "left over");
    ASSERT_EQ(0, CaughtCode([&] {
                  ResPage_Open(&page, (tmp_.inside() + "\\o2.htm").c_str());
                  ResPage_Close(&page);
              }));
    EXPECT_STREQ("", page.target);
    const std::string path = tmp_.inside() + "\\no such folder\\out.htm";
    EXPECT_EQ(362, CaughtCode([&] { ResPage_Open(&page, path.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("no such folder"));
}

TEST_F(ResPageTest, CountAndFoot) {
    for (int count : {0, 123456})
        EXPECT_EQ(Count(count) + "</BODY></HTML>\r\n", Write([&](ResPage* p) {
                      ResPage_WriteCount(p, count);
                      ResPage_WriteFoot(p);
                  }));
}

}  // namespace
