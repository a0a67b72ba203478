#include "components/strx.h"

#include <cstring>
#include <string>

#include "support/strxtest.h"

namespace {

// ---- HTML ---------------------------------------------------------------

// What HtmlEscape leaves in a caller's buffer, and never a byte past its size.
TEST_F(StrXTest, HtmlEscapeStaysInsideItsSize) {
    auto escape = [](std::string text, int size) {
        return [=](char* b) { StrX_HtmlEscape(text.c_str(), b, size); };
    };
    ExpectBounded({
        {"HtmlEscape, an entity that does not fit", 6, "", escape("a&b", 6), "a"},
        {"HtmlEscape exact fit", 8, "", escape("a&b", 8), "a&amp;b"},
        {"HtmlEscape all entities", 32, "", escape("<x>\"", 32), "&lt;x&gt;\""},
        {"HtmlEscape size 0", 0, "", escape("abc", 0), "(untouched)"},
        {"HtmlEscape, 表 does not fit", 3, "", escape("a" + kHyo, 3), "a"},
        {"HtmlEscape, a lead byte ends the text", 8, "", escape("a\x95", 8), "a\x95"},
    });
}

TEST_F(StrXTest, HtmlUnescapeDecodesReferencesAndLeavesOtherTextAlone) {
    const std::string geta = "\x81\xAC", hyo = "\x95\x5C";
    const std::pair<std::string, std::string> cases[] = {
        {"Tom &amp; Jerry", "Tom & Jerry"},
        {"&lt;b&gt; &quot;q&quot; &apos;", "<b> \"q\" '"},
        {"A&nbsp;B&ensp;C", "A B C"},
        {"A &ndash; B &mdash; C", "A - B \x81\x5C C"},
        {"&hellip;&lsquo;&rdquo;&times;&alpha;&Omega;&sigmaf;",
         "\x81\x63\x81\x65\x81\x68\x81\x7E"
         "\x83\xBF\x83\xB6" +
             geta},
        {"&#20140;&#x90FD;&#X90fd;&#38;", "\x8B\x9E\x93\x73\x93\x73&"},
        {"&copy; &#x1F600; &#0; &#27; &#x110000; &#99999999999;",
         geta + " " + geta + " " + geta + " " + geta + " " + geta + " " + geta},
        {"&#150;&#128;&#129;", "-" + geta + geta},  // Windows-1252's en dash and euro sign
        {"a&shy;b&#x200B;c&#10;d", "abc\nd"},
        // Not references: stay as written.
        {"AT&T &amp &#38 &#; &#x; &unknown; & ; &&", "AT&T &amp &#38 &#; &#x; &unknown; & ; &&"},
        {"&AMP;&Amp;", "&&Amp;"},
        // Shift_JIS text around them keeps its bytes (trail bytes 0x5C and letters).
        {hyo + "&amp;" + hyo + "\x83\x41&lt;", hyo + "&" + hyo + "\x83\x41<"},
        {"", ""}};
    for (const auto& [text, decoded] : cases) {
        char buf[128];
        strcpy(buf, text.c_str());
        EXPECT_EQ(StrX_HtmlUnescape(buf), decoded) << text;
    }
}

}  // namespace
