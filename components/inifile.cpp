#include "components/inifile.h"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <thread>

#include "components/arrx.h"
#include "components/bigstack.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/filex.h"
#include "components/strx.h"
#include "platform/codepage.h"

namespace {

constexpr int kQuoteSize = 4096;    // a written string value, quoted, with its NUL
constexpr int kPathSize = 260;      // a path buffer
constexpr int kPieceSize = 256;     // one piece of IniFile_WriteSplitAttr, with its NUL
constexpr int kDefaultLimit = 256;  // the value limit after opening

// ---- Scratch and positions ----------------------------------------------------

char* scratch(BigStack* stack, int size) {
    return static_cast<char*>(BigStack_Alloc(stack, static_cast<uint32_t>(size)));
}

long tell(const IniReader* r) {
    return r->in ? static_cast<long>(TextRead_Tell(r->in)) : 0;
}

void seek(IniReader* r, long pos) {
    if (r->in) TextRead_Seek(r->in, pos);
}

// ---- Lines --------------------------------------------------------------------

// Reads the next line into the line buffer and removes its LF. False at the end
// of the file, also when this read met it (a last line without a line end).
bool readLine(IniReader* r) {
    if (!r->in || !TextRead_GetLine(r->in, r->line, r->lineSize) || TextRead_Eof(r->in))
        return false;
    size_t n = strlen(r->line);
    if (n > 0 && r->line[n - 1] == '\n') r->line[n - 1] = '\0';
    return true;
}

// Reads the next line as is; false only when no byte was left.
bool readLineRaw(IniReader* r) {
    return r->in && TextRead_GetLine(r->in, r->line, r->lineSize);
}

char* skipBlanks(char* p) {
    while (*p == ' ') p++;
    return p;
}

char* skipBlanksTabs(char* p) {
    while (*p == ' ' || *p == '\t') p++;
    return p;
}

// When p begins with name followed by a blank, '=' or ':', returns that byte's
// position; otherwise nullptr.
char* matchName(char* p, const char* name) {
    size_t n = strlen(name);
    if (strncmp(p, name, n) != 0) return nullptr;
    char c = p[n];
    return (c == ' ' || c == '=' || c == ':') ? p + n : nullptr;
}

// True when the trimmed line t is a section head: '[' first and a ']' after it.
bool isHead(const char* t) {
    return t[0] == '[' && StrX_FindChar(t + 1, ']');
}

// True when the text between the '[' at t and the first ']' is name.
bool headIs(const char* t, const char* name) {
    if (t[0] != '[') return false;
    const char* close = StrX_FindChar(t + 1, ']');
    if (!close) return false;
    size_t n = strlen(name);
    return static_cast<size_t>(close - (t + 1)) == n && memcmp(t + 1, name, n) == 0;
}

// The value text of the line in the line buffer, which must be an attribute
// line of name; nullptr after a report that returned.
char* valueText(IniReader* r, const char* name) {
    char* p = skipBlanksTabs(r->line);
    char* sep = matchName(p, name);
    if (!sep) {
        ERRORS_REPORT(IniFile_Err_BadAttr, "属性名が異なる（アプリ=%s, ファイル=%s in %s）", name,
                      p, r->path);
        return nullptr;
    }
    p = skipBlanks(sep + 1);
    if (*p == '=' || *p == ':') p = skipBlanks(p + 1);
    return p;
}

// Reads the next line that is not empty; it must be an attribute line of name.
// Returns its value text (in the line buffer), or nullptr after a report that
// returned.
char* seekAttr(IniReader* r, const char* name) {
    do {
        if (!readLine(r)) {
            ERRORS_REPORT(IniFile_Err_FewAttr, "属性が少ない");
            return nullptr;
        }
    } while (r->line[0] == '\0');
    return valueText(r, name);
}

// True when the next line that is not empty is an attribute line of name;
// nothing is consumed.
bool peekAttr(IniReader* r, const char* name) {
    long pos = tell(r);
    bool found = false;
    while (readLine(r)) {
        if (r->line[0] == '\0') continue;
        found = matchName(skipBlanksTabs(r->line), name) != nullptr;
        break;
    }
    seek(r, pos);
    return found;
}

// ---- Fields and values --------------------------------------------------------

// The fields of a value text, unquoted in place one by one.
struct Fields {
    char* next;
    bool more;
};

Fields fieldsOf(char* text) {
    return Fields{text, text != nullptr};
}

// Returns the next field, or nullptr when there is none left.
char* nextField(Fields* f) {
    if (!f->more) return nullptr;
    char* field = f->next;
    const char* after = StrX_SplitField(field, field);
    if (after)
        f->next = const_cast<char*>(after);
    else
        f->more = false;
    return field;
}

bool isEmpty(const char* field) {
    return !field || !*field;
}

// The decimal number at the start of text: an optional sign, then digits.
int parseInt(const char* text) {
    bool neg = false;
    if (*text == '+' || *text == '-') neg = *text++ == '-';
    uint32_t v = 0;
    while (*text >= '0' && *text <= '9') v = v * 10u + static_cast<uint32_t>(*text++ - '0');
    return static_cast<int>(neg ? 0u - v : v);
}

// Copies text into the pool, cut to n bytes (and to what the pool's next
// string may hold); returns the copy. A full pool raises StrX_Err_MemEmpty.
char* poolAddN(StrX_Mem* pool, const char* text, int n) {
    char* s = StrX_Mem_Alloc(pool);
    int left = StrX_Mem_Left(pool);
    if (left <= 0) return s;  // nothing may be written (full, or the last byte's "")
    size_t len = strlen(text);
    size_t cap = static_cast<size_t>(left - 1);
    if (n >= 0 && len > static_cast<size_t>(n)) len = static_cast<size_t>(n);
    if (len > cap) len = cap;
    memcpy(s, text, len);
    s[len] = '\0';
    return s;
}

// Where the pool's next string would begin.
char* poolEnd(const StrX_Mem* pool) {
    if (pool->last >= pool->end) return pool->end;
    return pool->last + strlen(pool->last) + 1;
}

// Destinations of a read: the variadic arguments, or one fixed pointer.
struct Dests {
    va_list* ap;
    void* single;
    int taken;
    void* next() {
        if (ap) return va_arg(*ap, void*);
        return taken++ == 0 ? single : nullptr;
    }
};

// Stores one field by letter c into dest (nullptr: nothing). pool: string
// values are pooled (dest is a char**) instead of copied (dest is a buffer).
void storeField(IniReader* r, char c, char* field, void* dest, StrX_Mem* pool) {
    if (!dest) return;
    bool empty = isEmpty(field);
    switch (c) {
        case 'b':
            if (!empty) *static_cast<unsigned char*>(dest) = field[0] != '0';
            break;
        case 'i':
            *static_cast<int*>(dest) = empty ? 0 : parseInt(field);
            break;
        case 'I':
            if (!empty) *static_cast<int*>(dest) = parseInt(field);
            break;
        case 's':
            if (pool)
                *static_cast<char**>(dest) =
                    empty ? nullptr : poolAddN(pool, field, r->valueLimit - 1);
            else
                StrX_CopyN(static_cast<char*>(dest), empty ? "" : field, r->valueLimit);
            break;
        case 'S':
            if (pool)
                *static_cast<char**>(dest) = poolAddN(pool, empty ? "" : field, r->valueLimit - 1);
            else if (!empty)
                StrX_CopyN(static_cast<char*>(dest), field, r->valueLimit);
            break;
        case 't':
            if (!empty) StrX_TextToTime(static_cast<time_t*>(dest), field);
            break;
        default:  // x: not readable
            break;
    }
}

// The size of one item that '*' appends for letter c (0: nothing appended).
size_t itemSize(char c) {
    switch (c) {
        case 'b':
            return sizeof(unsigned char);
        case 'i':
        case 'I':
            return sizeof(int);
        case 's':
        case 'S':
            return sizeof(char*);
        case 't':
            return sizeof(time_t);
        default:
            return 0;
    }
}

bool isReadLetter(char c) {
    return strchr("biIsStx", c) != nullptr && c != '\0';
}

// Splits text into fields and stores them by format (see the module table).
// With a pool, '*' appends every remaining field to an ArrX_Buf destination.
void storeValues(IniReader* r, char* text, const char* format, Dests* d, StrX_Mem* pool) {
    Fields f = fieldsOf(text);
    for (const char* c = format; *c; c++) {
        if (*c == '-') {
            nextField(&f);
        } else if (*c == '*' && pool) {
            char letter = c[1];
            if (letter == '\0') return;
            ArrX_Buf* array = static_cast<ArrX_Buf*>(d->next());
            size_t size = itemSize(letter);
            while (char* field = nextField(&f)) {
                if (!array || size == 0) continue;
                void* item = ArrX_Buf_AllocItems(array, size, 1);
                if (!item) return;  // the report returned
                memset(item, 0, size);
                storeField(r, letter, field, item, pool);
            }
            return;
        } else if (isReadLetter(*c)) {
            void* dest = d->next();
            storeField(r, *c, nextField(&f), dest, pool);
        }
    }
}

// Applies the default of a missing optional attribute to dest.
void storeDefault(IniReader* r, char c, void* dest, va_list* ap, StrX_Mem* pool) {
    switch (c) {
        case 'b':
            *static_cast<unsigned char*>(dest) = (va_arg(*ap, int) & 0xFF) != 0;
            break;
        case 'i':
        case 'I':
            *static_cast<int*>(dest) = va_arg(*ap, int);
            break;
        case 's':
        case 'S': {
            const char* def = va_arg(*ap, const char*);
            if (pool)
                *static_cast<char**>(dest) = def ? poolAddN(pool, def, r->valueLimit - 1) : nullptr;
            else
                StrX_CopyN(static_cast<char*>(dest), def ? def : "", r->valueLimit);
            break;
        }
        default:
            break;
    }
}

// The pieces of one attribute line, gathered and handed to the stream in one
// write for a usual line (a text-mode stream is unbuffered: each piece
// written alone would be a write of its own). The bytes are those the pieces
// written one by one would give.
class LineOut {
   public:
    explicit LineOut(FILE* fp) : fp_(fp) {}
    ~LineOut() { Flush(); }
    void Put(const char* text, size_t len) {
        if (n_ + len > sizeof buf_) {
            Flush();
            if (len > sizeof buf_) {
                fwrite(text, 1, len, fp_);
                return;
            }
        }
        memcpy(buf_ + n_, text, len);
        n_ += len;
    }
    void Put(const char* text) { Put(text, strlen(text)); }
    void Flush() {
        if (n_ > 0) fwrite(buf_, 1, n_, fp_);
        n_ = 0;
    }

