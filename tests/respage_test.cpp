// The result page writer: head, items, count and foot, byte for byte.

#include <algorithm>
#include <cstdio>
#include <string>

#include "app/crekey.h"
#include "app/kwf.h"
#include "app/respage.h"
#include "components/bigstack.h"
#include "components/inifile.h"
#include "support/names.h"
#include "support/testsupport.h"

namespace {

// The head of a page for query, with the back-link line given whole.
std::string Head(const std::string& query, const std::string& backLine) {
    return "<HTML><HEAD>\r\n"
           "<META http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\r\n"
           "\r\n<TITLE>Tessaly! 検索結果 ～ " +
           query + "</TITLE>\r\n</HEAD><BODY>\r\n\r\n<NOBR>\r\n\r\n<TABLE width=100%><TR><TD>" +
           "\r\n<B>Tessaly! 検索結果 ～ \"" + query + "\"</B>\r\n</TD><TD align=RIGHT>\r\n" +
           backLine + "\r\n</TD></TR></TABLE>\r\n\r\n<UL>\r\n";
}

// The back-link line to url (escaped already).
std::string Back(const std::string& url) {
    return "[<A href=\"" + url + "\" target=_top>戻る</A>]";
}

std::string Repeat(const std::string& piece, int times) {
    std::string s;
    for (int i = 0; i < times; i++) s += piece;
    return s;
}

class ResPageTest : public LibraryTest {
   protected:
    // Opens the page in the temporary folder, runs fn on it, closes it and
    // returns the bytes on disk. The target and block left in the record are
    // for Open to empty.
    template <class Fn>
    std::string Write(Fn&& fn) {
        const std::string path = tmp_.inside() + "\\out.htm";
        ResPage page{};
        snprintf(page.target, sizeof page.target, "left over");
        page.used = 7;
        EXPECT_EQ(CodeName(0), CodeName(CaughtCode([&] {
                      ResPage_Open(&page, path.c_str());
                      fn(&page);
                      ResPage_Close(&page);
                  })));
        return tmp_.Read("out.htm");
    }
    // The bytes of one item line written with the given target (none set when empty).
    std::string Item(const std::string& target, const std::string& title, const char* entry,
                     const std::string& href) {
        return Write([&](ResPage* p) {
            if (!target.empty()) ResPage_SetTarget(p, target.c_str());
            ResPage_WriteItem(p, title.c_str(), entry, href.c_str());
        });
    }

    TempDir tmp_;
};

TEST_F(ResPageTest, KyotoSearchWritesTheExamplePage) {
    const std::string db = tmp_.inside() + "\\vark.kwf";
    IniWriter w{};
    ASSERT_EQ(0, CaughtCode([&] {
                  IniFile_OpenWrite(&w, db.c_str());
                  CreKey_WriteHeader(&w, "C:\\pages", "main");
                  CreKey_WriteLink(&w, "京都旅行", "旅行; 京都; 寺", "travel\\kyoto.htm");
                  CreKey_WriteLink(&w, "Notes, misc", "", "notes.htm");
                  IniFile_CloseWrite(&w);
              }));
    // The main window's order: open, target, head, sink, search, foot, close.
    const std::string page = Write([&](ResPage* p) {
        ResPage_SetTarget(p, "main");
        ResPage_WriteHead(p, "京都", "file:///C|/home.htm");
        Kwf_HitSink sink = ResPage_MakeSink(p);
        Kwf_Search(db.c_str(), "京都", &sink);
        ResPage_WriteFoot(p);
    });
    EXPECT_EQ(Head("京都", Back("file:///C|/home.htm")) +
                  "<LI><A href=\"file:///C|/pages/travel/kyoto.htm\" target=\"main\">"
                  "京都[京都旅行]</A>\r\n</UL>\r\n\r\n<P>1 件みつかりました</P>\r\n"
                  "</BODY></HTML>\r\n",
              page)
        << Utf8(page);
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
        {"main", "title only", nullptr, "a.htm",
         "<LI><A href=\"a.htm\" target=\"main\">[title only]</A>\r\n"},
        {"", "<b>&", "x<y", "a.htm", "<LI><A href=\"a.htm\">x&lt;y[&lt;b&gt;&amp;]</A>\r\n"},
        {"", "quote\"kept", "k", "file:///C|/a \"b\"&c<d>.htm",
         "<LI><A href=\"file:///C|/a &quot;b&quot;&amp;c&lt;d&gt;.htm\">k[quote\"kept]</A>\r\n"},
        {"f\"r&me", "t", "k", "a.htm",
         "<LI><A href=\"a.htm\" target=\"f&quot;r&amp;me\">k[t]</A>\r\n"},
        {"x\"y", "t", "k", "a\"b.htm",  // a quote alone is escaped too
         "<LI><A href=\"a&quot;b.htm\" target=\"x&quot;y\">k[t]</A>\r\n"},
        {std::string(300, 'n'), "t", "k", "h",  // the target is cut to 255 bytes
         "<LI><A href=\"h\" target=\"" + std::string(255, 'n') + "\">k[t]</A>\r\n"}};
    const uint8_t* sp = BigStack_Sys()->sp;
    for (const auto& c : cases)
        EXPECT_EQ(c.line, Item(c.target, c.title, c.entry, c.href)) << Utf8(c.title);
    EXPECT_EQ(sp, BigStack_Sys()->sp) << "the scratch buffers are released";
}

