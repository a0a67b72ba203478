#include "components/strx.h"

#include <cstring>
#include <string>
#include <vector>

#include "support/strxtest.h"

namespace {

// Splits every field of text; "|" joins the fields in the result.
std::string SplitAll(const std::string& text) {
    std::string joined;
    std::vector<char> buf(text.size() + 1);
    for (const char* p = text.c_str(); p;) {
        p = StrX_SplitField(buf.data(), p);
        joined += std::string(buf.data()) + (p ? "|" : "");
    }
    return joined;
}

// ---- Fields -------------------------------------------------------------

TEST_F(StrXTest, FieldsQuoteSplitAndCutInsideTheirSize) {
    // Rows: a value and its field; the field splits back to the value.
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a b", "a b"},
        {" lead", "\" lead\""},
        {"trail ", "\"trail \""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"\ttab\t", "\ttab\t"},  // tabs are not blanks
        {kHyo + "\x8C\x5C", kHyo + "\x8C\x5C"}};
    for (const auto& [value, quoted] : cases) {
        EXPECT_EQ(Bounded(64, "", [&](char* b) { StrX_QuoteField(b, value.c_str(), 64); }), quoted)
            << value;
        EXPECT_EQ(SplitAll(quoted), value) << quoted;
    }
    const std::pair<const char*, const char*> splits[] = {
        {"a, b,c", "a|b|c"}, {"  a  ,b", "a|b"},      {"a\t,b", "a\t|b"},
        {"a,,b", "a||b"},    {"\"x\"junk, y", "x|y"}, {"\"open, no close", "open, no close"},
        {"a, ", "a|"}};
    for (const auto& [text, fields] : splits) EXPECT_EQ(SplitAll(text), fields) << text;
    char text[] = "\"a\"\"b\" , next";
    EXPECT_STREQ(StrX_SplitField(text, text), " next");  // in place
    EXPECT_STREQ(text, "a\"b");

    auto quote = [](std::string value, int size) {
        return [=](char* b) { StrX_QuoteField(b, value.c_str(), size); };
    };
    auto field = [](std::string list, int n) {
        return [=](char* b) { StrX_GetField(list.c_str(), n, b, 4); };
    };
    ExpectBounded({
        {"Quote size 0", 0, "", quote("a,b", 0), "(untouched)"},
        {"Quote no room for \"\"", 2, "", quote("a,b", 2), ""},
        {"Quote exact fit", 6, "", quote("a,b", 6), "\"a,b\""},
        {"Quote one short", 5, "", quote("a,b", 5), "\"a,\""},
        {"Quote keeps doubled quotes whole", 5, "", quote("a\"b", 5), "\"a\""},
        {"Quote keeps 表 whole", 4, "", quote("ab" + kHyo, 4), "ab"},
        {"Quote drops blanks the cut leaves", 5, "", quote("ab  cd", 5), "ab"},
        {"GetField cut", 4, "", field("x,abcdef", 2), "abc"},
        {"GetField keeps 表 whole", 4, "", field("ab" + kHyo, 1), "ab"},
    });
    char out[16];
    EXPECT_STREQ(StrX_GetField("a, \"b,c\" ,d", 2, out, sizeof out), "b,c");
    EXPECT_EQ(StrX_FieldIndex("Alpha, \"b,eta\"", "ALPHA", false), 1);
    // Case folding never applies to a trail byte: ア (0x83 'A') is not 0x83 'a'.
    EXPECT_EQ(StrX_FieldIndex(("x," + kA).c_str(), "\x83\x61", false), -1);
    const char* l = "ab,cd,ef";
    EXPECT_EQ(StrX_FieldNumAt(l, l + 3), 2);
}

// ---- String pool and set ------------------------------------------------

TEST_F(StrXTest, MemPoolOfEightBytes) {
    char block[8 + 4];
    memset(block, 'G', sizeof block);
    StrX_Mem mem;
    StrX_Mem_Init(&mem, block, 8);
    EXPECT_EQ(StrX_Mem_Add(&mem, "abc"), block + 1);
    EXPECT_STREQ(StrX_Mem_Add(&mem, "de"), "d");  // the copy keeps one byte free
    EXPECT_EQ(StrX_Mem_Alloc(&mem), block + 7);
    EXPECT_EQ(StrX_Mem_Left(&mem), 0);
    EXPECT_EQ(CaughtCode([&] { StrX_Mem_Alloc(&mem); }), 3180);
    EXPECT_NE(LastText().find(Sjis(u8"アプリ内部のメモリ領域が足りません")), std::string::npos);
    EXPECT_EQ(std::string(block + 8, 4), "GGGG");

    StrX_Mem_Clear(&mem);
    EXPECT_EQ(StrX_Mem_Next(&mem, nullptr), nullptr);   // empty pool
    EXPECT_EQ(StrX_Mem_AddIfNew(&mem, ""), block + 1);  // a real string, not the sentinel
    StrX_Mem_DropLast(&mem);
    for (const char* s : {"a", "", "b"}) StrX_Mem_Add(&mem, s);
    StrX_Mem_Dump(&mem);  // walks with StrX_Mem_Next
    EXPECT_EQ(BoxTexts(boxes_), (std::vector<std::string>{"StrX_Mem:", "  a", "  ", "  b"}));
    char* dropped = mem.last;
    StrX_Mem_DropLast(&mem);
    EXPECT_EQ(StrX_Mem_AddIfNew(&mem, ""), mem.last);     // the empty string is last again
    EXPECT_EQ(StrX_Mem_AddOrSet(&mem, "c"), dropped);     // the dropped bytes are reused
    for (int i = 0; i < 4; i++) StrX_Mem_DropLast(&mem);  // the last drop finds it empty
    EXPECT_EQ(StrX_Mem_Add(&mem, "x"), block + 1);
}