   private:
    FILE* fp_;
    size_t n_ = 0;
    char buf_[1024];
};

void writeValueSeparator(LineOut* out, bool* first) {
    if (!*first) out->Put(", ", 2);
    *first = false;
}

// ---- Writing ---------------------------------------------------------------------

// Checks the stream after a line was written (see FileX_CheckWrite).
void checkWrite(IniWriter* writer) {
    if (writer->fp) FileX_CheckWrite(&writer->fp, writer->path);
}

}  // namespace

void IniFile_OpenWriteStream(IniWriter* writer, FILE* fp, const char* shownPath) {
    writer->bFirst = 1;
    writer->fp = fp;
    StrX_CopyN(writer->path, shownPath, sizeof writer->path);
}

void IniFile_OpenWrite(IniWriter* writer, const char* path) {
    writer->bFirst = 1;
    StrX_CopyN(writer->path, path, sizeof writer->path);
    writer->fp = FileX_Open(path, "wt");
    if (!writer->fp)
        ERRORS_REPORT(FileX_Err_CannotWriteOpen, "書きこみモードで open できません。%s", path);
}

void IniFile_WriteSection(IniWriter* writer, const char* name) {
    if (!writer->fp) return;
    if (!writer->bFirst) fputs(" \n", writer->fp);
    fprintf(writer->fp, "[%s] \n", name);
    writer->bFirst = 0;
    checkWrite(writer);
}