TEST_F(ResPageTest, PagesOfManyBlocksAreWrittenWholeWithEveryLineEndCrLf) {
    // Items of growing length cross the write blocks at every offset; one link
    // alone is longer than a block; line ends inside texts are CR LF too.
    std::string want = Head("a\r\nb", "");
    const std::string page = Write([&](ResPage* p) {
        ResPage_SetTarget(p, "f\nr");
        ResPage_WriteHead(p, "a\nb", "");
        for (int i = 0; i < 3000; i++) {
            const std::string title = Repeat("表", i % 97) + (i % 5 ? "" : "&");
            const std::string href = i == 1500 ? std::string(40000, 'h') : "p" + std::to_string(i);
            ResPage_WriteItem(p, title.c_str(), "k", href.c_str());
            want += "<LI><A href=\"" + href + "\" target=\"f\r\nr\">k[" + Repeat("表", i % 97) +
                    (i % 5 ? "" : "&amp;") + "]</A>\r\n";
        }
        ResPage_WriteCount(p, 3000);
        ResPage_WriteFoot(p);
    });
    want += "</UL>\r\n\r\n<P>3000 件みつかりました</P>\r\n</BODY></HTML>\r\n";
    ASSERT_EQ(want.size(), page.size());
    EXPECT_TRUE(want == page) << "first difference at "
                              << std::mismatch(want.begin(), want.end(), page.begin()).first -
                                     want.begin();
}

TEST_F(ResPageTest, ItemCutsEscapedTextsAt1023Bytes) {
    // 204 "&amp;" make 1020 bytes and the next one does not fit; a double-byte
    // character never splits.
    const std::pair<std::string, std::string> cases[] = {
        {std::string(2000, 'a'), std::string(1023, 'a')},
        {std::string(300, '&'), Repeat("&amp;", 204)},
        {std::string("a") + Repeat("表", 600), std::string("a") + Repeat("表", 511)},
        {std::string("aa") + Repeat("表", 600), std::string("aa") + Repeat("表", 510)}};
    for (const auto& [text, escaped] : cases) {
        EXPECT_EQ("<LI><A href=\"h\">[" + escaped + "]</A>\r\n", Item("", text, nullptr, "h"))
            << text.size();
        EXPECT_EQ("<LI><A href=\"h\">" + escaped + "[t]</A>\r\n", Item("", "t", text.c_str(), "h"))
            << text.size();
    }
}

TEST_F(ResPageTest, PagesThatCannotBeMadeOrWrittenReportWithThePath) {
    ResPage created{};
    const std::string path = tmp_.inside() + "\\no such folder\\out.htm";
    EXPECT_EQ(CodeName(FileX_Err_CannotWriteOpen.code),
              CodeName(CaughtCode([&] { ResPage_Open(&created, path.c_str()); })));
    EXPECT_NE(std::string::npos, LastText().find("no such folder"));
    // A short page fails at its close (the stream's buffer), a long one at an item.
    for (const int items : {1, 5000}) {
        ResPage page{};
        int written = 0;
        const int code = CaughtCode([&] {
            ResPage_Open(&page, "\\dev\\full");
            ResPage_WriteHead(&page, "q", "");
            for (; written < items; written++) ResPage_WriteItem(&page, "title", "k", "a.htm");
            ResPage_WriteCount(&page, items);
            ResPage_WriteFoot(&page);
            ResPage_Close(&page);
        });
        EXPECT_EQ(CodeName(FileX_Err_CannotWrite.code), CodeName(code)) << items;
        EXPECT_EQ(nullptr, page.file);
        EXPECT_NE(std::string::npos,
                  LastText().find(Sjis(u8"\\dev\\full の書きこみに失敗しました。")))
            << Utf8(LastText());
        EXPECT_EQ(items == 1, written == items) << items << " items, " << written;
        ResPage_Close(&page);  // a closed page: nothing more
    }
}

}  // namespace
