#include "platform/textread.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "platform/fs.h"

namespace {

constexpr int kMinBlock = 256;

// The memory of the last reader closed on this thread, kept for the next one
// of the same capacity.
thread_local void* t_spare = nullptr;
thread_local int t_spareCapacity = 0;

void releaseSpare() {
    free(t_spare);
    t_spare = nullptr;
    t_spareCapacity = 0;
}

// Frees the spare memory when the thread ends.
struct SpareKeeper {
    ~SpareKeeper() { releaseSpare(); }
};
thread_local SpareKeeper t_spareKeeper;

TextRead* make(int fd, int blockSize, bool text, bool ownsFd, int64_t size) {
    if (blockSize < kMinBlock) blockSize = kMinBlock;
    void* mem = nullptr;
    if (t_spare && t_spareCapacity == blockSize) {
        mem = t_spare;
        t_spare = nullptr;
        t_spareCapacity = 0;
    } else {
        mem = malloc(sizeof(TextRead) + static_cast<size_t>(blockSize));
    }
    if (!mem) return nullptr;
    TextRead* r = new (mem) TextRead{};
    r->block = reinterpret_cast<unsigned char*>(r + 1);
    r->next = r->end = r->block;
    r->blockPos = 0;
    r->capacity = blockSize;
    r->fd = fd;
    r->text = text;
    r->eof = false;
    r->ownsFd = ownsFd;
    r->rawEnd = false;
    r->size = size;
    return r;
}

// Keeps the bytes not yet handed out at the buffer's start and reads more
// after them. Returns the bytes added: 0 at the end of the file (or on an
// error, or when the buffer is full).
int refill(TextRead* r) {
    const long kept = r->end - r->next;
    if (r->next != r->block) {
        r->blockPos += r->next - r->block;
        memmove(r->block, r->next, static_cast<size_t>(kept));
        r->next = r->block;
        r->end = r->block + kept;
    }
    const size_t room = static_cast<size_t>(r->capacity - kept);
    if (room == 0 || r->fd < 0 || r->rawEnd) return 0;
    for (;;) {
        ssize_t n = read(r->fd, r->end, room);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            // A file system that honours O_NONBLOCK on a regular file: reads
            // wait as usual from here on.
            if (fcntl(r->fd, F_SETFL, 0) == 0) continue;
        }
        if (n <= 0) {
            if (n == 0) r->rawEnd = true;
            return 0;
        }
        r->end += n;
        // A short read that reaches the size at the opening is the end.
        if (static_cast<size_t>(n) < room && r->size >= 0 &&
            r->blockPos + (r->end - r->block) >= r->size)
            r->rawEnd = true;
        return static_cast<int>(n);
    }
}

}  // namespace

TextRead* TextRead_Open(const char* insidePath, int blockSize) {
    int64_t size = -1;
    int fd = Fs_OpenReadFd(insidePath, &size);  // never waits on a FIFO or a device
    if (fd < 0) return nullptr;
    TextRead* r = make(fd, blockSize, true, true, size);
    if (!r) close(fd);
    return r;
}

TextRead* TextRead_OpenStdin(int blockSize) {
    return make(0, blockSize, false, false, -1);
}

void TextRead_Close(TextRead* r) {
    if (!r) return;
    if (r->ownsFd && r->fd >= 0) close(r->fd);
    const int capacity = r->capacity;
    r->~TextRead();
    if (!t_spare) {
        (void)&t_spareKeeper;  // constructed now, it frees the spare at the thread's end
        t_spare = r;
        t_spareCapacity = capacity;
    } else {
        free(r);
    }
}

int TextRead_GetSlow(TextRead* r) {
    if (r->eof) return -1;
    for (;;) {
        if (r->next < r->end) {
            unsigned char c = *r->next;
            if (c != '\r' || !r->text) {
                r->next++;
                return c;
            }
            if (r->next + 1 == r->end && refill(r) == 0) {  // a CR last in the file
                r->next++;
                return '\r';
            }
            if (r->next[1] == '\n') {
                r->next += 2;
                return '\n';
            }
            r->next++;
            return '\r';
        }
        if (refill(r) == 0) {
            r->eof = true;
            return -1;
        }
    }
}

int TextRead_Ahead(TextRead* r, int want) {
    if (want > r->capacity) want = r->capacity;
    while (r->end - r->next < want && refill(r) > 0) {
    }
    return static_cast<int>(r->end - r->next);
}

bool TextRead_Seek(TextRead* r, int64_t pos) {
    if (pos < 0) return false;
    r->eof = false;
    if (pos >= r->blockPos && pos <= r->blockPos + (r->end - r->block)) {
        r->next = r->block + (pos - r->blockPos);
        return true;
    }
    if (lseek(r->fd, static_cast<off_t>(pos), SEEK_SET) < 0) return false;
    r->rawEnd = false;  // the file may have grown: read again from here
    r->blockPos = pos;
    r->next = r->end = r->block;
    return true;
}

bool TextRead_NextLine(TextRead* r, int max, TextRead_Line* line) {
    if (max > r->capacity - 1) max = r->capacity - 1;
    if (max < 1) max = 1;
    if (r->eof) return false;
    bool atEnd = false;  // the file has no bytes beyond those held
    for (;;) {
        const long avail = r->end - r->next;
        // A piece of max bytes can take max + 1 raw bytes (a CR LF pair at its end).
        const long look = avail < max + 1 ? avail : max + 1;
        const unsigned char* lf =
            look > 0 ? static_cast<const unsigned char*>(memchr(r->next, '\n', look)) : nullptr;
        if (lf) {
            const long k = lf - r->next;
            const bool pair = r->text && k > 0 && r->next[k - 1] == '\r';
            const long content = pair ? k - 1 : k;
            if (content + 1 <= max) {
                line->text = reinterpret_cast<const char*>(r->next);
                line->length = static_cast<int>(content);
                line->ended = true;
                r->next += k + 1;
                return true;
            }
        }
        if (lf || avail > max || (atEnd && avail >= max)) {
            // Too long for one piece: its first max raw bytes hold no line end.
            line->text = reinterpret_cast<const char*>(r->next);
            line->length = max;
            line->ended = false;
            r->next += max;
            return true;
        }
        if (atEnd) {
            r->eof = true;  // this read met the end of the file
            if (avail == 0) return false;
            line->text = reinterpret_cast<const char*>(r->next);
            line->length = static_cast<int>(avail);
            line->ended = false;
            r->next = r->end;
            return true;
        }
        if (refill(r) == 0) atEnd = true;
    }
}

bool TextRead_GetLine(TextRead* r, char* out, int size) {
    if (size <= 0) return false;
    if (size == 1) {
        out[0] = '\0';
        return true;
    }
    int stored = 0;
    TextRead_Line piece;
    while (stored < size - 1 && TextRead_NextLine(r, size - 1 - stored, &piece)) {
        memcpy(out + stored, piece.text, static_cast<size_t>(piece.length));
        stored += piece.length;
        if (piece.ended) {
            out[stored++] = '\n';
            break;
        }
        if (r->eof) break;
    }
    if (stored == 0) return false;
    out[stored] = '\0';
    return true;
}