void IniFile_WriteAttr(IniWriter* writer, const char* name, const char* format, ...) {
    if (!writer->fp) return;
    va_list ap;
    va_start(ap, format);
    va_list* pap = &ap;
    auto write = [&](BigStack* stack) {
        char* text = strpbrk(format, "st") ? scratch(stack, kQuoteSize) : nullptr;
        LineOut out(writer->fp);
        out.Put(name);
        out.Put(" = ", 3);
        bool first = true;
        char number[16];
        for (const char* c = format; *c; c++) {
            switch (*c) {
                case 'b':
                    writeValueSeparator(&out, &first);
                    out.Put((va_arg(*pap, int) & 0xFF) ? "1" : "0", 1);
                    break;
                case 'i':
                    writeValueSeparator(&out, &first);
                    snprintf(number, sizeof number, "%d", va_arg(*pap, int));
                    out.Put(number);
                    break;
                case 'x':
                    writeValueSeparator(&out, &first);
                    snprintf(number, sizeof number, "0x%X",
                             static_cast<unsigned>(va_arg(*pap, int)));
                    out.Put(number);
                    break;
                case 's': {
                    const char* value = va_arg(*pap, const char*);
                    writeValueSeparator(&out, &first);
                    out.Put(StrX_QuoteField(text, value ? value : "", kQuoteSize));
                    break;
                }
                case 't': {
                    const time_t* t = va_arg(*pap, const time_t*);
                    writeValueSeparator(&out, &first);
                    if (t) out.Put(StrX_TimeToText(*t, text));
                    break;
                }
                default:  // I, S, -: not written, no argument
                    break;
            }
        }
        out.Put("\n", 1);
    };
    ERRORS_VA_RUN(ap, Except3_WithScratch(write));
    checkWrite(writer);
}