TEST_F(StrXTest, SetFindsAndMatchesWholeMembers) {
    char block[] = "a.htm\0b.txt\0*.htm";  // three members, the last ends in the array's NUL
    StrX_Set set, cut;
    StrX_Set_Init(&set, block, block + sizeof block);
    EXPECT_EQ(StrX_Set_Find(&set, "*.txt"), 1);
    EXPECT_EQ(StrX_Set_Match(&set, "x.htm"), 2);
    StrX_Set_Init(&cut, block, block + 8);  // an unterminated last member is not read
    EXPECT_EQ(StrX_Set_Find(&cut, "b*"), -1);
    StrX_Set_Dump(&set);
    EXPECT_EQ(BoxTexts(boxes_),
              (std::vector<std::string>{"StrX_Set:", "  a.htm", "  b.txt", "  *.htm"}));
}

// ---- Words and lists ---------------------------------------------------------

TEST_F(StrXTest, WordsTokensAndLists) {
    char out[16];
    EXPECT_STREQ(StrX_GetWord(out, sizeof out, "  \"two three\" four"), " four");
    EXPECT_STREQ(out, "two three");
    EXPECT_STREQ(StrX_GetIdent("  _a1 b", out, sizeof out), " b");
    EXPECT_STREQ(out, "_a1");
    EXPECT_STREQ(StrX_GetToken((kHyo + "x").c_str(), out, sizeof out), "x");
    EXPECT_EQ(std::string(out), kHyo);
    std::string run = "ab " + kHyo + kHyo + " cd  ef";
    EXPECT_STREQ(StrX_GetTokens(run.c_str(), 10, out, sizeof out), "  ef");
    EXPECT_EQ(std::string(out), "ab " + kHyo + kHyo + " cd");  // two blanks end the run
    ExpectBounded({
        {"GetWord cut", 3, "", [](char* b) { StrX_GetWord(b, 3, "abcdef"); }, "ab"},
        {"GetToken 表 does not fit", 2, "",
         [](char* b) { StrX_GetToken((kHyo + "x").c_str(), b, 2); }, ""},
        {"GetTokens defg does not fit", 6, "", [](char* b) { StrX_GetTokens("abc defg", 5, b, 6); },
         "abc"},
        {"ExpandList exact fit", 10, "",
         [](char* b) { StrX_ExpandList(b, 10, "<%s>", "ab,cd,ef", ","); }, "<ab>,<cd>"},
    });
    EXPECT_EQ(StrX_ExpandList(out, sizeof out, "%s=%s%%", "x", ","), 1);
    EXPECT_STREQ(out, "x=x%");
}

// ---- Command line ------------------------------------------------------------

TEST_F(StrXTest, ArgsReadsQuotedAndPlainArguments) {
    TempDir dir;
    dir.Write("Pages/a.htm", "x");
    StrX_Args args;
    auto all = [&](const std::string& line) {  // every argument, joined by "|"
        StrX_Args_Init(&args, line.c_str());
        std::string seen = args.arg;
        while (StrX_Args_Next(&args)) seen += std::string("|") + args.arg;
        return seen;
    };
    const std::string line = "\"C:\\My Pages\\a b.htm\" -x  " + dir.inside() + "\\pages\\A.htm";
    // Two blanks hold an empty argument; a plain one is named as listed.
    EXPECT_EQ(all(line), "C:\\My Pages\\a b.htm|-x||" + dir.inside() + "\\Pages\\a.htm");
    StrX_Args_Rewind(&args);
    EXPECT_STREQ(StrX_Args_Get(&args), "C:\\My Pages\\a b.htm");
    EXPECT_EQ(all(std::string(300, 'q')), std::string(259, 'q'));

    const char* argv[] = {"prog", "a b"};
    testing::internal::CaptureStdout();
    StrX_PrintArgs(2, argv);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "argc = 2\nargv[0] = prog\nargv[1] = a b\n");
}

}  // namespace
