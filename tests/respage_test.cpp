// The result page writer: head, items, count and foot, byte for byte.

#include <cstring>
#include <string>
#include <vector>

#include "app/crekey.h"
#include "app/kwf.h"
#include "components/bigstack.h"
#include "components/inifile.h"
#include "components/strx.h"
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
    std::string Item(const char* target, const char* title, const char* entry, const char* href) {
        return Write([&](ResPage* p) {
            ResPage_SetTarget(p, target);
            ResPage_WriteItem(p, title, entry, href);
        });
    }

    TempDir tmp_;
};

TEST_F(ResPageTest, KyotoSearchWritesTheExamplePage) {
    const std::string db = tmp_.inside() + "\\vark.kwf";
    ASSERT_EQ(0, CaughtCode([&] {
                  IniWriter w{};
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
    const std::string kyoto = "\x8B\x9E\x93\x73";
    const std::string expected =
        Head(kyoto, "[<A href=\"file:///C|/home.htm\" target=_top>" MODORU "</A>]") +
        "<LI><A href=\"file:///C|/pages/travel/kyoto.htm\" target=\"main\">" + kyoto + "[" + kyoto +
        "\x97\xB7\x8D\x73]</A>\r\n" +
        "</UL>\r\n"
        "\r\n"
        "<P>1 " MITSUKARIMASHITA
        "</P>\r\n"
        "</BODY></HTML>\r\n";
    EXPECT_EQ(expected, page) << Utf8(page);
}

TEST_F(ResPageTest, HeadEscapesTheQueryAndTheBackUrl) {
    const std::string page =
        Write([](ResPage* p) { ResPage_WriteHead(p, "<b>&\"x\" 表", "http://h/?a=1&b=<2>\"3\""); });
    EXPECT_EQ(
        Head("&lt;b&gt;&amp;\"x\" 表",
             "[<A href=\"http://h/?a=1&amp;b=&lt;2&gt;&quot;3&quot;\" target=_top>" MODORU "</A>]"),
        page)
        << Utf8(page);
}

TEST_F(ResPageTest, HeadWithoutBackUrlWritesAnEmptyLine) {
    for (const char* back : {"", static_cast<const char*>(nullptr)}) {
        const std::string page = Write([&](ResPage* p) { ResPage_WriteHead(p, "q", back); });
        EXPECT_EQ(Head("q", ""), page) << (back ? "empty" : "null");
    }
}

TEST_F(ResPageTest, LongQueryIsEscapedWhole) {
    std::string query;
    for (int i = 0; i < 700; i++) query += "表&";  // 2100 bytes, 4200 escaped
    std::string escaped;
    for (int i = 0; i < 700; i++) escaped += "表&amp;";
    const std::string page =
        Write([&](ResPage* p) { ResPage_WriteHead(p, query.c_str(), query.c_str()); });
    std::string back;
    for (int i = 0; i < 700; i++) back += "表&amp;";
    EXPECT_EQ(Head(escaped, "[<A href=\"" + back + "\" target=_top>" MODORU "</A>]"), page);
}

TEST_F(ResPageTest, ItemForms) {
    struct Case {
        const char* target;
        const char* title;
        const char* entry;
        const char* href;
        const char* line;
    } cases[] = {
        {"", "京都旅行", "京都", "file:///C|/a.htm",
         "<LI><A href=\"file:///C|/a.htm\">京都[京都旅行]</A>\r\n"},
        {"main", "京都旅行", "京都", "file:///C|/a.htm",
         "<LI><A href=\"file:///C|/a.htm\" target=\"main\">京都[京都旅行]</A>\r\n"},
        {"main", "title only", nullptr, "a.htm",
         "<LI><A href=\"a.htm\" target=\"main\">[title only]</A>\r\n"},
        {"", "<b>&", "x<y", "a.htm", "<LI><A href=\"a.htm\">x&lt;y[&lt;b&gt;&amp;]</A>\r\n"},
        {"", "t", "", "", "<LI><A href=\"\">[t]</A>\r\n"},
        {"", "quote\"kept", "k", "file:///C|/a \"b\"&c<d>.htm",
         "<LI><A href=\"file:///C|/a &quot;b&quot;&amp;c&lt;d&gt;.htm\">k[quote\"kept]</A>\r\n"},
        {"f\"r&me", "t", "k", "a.htm",
         "<LI><A href=\"a.htm\" target=\"f&quot;r&amp;me\">k[t]</A>\r\n"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.line, Item(c.target, c.title, c.entry, c.href)) << Utf8(c.title);
    }
}

TEST_F(ResPageTest, ItemCutsEscapedTextsAt1023Bytes) {
    struct Case {
        std::string text;
        std::string escaped;
    } cases[] = {
        {std::string(2000, 'a'), std::string(1023, 'a')},
        {std::string(1023, 'a'), std::string(1023, 'a')},
        {std::string(300, '&'),
         [] {
             std::string s;
             for (int i = 0; i < 204; i++) s += "&amp;";  // 1020 bytes; the next one does not fit
             return s;
         }()},
        {[] {
             std::string s = "a";
             for (int i = 0; i < 600; i++) s += "表";
             return s;
         }(),
         [] {
             std::string s = "a";
             for (int i = 0; i < 511; i++) s += "表";  // 1023 bytes exactly
             return s;
         }()},
        {[] {
             std::string s = "aa";
             for (int i = 0; i < 600; i++) s += "表";
             return s;
         }(),
         [] {
             std::string s = "aa";
             for (int i = 0; i < 510; i++) s += "表";  // a character never splits
             return s;
         }()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ("<LI><A href=\"h\">[" + c.escaped + "]</A>\r\n",
                  Item("", c.text.c_str(), nullptr, "h"))
            << c.text.size();
        EXPECT_EQ("<LI><A href=\"h\">" + c.escaped + "[t]</A>\r\n",
                  Item("", "t", c.text.c_str(), "h"))
            << c.text.size();
    }
}

TEST_F(ResPageTest, ItemReleasesItsScratchBuffers) {
    uint8_t* sp = BigStack_Sys()->sp;
    Item("main", "t", "k", "h");
    EXPECT_EQ(sp, BigStack_Sys()->sp);
}

TEST_F(ResPageTest, SetTargetCutsTo255Bytes) {
    const std::string name(300, 'n');
    const std::string line = Item(name.c_str(), "t", "k", "h");
    EXPECT_EQ("<LI><A href=\"h\" target=\"" + std::string(255, 'n') + "\">k[t]</A>\r\n", line);
}

TEST_F(ResPageTest, OpenEmptiesTheTarget) {
    ResPage page{};
    strcpy(page.target, "left over");
    const std::string line = Write([](ResPage* p) { ResPage_WriteItem(p, "t", "k", "h"); });
    EXPECT_EQ("<LI><A href=\"h\">k[t]</A>\r\n", line);
    ASSERT_EQ(0, CaughtCode([&] {
                  ResPage_Open(&page, (tmp_.inside() + "\\o2.htm").c_str());
                  ResPage_Close(&page);
              }));
    EXPECT_STREQ("", page.target);
}

TEST_F(ResPageTest, CountAndFoot) {
    struct Case {
        int count;
        std::string text;
    } cases[] = {{0, "0"}, {1, "1"}, {123456, "123456"}};
    for (const Case& c : cases) {
        const std::string page = Write([&](ResPage* p) {
            ResPage_WriteCount(p, c.count);
            ResPage_WriteFoot(p);
        });
        EXPECT_EQ("</UL>\r\n\r\n<P>" + c.text + " " MITSUKARIMASHITA "</P>\r\n</BODY></HTML>\r\n",
                  page);
    }
}

TEST_F(ResPageTest, SinkWritesToItsPage) {
    const std::string page = Write([](ResPage* p) {
        Kwf_HitSink sink = ResPage_MakeSink(p);
        EXPECT_EQ(p, sink.context);
        sink.onHit(sink.context, "t", nullptr, "h");
        sink.onEnd(sink.context, 1);
    });
    EXPECT_EQ("<LI><A href=\"h\">[t]</A>\r\n</UL>\r\n\r\n<P>1 " MITSUKARIMASHITA "</P>\r\n", page);
}

TEST_F(ResPageTest, EmptyQueryPageHoldsAnEmptyList) {
    const std::string dbPath = tmp_.inside() + "\\v.kwf";
    ASSERT_EQ(0, CaughtCode([&] {
                  IniWriter w{};
                  IniFile_OpenWrite(&w, dbPath.c_str());
                  CreKey_WriteHeader(&w, "C:\\pages", "main");
                  CreKey_WriteLink(&w, "t", "k", "a.htm");
                  IniFile_CloseWrite(&w);
              }));
    const std::string page = Write([&](ResPage* p) {
        ResPage_WriteHead(p, "", "");
        Kwf_HitSink sink = ResPage_MakeSink(p);
        Kwf_Search(dbPath.c_str(), "", &sink);
        ResPage_WriteFoot(p);
    });
    EXPECT_EQ(Head("", "") + "</UL>\r\n\r\n<P>0 " MITSUKARIMASHITA "</P>\r\n</BODY></HTML>\r\n",
              page);
}

TEST_F(ResPageTest, OpenReportsAFileThatCannotBeCreated) {
    ResPage page{};
    const std::string path = tmp_.inside() + "\\no such folder\\out.htm";
    EXPECT_EQ(362, CaughtCode([&] { ResPage_Open(&page, path.c_str()); }));
    EXPECT_NE(std::string::npos, LastText().find("no such folder"));
}

}  // namespace