void IniFile_WriteLabel(IniWriter* writer, const char* text) {
    if (!writer->fp) return;
    fprintf(writer->fp, "%s:\n", text);
    checkWrite(writer);
}

void IniFile_WriteSplitAttr(IniWriter* writer, const char* name, char separator, const char* text) {
    if (!writer->fp) return;
    Except3_WithScratch([&](BigStack* stack) {
        char* piece = scratch(stack, kPieceSize);
        const int quotedSize = 2 * kPieceSize + 2;
        char* quoted = scratch(stack, quotedSize);
        const char* start = text;
        for (;;) {
            const char* end = start;
            while (*end && *end != separator) {
                if (CodePage_IsLead(static_cast<unsigned char>(*end)) && end[1]) end++;
                end++;
            }
            size_t n = static_cast<size_t>(end - start);
            if (n > kPieceSize - 1) n = kPieceSize - 1;
            memcpy(piece, start, n);
            piece[n] = '\0';
            bool last = *end == '\0';
            if (!(last && StrX_IsBlank(piece)))
                fprintf(writer->fp, "%s = %s\n", name, StrX_QuoteField(quoted, piece, quotedSize));
            if (last || ferror(writer->fp)) break;
            start = end + 1;
        }
    });
    checkWrite(writer);
}

void IniFile_WriteFileList(IniWriter* writer, const char* section, const char* const* paths,
                           int count) {
    IniFile_WriteSection(writer, section);
    if (!writer->fp) return;
    Except3_WithScratch([&](BigStack* stack) {
        char* prev = scratch(stack, kPathSize);
        char* folder = scratch(stack, kPathSize);
        char* path = scratch(stack, kPathSize);
        char* file = scratch(stack, kPathSize);
        for (int k = 0; k < count; k++) {
            StrX_CopyN(path, paths[k], kPathSize);
            StrX_GetFolder(folder, path);
            if (folder[0] == '\0') strcpy(folder, ".");
            if (k == 0 || strcmp(folder, prev) != 0) {
                IniFile_WriteAttr(writer, "Folder", "s", folder);
                strcpy(prev, folder);
            }
            StrX_GetFileName(file, path);
            IniFile_WriteAttr(writer, "File", "s", file);
        }
    });
}

bool IniFile_CloseWrite(IniWriter* writer) {
    if (!writer->fp) return false;
    fputs(" \n", writer->fp);
    return FileX_CloseWritten(&writer->fp, writer->path);
}

// ---- Opening and positions -----------------------------------------------------

void IniFile_OpenRead(IniReader* reader, const char* path, char* lineBuffer, int lineBufferSize) {
    reader->line = lineBuffer;
    reader->lineSize = lineBufferSize;
    reader->valueLimit = kDefaultLimit;
    StrX_CopyN(reader->path, path, sizeof reader->path);
    if (lineBufferSize > 0) lineBuffer[0] = '\0';
    reader->in = FileX_OpenReader(path, IniFile_BlockSize);
    if (!reader->in) {
        ERRORS_REPORT(FileX_Err_CannotReadOpen, "読みこみモードで open できません。%s", path);
        return;
    }
}

void IniFile_SetValueLimit(IniReader* reader, int limit) {
    reader->valueLimit = limit < 1 ? 1 : limit;
}

void IniFile_CloseRead(IniReader* reader) {
    TextRead_Close(reader->in);
    reader->in = nullptr;
}

void IniFile_Rewind(IniReader* reader) {
    if (reader->in) TextRead_Seek(reader->in, 0);
}

// ---- Sections ---------------------------------------------------------------------

void IniFile_Read_setSection(IniReader* reader, const char* name) {
    long start = tell(reader);
    char* t;
    for (;;) {
        if (!readLine(reader)) {
            ERRORS_REPORT(FileX_Err_EOF, "EOF in IniFile_Read_setSection");
            return;
        }
        t = StrX_Trim(reader->line);
        if (*t) break;
    }
    if (!isHead(t)) {
        ERRORS_REPORT(IniFile_Err_BadFormat,
                      "フォーマットがおかしい in IniFile_Read_setSection (%s)", name);
        return;
    }
    if (!headIs(t, name)) {
        seek(reader, start);
        ERRORS_REPORT(IniFile_NotFoundSection, "セクション名が期待したものと異なる (%s)", name);
    }
}

long IniFile_FindSection(IniReader* reader, const char* name, bool wrap) {
    bool wrapped = false;
    for (;;) {
        if (!readLine(reader)) {
            if (wrap && !wrapped) {
                wrapped = true;
                IniFile_Rewind(reader);
                continue;
            }
            ERRORS_REPORT(IniFile_NotFoundSection, "セクション %s が見つかりません", name);
            return -1;
        }
        if (headIs(reader->line, name)) return tell(reader);
    }
}

