#include "app/respage.h"

#include <cstring>

#include "app/kwf_internal.h"
#include "components/bigstack.h"
#include "components/except3.h"
#include "components/filex.h"
#include "components/strx.h"
#include "platform/codepage.h"

using namespace kwf_detail;

namespace {

// Writes text whole, HTML-escaped by StrX_HtmlEscape (& < >); with quote, a
// double quote is written as &quot; too. The text goes through in pieces that
// never split a double-byte character, so nothing is cut.
void writeEscaped(FILE* f, const char* text, bool quote) {
    if (text[strcspn(text, quote ? "&<>\"" : "&<>")] == '\0') {
        fputs(text, f);  // nothing to escape (no trail byte is one of these)
        return;
    }
    char piece[256];
    char out[sizeof piece * 5];  // every byte may become "&amp;"
    while (*text) {
        if (quote && *text == '"') {
            fputs("&quot;", f);
            text++;
            continue;
        }
        int n = 0;
        while (text[n] != '\0' && n < static_cast<int>(sizeof piece) - 2 &&
               !(quote && text[n] == '"'))
            n += (CodePage_IsLead(static_cast<unsigned char>(text[n])) && text[n + 1]) ? 2 : 1;
        memcpy(piece, text, static_cast<size_t>(n));
        piece[n] = '\0';
        fputs(StrX_HtmlEscape(piece, out, sizeof out), f);
        text += n;
    }
}

void sinkItem(void* context, const char* title, const char* keywordEntry, const char* href) {
    ResPage_WriteItem(static_cast<ResPage*>(context), title, keywordEntry, href);
}

void sinkCount(void* context, int count) {
    ResPage_WriteCount(static_cast<ResPage*>(context), count);
}

}  // namespace

// Checks the page's stream after a piece was written (see FileX_CheckWrite).
static void checkPage(ResPage* page) {
    if (page->file) FileX_CheckWrite(&page->file, page->path);
}

void ResPage_Open(ResPage* page, const char* path) {
    StrX_CopyN(page->path, path, sizeof page->path);
    page->target[0] = '\0';
    page->file = nullptr;
    page->file = FileX_Open(path, "wt");
}

void ResPage_SetTarget(ResPage* page, const char* name) {
    StrX_CopyN(page->target, name, sizeof page->target);
}

void ResPage_WriteHead(ResPage* page, const char* query, const char* backUrl) {
    FILE* f = page->file;
    if (!f) return;
    fputs("<HTML><HEAD>\n", f);
    fputs("<META http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\n\n", f);
    fputs("<TITLE>Tessaly! 検索結果 ～ ", f);
    writeEscaped(f, query, false);
    fputs("</TITLE>\n", f);
    fputs("</HEAD><BODY>\n\n", f);
    fputs("<NOBR>\n\n", f);
    fprintf(f, "<TABLE width=100%%><TR><TD>\n");
    fputs("<B>Tessaly! 検索結果 ～ \"", f);
    writeEscaped(f, query, false);
    fputs("\"</B>\n", f);
    fputs("</TD><TD align=RIGHT>\n", f);
    if (backUrl && backUrl[0] != '\0') {
        fputs("[<A href=\"", f);
        writeEscaped(f, backUrl, true);
        fputs("\" target=_top>戻る</A>]\n", f);
    } else {
        fputs("\n", f);
    }
    fputs("</TD></TR></TABLE>\n\n", f);
    fputs("<UL>\n", f);
    checkPage(page);
}

Kwf_HitSink ResPage_MakeSink(ResPage* page) {
    return Kwf_HitSink{sinkItem, sinkCount, page};
}

void ResPage_WriteItem(ResPage* page, const char* title, const char* keywordEntry,
                       const char* href) {
    constexpr int kEscapedSize = 1024;
    FILE* f = page->file;
    if (!f) return;
    Except3_WithScratch([&](BigStack*) {
        char* escTitle = scratch(kEscapedSize);
        char* escEntry = scratch(kEscapedSize);
        StrX_HtmlEscape(title, escTitle, kEscapedSize);
        StrX_HtmlEscape(keywordEntry ? keywordEntry : "", escEntry, kEscapedSize);
        fputs("<LI><A href=\"", f);
        writeEscaped(f, href, true);
        if (page->target[0] != '\0') {
            fputs("\" target=\"", f);
            writeEscaped(f, page->target, true);
        }
        fputs("\">", f);
        fputs(escEntry, f);
        fputs("[", f);
        fputs(escTitle, f);
        fputs("]</A>\n", f);
    });
    checkPage(page);
}

void ResPage_WriteCount(ResPage* page, int count) {
    FILE* f = page->file;
    if (!f) return;
    fputs("</UL>\n", f);
    fputs("\n", f);
    fprintf(f, "<P>%d 件みつかりました</P>\n", count);
    checkPage(page);
}

void ResPage_WriteFoot(ResPage* page) {
    if (!page->file) return;
    fputs("</BODY></HTML>\n", page->file);
    checkPage(page);
}

void ResPage_Close(ResPage* page) {
    if (page->file) FileX_CloseWritten(&page->file, page->path);
}
