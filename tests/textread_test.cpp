// The buffered text-mode reader against the unbuffered text-mode stream it
// replaces under the lexer and the attribute reader: the same bytes, lines,
// end-of-file marks and positions, and seeks that return to them.
#include "platform/textread.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/fs.h"
#include "support/testsupport.h"

namespace {

class TextReadTest : public testing::Test {
   protected:
    std::string Put(const std::string& bytes) {
        dir_.Write("f.txt", bytes);
        return dir_.inside() + "\\f.txt";
    }
    TempDir dir_;
};

// Files whose line ends, block edges and last lines differ.
const struct {
    const char* name;
    std::string bytes;
} kFiles[] = {
    {"CR LF", "[main] \r\nA = x, y\r\n \r\n"},
    {"bare LF", "[main] \nA = x, y\n \n"},
    {"no final line end", "[main] \r\nA = x\r\nB = last"},
    {"bare CR and CR CR LF", "a\rb\r\r\nc\r"},
    {"empty lines", "\r\n\n\r\n\r\nx"},
    {"CR LF across every block edge", std::string(255, 'a') + "\r\n" + std::string(254, 'b') +
                                          "\r\n" + std::string(253, 'c') + "\r\nend\r\n"},
    {"long lines", std::string(700, 'L') + "\r\n" + std::string(300, 'M') + "\n" + "\r"},
    {"empty file", ""},
};

// Line by line with fgets and ftell, as the attribute reader read before, and
// with the reader: each line, where it ended and the end-of-file mark.
std::string OldLines(const std::string& inside, int size) {
    FILE* f = Fs_Open(inside.c_str(), "rt");
    std::string log;
    std::string line(static_cast<size_t>(size), '\0');
    while (fgets(line.data(), size, f))
        log += "[" + std::string(line.c_str()) + "]@" + std::to_string(ftell(f)) +
               (feof(f) ? " eof" : "") + "\n";
    fclose(f);
    return log;
}

std::string NewLines(const std::string& inside, int size) {
    TextRead* r = TextRead_Open(inside.c_str(), 256);
    std::string log;
    std::string line(static_cast<size_t>(size), '\0');
    while (TextRead_GetLine(r, line.data(), size))
        log += "[" + std::string(line.c_str()) + "]@" + std::to_string(TextRead_Tell(r)) +
               (TextRead_Eof(r) ? " eof" : "") + "\n";
    TextRead_Close(r);
    return log;
}

TEST_F(TextReadTest, LinesBytesPositionsAndSeeksEqualTheTextStreams) {
    for (const auto& file : kFiles) {
        const std::string path = Put(file.bytes);
        for (int size : {2, 3, 4, 5, 64, 255, 256, 257, 1024})
            EXPECT_EQ(OldLines(path, size), NewLines(path, size))
                << file.name << ", line buffer " << size;
        FILE* f = Fs_Open(path.c_str(), "rt");
        TextRead* r = TextRead_Open(path.c_str(), 256);
        // Every byte with its position after it, then back to each position.
        std::vector<long> positions{0};
        for (;;) {
            int a = fgetc(f), b = TextRead_Get(r);
            ASSERT_EQ(a == EOF ? -1 : a, b) << file.name << " at " << ftell(f);
            ASSERT_EQ(ftell(f), TextRead_Tell(r)) << file.name;
            if (b < 0) break;
            positions.push_back(ftell(f));
        }
        EXPECT_TRUE(TextRead_Eof(r)) << file.name;
        EXPECT_EQ(-1, TextRead_Get(r)) << file.name << ": the end mark stays";
        for (size_t i = positions.size(); i-- > 0;) {
            ASSERT_EQ(0, fseek(f, positions[i], SEEK_SET));
            ASSERT_TRUE(TextRead_Seek(r, positions[i]));
            EXPECT_FALSE(TextRead_Eof(r));
            int a = fgetc(f), b = TextRead_Get(r);
            EXPECT_EQ(a == EOF ? -1 : a, b) << file.name << " from " << positions[i];
        }
        // A position between the CR and the LF of a pair gives a bare LF.
        if (size_t cr = file.bytes.find("\r\n"); cr != std::string::npos) {
            ASSERT_TRUE(TextRead_Seek(r, static_cast<int64_t>(cr + 1)));
            EXPECT_EQ('\n', TextRead_Get(r)) << file.name;
            EXPECT_EQ(static_cast<int64_t>(cr + 2), TextRead_Tell(r)) << file.name;
        }
        EXPECT_FALSE(TextRead_Seek(r, -1));
        fclose(f);
        TextRead_Close(r);
    }
}

TEST_F(TextReadTest, WhatIsNotAFileIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = dir.path() + "/x.htm";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    alarm(10);  // a reader that waits for a writer ends the test here
    errno = 0;
    EXPECT_EQ(nullptr, TextRead_Open((dir.inside() + "\\x.htm").c_str(), 4096));
    EXPECT_EQ(ENXIO, errno);
    alarm(0);
}

}  // namespace