int IniFile_CountAttr(IniReader* reader, const char* name) {
    long pos = tell(reader);
    int n = 0;
    while (readLineRaw(reader) && matchName(skipBlanksTabs(reader->line), name)) n++;
    seek(reader, pos);
    return n;
}

int IniFile_CountLines(IniReader* reader) {
    long pos = tell(reader);
    int n = 0;
    while (readLine(reader)) {
        char* t = StrX_Trim(reader->line);
        if (*t == '\0') continue;
        if (isHead(t)) break;
        n++;
    }
    seek(reader, pos);
    return n;
}

// ---- Attributes --------------------------------------------------------------------

namespace {

// Reads the attribute name with format into the caller's destinations (strings
// into pool when one is given); returns the position before the line.
long readAttr(IniReader* reader, StrX_Mem* pool, const char* name, const char* format,
              va_list* ap) {
    long pos = tell(reader);
    if (char* text = seekAttr(reader, name)) {
        Dests d{ap, nullptr, 0};
        storeValues(reader, text, format, &d, pool);
    }
    return pos;
}

}  // namespace

long IniFile_ReadAttr(IniReader* reader, const char* name, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    long pos;
    ERRORS_VA_RUN(ap, pos = readAttr(reader, nullptr, name, format, &ap));
    return pos;
}

namespace {

// Where the name of an attribute line of name ends in text[0, length) (as
// matchName on the skipBlanksTabs of that text, the text being cut where a
// line buffer would end it); nullptr when it is not such a line.
const char* matchNameIn(const char* text, int length, const char* name) {
    const char* p = text;
    const char* end = text + length;
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    // The name byte by byte: it is a word or two, and this runs for every line.
    for (; *name; name++, p++)
        if (p == end || *p != *name) return nullptr;
    if (p == end) return nullptr;  // a name must be followed by its separator
    const char c = *p;
    return (c == ' ' || c == '=' || c == ':') ? p : nullptr;
}

}  // namespace

bool IniFile_NextAttrLine(IniReader* reader, const char* name, TextRead_Line* line) {
    if (!reader->in || reader->lineSize < 2) return false;
    if (!TextRead_NextLine(reader->in, reader->lineSize - 1, line)) return false;
    if (!matchNameIn(line->text, line->length, name)) return false;
    if (TextRead_Eof(reader->in)) {
        ERRORS_REPORT(IniFile_Err_FewAttr, "属性が少ない");
        return false;
    }
    return true;
}

void IniFile_SkipAttrLinesWithout(IniReader* reader, const char* name, IniFile_Finder find,
                                  const void* context) {
    TextRead* r = reader->in;
    if (!r || reader->lineSize < 2 || r->eof) return;
    // The piece size TextRead_NextLine takes for this line buffer.
    int max = reader->lineSize - 1;
    if (max > r->capacity - 1) max = r->capacity - 1;
    if (max < 1) max = 1;
    const unsigned char* p = r->next;
    // Lines that end before the first place found hold nothing sought.
    const char* found =
        find(context, reinterpret_cast<const char*>(p), reinterpret_cast<const char*>(r->end));
    const unsigned char* const keyAt =
        found ? reinterpret_cast<const unsigned char*>(found) : r->end;
    while (p < keyAt) {
        const auto* lf =
            static_cast<const unsigned char*>(memchr(p, '\n', static_cast<size_t>(keyAt - p)));
        if (!lf) break;
        const long k = lf - p;
        const long content = r->text && k > 0 && p[k - 1] == '\r' ? k - 1 : k;
        if (content + 1 > max) break;
        if (!matchNameIn(reinterpret_cast<const char*>(p), static_cast<int>(content), name)) break;
        p = lf + 1;
    }
    r->next = const_cast<unsigned char*>(p);
}

void IniFile_SkipLineRest(IniReader* reader, const TextRead_Line* line) {
    if (line->ended || !reader->in || reader->lineSize < 2) return;
    TextRead_Line rest;
    while (TextRead_NextLine(reader->in, reader->lineSize - 1, &rest) && !rest.ended) {
    }
}

int IniFile_CountRecords(IniReader* reader, const char* name) {
    if (!reader->in || reader->lineSize < 2) return 0;
    long pos = tell(reader);
    int n = 0;
    TextRead_Line line;
    const int max = reader->lineSize - 1;
    while (TextRead_NextLine(reader->in, max, &line) && matchNameIn(line.text, line.length, name)) {
        n++;
        // The rest of a line longer than the buffer belongs to the same record.
        while (!line.ended && TextRead_NextLine(reader->in, max, &line)) {
        }
    }
    seek(reader, pos);
    return n;
}

