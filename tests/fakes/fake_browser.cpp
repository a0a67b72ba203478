// The fake browser as a program, started by a registered command line:
//   fake_browser RECORD [--never] [ARG...]
// It appends "ARGS" and its arguments to the file RECORD (a native path),
// then serves as FakeBrowser and appends each executed text, one per line,
// until asked to end or idle for 30 seconds. With --never it ends at once
// without answering.
#include <cstdio>
#include <cstring>
#include <string>

#include "support/fakebrowser.h"

namespace {

void append(const char* path, const std::string& line) {
    FILE* f = fopen(path, "ab");
    if (!f) return;
    fputs((line + "\n").c_str(), f);
    fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string args = "ARGS";
    for (int i = 2; i < argc; i++) args += std::string(" [") + argv[i] + "]";
    for (int i = 2; i < argc; i++)
        if (strcmp(argv[i], "--never") == 0) {
            append(argv[1], args + " NEVER");
            return 0;
        }
    FakeBrowser fake;
    if (!fake.Start()) {
        append(argv[1], args + " NOSERVER");
        return 1;
    }
    append(argv[1], args);
    size_t seen = 0;
    for (int idle = 0; idle < 150; idle++) {
        std::vector<std::string> opened = fake.WaitOpened(seen + 1, 200);
        if (opened.size() > seen) idle = 0;
        for (; seen < opened.size(); seen++) append(argv[1], "OPEN " + opened[seen]);
        if (fake.WaitExit(0)) break;
    }
    return 0;
}
