#include "app/respage.h"

#include <cstdio>
#include <cstring>

#include "components/filex.h"
#include "components/strx.h"

namespace {

// Sends the block to the page's stream; a failed write closes the page and
// reports (FileX_CheckWrite).
void flush(ResPage* page) {
    if (page->file && page->used > 0) {
        const size_t n = static_cast<size_t>(page->used);
        fwrite(page->block, 1, n, page->file);
        FileX_CheckWrite(&page->file, page->path);
    }
    page->used = 0;
}

// Appends bytes to the block as they are.
void putRaw(ResPage* page, const char* text, size_t n) {
    if (page->used + n > sizeof page->block) {
        flush(page);
        if (!page->file) return;
    }
    if (n > sizeof page->block) {
        fwrite(text, 1, n, page->file);
        FileX_CheckWrite(&page->file, page->path);
        return;
    }
    memcpy(page->block + page->used, text, n);
    page->used += static_cast<int>(n);
}

// Appends text with each line end written CR LF, as a page of this system is
// stored.
void put(ResPage* page, const char* text, size_t n) {
    const char* const end = text + n;
    while (text < end) {
        const char* lf =
            static_cast<const char*>(memchr(text, '\n', static_cast<size_t>(end - text)));
        putRaw(page, text, static_cast<size_t>((lf ? lf : end) - text));
        if (!lf) return;
        putRaw(page, "\r\n", 2);
        text = lf + 1;
    }
}

void put(ResPage* page, const char* text) {
    put(page, text, strlen(text));
}

// Appends a constant text as it is (any line end in it written CR LF already).
template <size_t n>
void putConst(ResPage* page, const char (&text)[n]) {
    putRaw(page, text, n - 1);
}

// Appends text whole, HTML-escaped as StrX_HtmlEscape escapes (& < >) and
// each line end CR LF; with quote, a double quote is written as &quot; too.
// Byte by byte is character by character here: no trail byte is one of these
// (trail bytes start at 0x40).
void putEscaped(ResPage* page, const char* text, bool quote) {
    const char* const specials = quote ? "&<>\"\n" : "&<>\n";
    for (;;) {
        const size_t run = strcspn(text, specials);
        putRaw(page, text, run);
        text += run;
        switch (*text++) {
            case '\0':
                return;
            case '&':
                putConst(page, "&amp;");
                break;
            case '<':
                putConst(page, "&lt;");
                break;
            case '>':
                putConst(page, "&gt;");
                break;
            case '"':
                putConst(page, "&quot;");
                break;
            default:
                putConst(page, "\r\n");
                break;
        }
    }
}

// Appends text HTML-escaped and cut at limit - 1 escaped bytes, as
// StrX_HtmlEscape writes it into a buffer of limit bytes.
template <int limit>
void putEscapedCut(ResPage* page, const char* text) {
    const size_t n = strcspn(text, "&<>\n");
    if (n < limit && text[n] == '\0') {
        putRaw(page, text, n);  // nothing to escape, nothing to cut
        return;
    }
    char escaped[limit];
    put(page, StrX_HtmlEscape(text, escaped, limit));
}

void sinkItem(void* context, const char* title, const char* keywordEntry, const char* href) {
    ResPage_WriteItem(static_cast<ResPage*>(context), title, keywordEntry, href);
}

void sinkCount(void* context, int count) {
    ResPage_WriteCount(static_cast<ResPage*>(context), count);
}

}  // namespace

void ResPage_Open(ResPage* page, const char* path) {
    StrX_CopyN(page->path, path, sizeof page->path);
    page->target[0] = '\0';
    page->used = 0;
    page->file = nullptr;
    page->file = FileX_Open(path, "wb");
    // The block is the buffer: each goes out in one write.
    if (page->file) setvbuf(page->file, nullptr, _IONBF, 0);
}

void ResPage_SetTarget(ResPage* page, const char* name) {
    StrX_CopyN(page->target, name, sizeof page->target);
}

void ResPage_WriteHead(ResPage* page, const char* query, const char* backUrl) {
    if (!page->file) return;
    put(page, "<HTML><HEAD>\n");
    put(page, "<META http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">\n\n");
    put(page, "<TITLE>Tessaly! 検索結果 ～ ");
    putEscaped(page, query, false);
    put(page, "</TITLE>\n");
    put(page, "</HEAD><BODY>\n\n");
    put(page, "<NOBR>\n\n");
    put(page, "<TABLE width=100%><TR><TD>\n");
    put(page, "<B>Tessaly! 検索結果 ～ \"");
    putEscaped(page, query, false);
    put(page, "\"</B>\n");
    put(page, "</TD><TD align=RIGHT>\n");
    if (backUrl && backUrl[0] != '\0') {
        put(page, "[<A href=\"");
        putEscaped(page, backUrl, true);
        put(page, "\" target=_top>戻る</A>]\n");
    } else {
        put(page, "\n");
    }
    put(page, "</TD></TR></TABLE>\n\n");
    put(page, "<UL>\n");
}

Kwf_HitSink ResPage_MakeSink(ResPage* page) {
    return Kwf_HitSink{sinkItem, sinkCount, page};
}

void ResPage_WriteItem(ResPage* page, const char* title, const char* keywordEntry,
                       const char* href) {
    constexpr int kEscapedSize = 1024;
    if (!page->file) return;
    putConst(page, "<LI><A href=\"");
    putEscaped(page, href, true);
    if (page->target[0] != '\0') {
        putConst(page, "\" target=\"");
        putEscaped(page, page->target, true);
    }
    putConst(page, "\">");
    putEscapedCut<kEscapedSize>(page, keywordEntry ? keywordEntry : "");
    putConst(page, "[");
    putEscapedCut<kEscapedSize>(page, title);
    putConst(page, "]</A>\r\n");
}

void ResPage_WriteCount(ResPage* page, int count) {
    if (!page->file) return;
    char line[64];
    snprintf(line, sizeof line, "</UL>\n\n<P>%d 件みつかりました</P>\n", count);
    put(page, line);
}

void ResPage_WriteFoot(ResPage* page) {
    if (!page->file) return;
    put(page, "</BODY></HTML>\n");
}

void ResPage_Close(ResPage* page) {
    flush(page);
    if (page->file) FileX_CloseWritten(&page->file, page->path);
}
