// Buffered reading of a file in the Windows run-time's text mode.
//
// A TextRead reads its file in large blocks into one buffer of its own and
// hands the bytes out with every CR LF pair read as one LF; a bare LF and a
// bare CR arrive as they are. Its position is the raw file offset of the next
// byte it will hand out and is computed from the buffer, so telling costs no
// system call, and seeking to a told position reads on from exactly there (a
// position between the CR and the LF of a pair gives a bare LF). These are the
// positions that ftell and fseek give on an unbuffered text-mode stream of
// Fs_Open.
//
// A read that meets the end of the file sets the end mark, which stays (and
// every later read gives nothing) until the next seek, as a stream's
// end-of-file indicator does. A read error counts as the end of the file.
//
// The reader of the standard input reads file descriptor 0 without
// translation, as the run-time reads stdin, and does not close it.
//
// A regular file's size is taken at the opening: a read that comes back short
// having reached it is the file's end, and the reader asks no more of the
// system (a walk's page costs one read, not a read and an empty one). A file
// that grows meanwhile is read on only after a seek beyond the bytes held.
//
// Memory: opening allocates the record and its block in one piece, which
// TextRead_Close frees, or keeps for the next opening of the same block size
// on the thread (a walk opens its pages one after the other without an
// allocation per page); nothing is allocated per byte, line or block. A reader
// belongs to one thread at a time.
#pragma once

#include <cstdint>

struct TextRead {
    unsigned char* next;   // the next byte to hand out
    unsigned char* end;    // the end of the bytes held
    unsigned char* block;  // the buffer, capacity bytes
    int64_t blockPos;      // the raw file offset of block[0]
    int capacity;          // bytes the buffer holds
    int fd;                // -1 once closed
    bool text;             // CR LF is read as LF
    bool eof;              // a read met the end of the file
    bool ownsFd;           // TextRead_Close closes fd
    bool rawEnd;           // the bytes read reach the file's end: no read is asked
    int64_t size;          // a regular file's size at the opening; -1 when unknown
};

// A piece of a line seen in place in the reader's buffer (see TextRead_NextLine).
struct TextRead_Line {
    const char* text;  // the bytes, not NUL-terminated; valid until the next read or seek
    int length;        // bytes at text, the line end not included
    bool ended;        // the piece ends the line: its LF (or CR LF) was read
};

// Opens the file named by an inside path for reading with a buffer of
// blockSize bytes (at least 256), without waiting: a FIFO, socket or device
// is refused (errno ENXIO), as Fs_Open refuses it. Returns nullptr when the
// file cannot be opened or the memory cannot be had.
TextRead* TextRead_Open(const char* insidePath, int blockSize);

// A reader of the standard input (no translation; never closed).
TextRead* TextRead_OpenStdin(int blockSize);

// Closes the file (not the standard input) and frees the reader; nullptr does
// nothing.
void TextRead_Close(TextRead* r);

// Reads on when the buffer cannot answer TextRead_Get by itself.
int TextRead_GetSlow(TextRead* r);

// Returns the next byte (0..255), or -1 at the end of the file.
inline int TextRead_Get(TextRead* r) {
    if (r->next < r->end && (*r->next != '\r' || !r->text)) return *r->next++;
    return TextRead_GetSlow(r);
}

// The raw file offset of the next byte.
inline int64_t TextRead_Tell(const TextRead* r) {
    return r->blockPos + (r->next - r->block);
}

// Goes to the raw file offset pos and clears the end mark. A position inside
// the bytes held costs no system call. False (nothing changed) for a negative
// position or when the file cannot seek.
bool TextRead_Seek(TextRead* r, int64_t pos);

// True when a read has met the end of the file since the last seek.
inline bool TextRead_Eof(const TextRead* r) {
    return r->eof;
}

// Makes at least want bytes (lowered to the capacity) held after next, reading
// as needed, unless the file ends first; hands out and translates nothing.
// Returns the bytes held after next, which are raw file bytes (a CR LF pair is
// still two bytes there).
int TextRead_Ahead(TextRead* r, int want);

// True when the bytes held reach the end of the file (a read met it, or a
// short read reached the size taken at the opening).
inline bool TextRead_HeldToEnd(const TextRead* r) {
    return r->rawEnd;
}

// Reads the next piece of a line, as fgets with a buffer of max + 1 bytes
// reads: at most max bytes as read (a CR LF pair counts as its one LF), up to
// and including the line's LF. The piece is seen in place: *line gets its
// bytes without the line end. Returns false when no byte was left. A piece
// that stopped at the end of the file, having fewer than max bytes, sets the
// end mark, as fgets would. max is lowered to the buffer's capacity less one.
bool TextRead_NextLine(TextRead* r, int max, TextRead_Line* line);

// fgets on the reader: stores at most size - 1 bytes as read (up to and
// including an LF) and a NUL into out. Returns false (out untouched) when no
// byte was left; size 1 stores only the NUL; size 0 or less reads nothing and
// returns false. Any size may be asked, whatever the buffer's capacity.
bool TextRead_GetLine(TextRead* r, char* out, int size);