namespace {

// True when every letter of format is 's': values copied to buffers, the
// form a list's lines are read in.
bool onlyStrings(const char* format) {
    for (; *format; format++)
        if (*format != 's') return false;
    return true;
}

}  // namespace

void IniFile_ReadAttrLine(IniReader* reader, const TextRead_Line* line, const char* name,
                          const char* format, ...) {
    memcpy(reader->line, line->text, static_cast<size_t>(line->length));
    reader->line[line->length] = '\0';
    char* text = valueText(reader, name);
    if (!text) return;
    va_list ap;
    va_start(ap, format);
    if (onlyStrings(format)) {
        // Each value straight into its buffer, without the split in place.
        const char* next = text;
        for (const char* c = format; *c; c++) {
            char* dest = va_arg(ap, char*);
            if (!next) {
                if (dest) dest[0] = '\0';
                continue;
            }
            next = StrX_SplitFieldCut(dest, dest ? reader->valueLimit : 0, next);
        }
    } else {
        Dests d{&ap, nullptr, 0};
        storeValues(reader, text, format, &d, nullptr);
    }
    va_end(ap);
}

long IniFile_ReadAnyAttr(IniReader* reader, char* nameOut, const char* format, ...) {
    long pos = tell(reader);
    char* line = reader->line;
    for (;;) {
        long lineStart = tell(reader);
        if (!readLine(reader)) return -1;
        if (StrX_IsBlank(line)) continue;
        if (isHead(skipBlanksTabs(line))) {
            seek(reader, lineStart);
            return -1;
        }
        break;
    }
    char* eq = strchr(line, '=');
    char* text = nullptr;  // no '=': no field
    if (eq) {
        *eq = '\0';
        text = skipBlanks(eq + 1);
    }
    StrX_CopyN(nameOut, StrX_Trim(line), reader->valueLimit);
    va_list ap;
    va_start(ap, format);
    Dests d{&ap, nullptr, 0};
    ERRORS_VA_RUN(ap, storeValues(reader, text, format, &d, nullptr));
    return pos;
}

long IniFile_ReadAttrAt(IniReader* reader, long position, const char* format, ...) {
    seek(reader, position);
    char* text = nullptr;
    long at = -1;
    for (;;) {
        long lineStart = tell(reader);
        if (!readLine(reader)) break;
        if (char* eq = strchr(reader->line, '=')) {
            text = skipBlanks(eq + 1);
            at = lineStart;
            break;
        }
    }
    va_list ap;
    va_start(ap, format);
    Dests d{&ap, nullptr, 0};
    ERRORS_VA_RUN(ap, storeValues(reader, text, format, &d, nullptr));
    return at;
}

namespace {

// The optional reader of one letter: reads the attribute when it is the next
// line, else stores the default that follows dest in the caller's arguments.
bool readOptional(IniReader* reader, StrX_Mem* pool, const char* name, const char* format,
                  void* dest, va_list* defaults) {
    char letter[2] = {format[0], '\0'};
    if (peekAttr(reader, name)) {
        if (char* text = seekAttr(reader, name)) {
            Dests d{nullptr, dest, 0};
            storeValues(reader, text, letter, &d, pool);
        }
        return true;
    }
    storeDefault(reader, letter[0], dest, defaults, pool);
    return false;
}

}  // namespace

bool IniFile_ReadOptAttr(IniReader* reader, const char* name, const char* format, void* dest, ...) {
    va_list ap;
    va_start(ap, dest);
    bool found;
    ERRORS_VA_RUN(ap, found = readOptional(reader, nullptr, name, format, dest, &ap));
    return found;
}

// ---- Pooled reading --------------------------------------------------------------

long IniFile_ReadAttrPooled(IniReader* reader, StrX_Mem* pool, const char* name, const char* format,
                            ...) {
    va_list ap;
    va_start(ap, format);
    long pos;
    ERRORS_VA_RUN(ap, pos = readAttr(reader, pool, name, format, &ap));
    return pos;
}

PtrRange* IniFile_ReadStringList(IniReader* reader, StrX_Mem* pool, const char* name,
                                 PtrRange* range) {
    PtrRange_SetEnds(range, poolEnd(pool), poolEnd(pool));
    char* text = seekAttr(reader, name);
    if (!text || *text == '\0') return range;
    Fields f = fieldsOf(text);
    char* first = nullptr;
    while (char* field = nextField(&f)) {
        char* s = poolAddN(pool, field, reader->valueLimit - 1);
        if (!first) first = s;
        if (pool->last >= pool->end) break;  // the report returned
    }
    PtrRange_SetEnds(range, first, poolEnd(pool));
    return range;
}

