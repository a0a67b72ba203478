// The result page (out.htm): the page a search writes, a list of links to
// the pages found, written as the search reports its hits (Kwf_Search's sink).
//
// Texts and paths are CP932 in the inside path form. The page is written in
// blocks: a search may list tens of thousands of hits.
#pragma once

#include <cstdio>

#include "app/kwf.h"

// The result page writer: the open page (each line ended CR LF on disk), the
// target frame of its links (empty: no target), the page's path (for
// messages, cut to 259 bytes) and the block of what is written but not yet
// sent to the stream.
//
// Every write is checked: when the page's stream reports an error as a block
// goes out (a full disk, a file-size limit), the page is closed (file ==
// nullptr, so later writes do nothing) and FileX_Err_CannotWrite (365, "%s の
// 書きこみに失敗しました。" with the page's path) is reported. A short page
// meets the error at its close.
struct ResPage {
    FILE* file;
    char target[256];
    char path[260];
    int used;  // bytes of block in use
    char block[65536];
};

// Creates or truncates path as the page and empties the target, never
// waiting in the open (Fs_Open): a FIFO, socket or block device is refused.
// Reports FileX_Err_CannotWriteOpen (362) when it cannot be created.
void ResPage_Open(ResPage* page, const char* path);
// Copies name into the target, cut to 255 bytes.
void ResPage_SetTarget(ResPage* page, const char* name);
// Writes the head of the page: title and heading with the query, and a
// "戻る" link to backUrl unless it is null or empty. The query is HTML-escaped
// (& < >); backUrl in its attribute also has " written as &quot;.
void ResPage_WriteHead(ResPage* page, const char* query, const char* backUrl);
// Returns the sink whose onHit is ResPage_WriteItem and onEnd
// ResPage_WriteCount, with page as the context.
Kwf_HitSink ResPage_MakeSink(ResPage* page);
// Writes one list item: a link to href (in the target frame when one is set)
// whose text is the keyword entry (null counts as empty) and the title in
// brackets. Title and entry are escaped as into 1024-byte buffers, so
// each is cut at 1023 escaped bytes; href and the target are escaped whole,
// with " as &quot;.
void ResPage_WriteItem(ResPage* page, const char* title, const char* keywordEntry,
                       const char* href);
// Ends the list and writes the count line "<P>%d 件みつかりました</P>".
void ResPage_WriteCount(ResPage* page, int count);
// Writes "</BODY></HTML>".
void ResPage_WriteFoot(ResPage* page);
// Sends the rest of the block and closes the page; a failure of the write,
// the flush or the close reports
// FileX_Err_CannotWrite (365). Closing a closed page does nothing.
void ResPage_Close(ResPage* page);