bool IniFile_ReadOptAttrPooled(IniReader* reader, StrX_Mem* pool, const char* name,
                               const char* format, void* dest, ...) {
    va_list ap;
    va_start(ap, dest);
    bool found;
    ERRORS_VA_RUN(ap, found = readOptional(reader, pool, name, format, dest, &ap));
    return found;
}

namespace {

// The slot size of a letter an array may hold (i, s, t); 0 for any other.
size_t arrayLetterSize(char c) {
    return (c == 'i' || c == 's' || c == 't') ? itemSize(c) : 0;
}

// True when every letter of format may fill an array slot; otherwise reports
// Errors_NotSupport.
bool checkArrayFormat(const char* format) {
    for (const char* c = format; *c; c++) {
        if (arrayLetterSize(*c) == 0) {
            ERRORS_REPORT(Errors_NotSupport, "Not Support in this Version");
            return false;
        }
    }
    return true;
}

// Stores one field of an array line into the slot at dest (already zeroed).
void storeSlot(IniReader* r, StrX_Mem* pool, char c, char* field, void* dest) {
    bool empty = isEmpty(field);
    if (c == 'i') {
        int v = empty ? 0 : parseInt(field);
        memcpy(dest, &v, sizeof v);
    } else if (c == 's') {
        char* s = empty ? nullptr : poolAddN(pool, field, r->valueLimit - 1);
        memcpy(dest, &s, sizeof s);
    } else if (c == 't' && !empty) {
        time_t t = 0;
        StrX_TextToTime(&t, field);
        memcpy(dest, &t, sizeof t);
    }
}

// Reads the consecutive lines of name; each line takes one record of
// recordSize bytes from array, zeroed, and its fields go to the offsets given
// by offsetOf(letter index). Returns the number of lines read.
template <class OffsetOf>
int readRecords(IniReader* r, StrX_Mem* pool, ArrX_Buf* array, const char* name, const char* format,
                PtrRange* range, size_t recordSize, OffsetOf&& offsetOf) {
    void* start = array->last;
    PtrRange_SetEnds(range, start, start);
    int count = IniFile_CountAttr(r, name);
    int done = 0;
    for (; done < count; done++) {
        char* text = seekAttr(r, name);
        if (!text) break;
        unsigned char* record =
            static_cast<unsigned char*>(ArrX_Buf_AllocItems(array, recordSize, 1));
        if (!record) break;
        memset(record, 0, recordSize);
        Fields f = fieldsOf(text);
        bool few = false;
        for (int k = 0; format[k]; k++) {
            char* field = nextField(&f);
            if (!field) {
                ERRORS_REPORT(IniFile_Err_FewData, "%s 属性のデータのが少ない", name);
                few = true;
                break;
            }
            storeSlot(r, pool, format[k], field, record + offsetOf(k));
        }
        if (few) break;
    }
    PtrRange_SetEnds(range, start, array->last);
    return done;
}

}  // namespace

int IniFile_ReadAttrArray(IniReader* reader, StrX_Mem* pool, ArrX_Buf* array, const char* name,
                          const char* format, PtrRange* range) {
    if (!checkArrayFormat(format)) {
        PtrRange_SetEnds(range, array->last, array->last);
        return 0;
    }
    size_t letters = strlen(format);
    return readRecords(reader, pool, array, name, format, range, letters * sizeof(IniFile_Value),
                       [](int k) { return static_cast<size_t>(k) * sizeof(IniFile_Value); });
}

int IniFile_ReadRecordArray(IniReader* reader, StrX_Mem* pool, ArrX_Buf* array, const char* name,
                            const char* format, PtrRange* range, int recordSize, ...) {
    PtrRange_SetEnds(range, array->last, array->last);
    if (!checkArrayFormat(format)) return 0;
    // Every offset is checked against the record before anything is read; the
    // offsets are kept on the scratch stack, one per letter.
    size_t letters = strlen(format);
    int done = 0;
    va_list ap;
    va_start(ap, recordSize);
    va_list* pap = &ap;
    auto read = [&](BigStack* stack) {
        int* offsets = reinterpret_cast<int*>(
            BigStack_Alloc(stack, static_cast<uint32_t>(letters * sizeof(int))));
        bool ok = recordSize >= 0;
        for (size_t k = 0; k < letters; k++) {
            offsets[k] = va_arg(*pap, int);
            if (offsets[k] < 0 || static_cast<size_t>(offsets[k]) + arrayLetterSize(format[k]) >
                                      static_cast<size_t>(recordSize))
                ok = false;
        }
        if (!ok) {
            ERRORS_REPORT(Errors_Unofficial, "error");
            return;
        }
        done =
            readRecords(reader, pool, array, name, format, range, static_cast<size_t>(recordSize),
                        [&](int k) { return static_cast<size_t>(offsets[k]); });
    };
    ERRORS_VA_RUN(ap, Except3_WithScratch(read));
    return done;
}

int IniFile_ReadJoined(IniReader* reader, const char* name, const char* separator, char* buffer,
                       int size) {
    if (size <= 0) return 0;
    buffer[0] = '\0';
    size_t sepLen = strlen(separator);
    int count = IniFile_CountAttr(reader, name);
    size_t used = 0;
    int done = 0;
    for (; done < count; done++) {
        size_t room = static_cast<size_t>(size) - used;
        if (room < static_cast<size_t>(reader->valueLimit) + sepLen) {
            ERRORS_REPORT(IniFile_Err_FewBuf, "バッファ領域が少ない（%s属性）", name);
            break;
        }
        char* text = seekAttr(reader, name);
        if (!text) break;
        Fields f = fieldsOf(text);
        char* field = nextField(&f);
        StrX_CopyN(buffer + used, field ? field : "", reader->valueLimit);
        used += strlen(buffer + used);
        memcpy(buffer + used, separator, sepLen + 1);
        used += sepLen;
    }
    return done;
}

int IniFile_ReadStrings(IniReader* reader, const char* name, StrX_Mem* pool) {
    int count = IniFile_CountAttr(reader, name);
    int done = 0;
    for (; done < count; done++) {
        // The next string begins after the last one's NUL and may hold one
        // byte less than StrX_Mem_Left counts now.
        if (StrX_Mem_Left(pool) - 1 < reader->valueLimit) {
            ERRORS_REPORT(IniFile_Err_FewBuf, "文字列の格納領域が足りません");
            break;
        }
        char* text = seekAttr(reader, name);
        if (!text) break;
        Fields f = fieldsOf(text);
        char* field = nextField(&f);
        poolAddN(pool, field ? field : "", reader->valueLimit - 1);
    }
    return done;
}

// ---- Lists and waiting ------------------------------------------------------------

PtrRange* IniFile_ReadFileList(IniReader* reader, StrX_Mem* pool, ArrX_Buf* array,
                               const char* section, PtrRange* range) {
    void* start = array->last;
    PtrRange_SetEnds(range, start, start);
    if (IniFile_FindSection(reader, section, true) < 0) return range;
    Except3_WithScratch([&](BigStack* stack) {
        char* folder = scratch(stack, kPathSize);
        char* path = scratch(stack, kPathSize);
        strcpy(folder, ".");
        for (;;) {
            bool isFolder = peekAttr(reader, "Folder");
            if (!isFolder && !peekAttr(reader, "File")) break;
            char* text = seekAttr(reader, isFolder ? "Folder" : "File");
            if (!text) break;
            Fields f = fieldsOf(text);
            char* field = nextField(&f);
            if (isFolder) {
                StrX_CopyN(folder, isEmpty(field) ? "." : field, kPathSize);
                continue;
            }
            StrX_CopyN(path, field ? field : "", kPathSize);
            StrX_AbsPath(path, kPathSize, folder);
            char* copy = StrX_Mem_Add(pool, path);
            if (pool->last >= pool->end) break;  // the report returned
            char** slot = static_cast<char**>(ArrX_Buf_AllocItems(array, sizeof(char*), 1));
            if (!slot) break;
            *slot = copy;
        }
    });
    PtrRange_SetEnds(range, start, array->last);
    return range;
}

bool IniFile_WaitValue(IniReader* reader, const char* section, const char* name, const char* format,
                       const void* value, int maxReads, int pauseMs) {
    char letter = format[0];
    if (letter != 'b' && letter != 'i' && letter != 's') return false;
    bool seen = false;
    Except3_WithScratch([&](BigStack* stack) {
        char* text = scratch(stack, reader->valueLimit);
        for (int k = 0; k < maxReads && !seen; k++) {
            if (k > 0 && pauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            if (IniFile_FindSection(reader, section, true) < 0) return;
            if (letter == 'b') {
                unsigned char b = 2;  // an empty field leaves it: matches nothing
                IniFile_ReadAttr(reader, name, "b", &b);
                seen = b == ((*static_cast<const int*>(value) & 0xFF) != 0);
            } else if (letter == 'i') {
                int i = 0;
                IniFile_ReadAttr(reader, name, "i", &i);
                seen = i == *static_cast<const int*>(value);
            } else {
                text[0] = '\0';
                IniFile_ReadAttr(reader, name, "s", text);
                seen = strcmp(text, static_cast<const char*>(value)) == 0;
            }
        }
    });
    return seen;
}
