#include "platform/process.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/codepage.h"
#include "platform/fs.h"

extern char** environ;

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::vector<std::string> Process_SplitCommandLine(const char* cmdLine) {
    std::vector<std::string> args;
    std::string s = cmdLine ? cmdLine : "";
    size_t i = 0, n = s.size();
    auto isLead = [&](size_t k) {
        return CodePage_IsLead(static_cast<unsigned char>(s[k])) && k + 1 < n;
    };
    while (i < n && isBlank(s[i])) i++;
    if (i == n) return args;
    // The program name: no escapes, a quote only groups.
    std::string prog;
    if (s[i] == '"') {
        for (i++; i < n && s[i] != '"'; i++) prog += s[i];
        if (i < n) i++;
    } else {
        for (; i < n && !isBlank(s[i]); i++) prog += s[i];
    }
    args.push_back(prog);
    for (;;) {
        while (i < n && isBlank(s[i])) i++;
        if (i >= n) break;
        std::string arg;
        bool quoted = false;
        while (i < n) {
            char c = s[i];
            if (isLead(i)) {
                arg += s.substr(i, 2);
                i += 2;
            } else if (c == '\\') {
                size_t b = 0;
                while (i + b < n && s[i + b] == '\\') b++;
                if (i + b < n && s[i + b] == '"') {
                    arg.append(b / 2, '\\');
                    i += b;
                    if (b % 2) {
                        arg += '"';
                        i++;
                    }
                } else {
                    arg.append(b, '\\');
                    i += b;
                }
            } else if (c == '"') {
                if (quoted && i + 1 < n && s[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                } else {
                    quoted = !quoted;
                    i++;
                }
            } else if (isBlank(c) && !quoted) {
                break;
            } else {
                arg += c;
                i++;
            }
        }
        args.push_back(arg);
    }
    return args;
}

int Process_Spawn(const std::vector<std::string>& argv) {
    if (argv.empty() || argv[0].empty()) return ENOENT;
    std::vector<char*> ptrs;
    for (const std::string& a : argv) ptrs.push_back(const_cast<char*>(a.c_str()));
    ptrs.push_back(nullptr);
    pid_t pid;
    int rc = argv[0].find('/') == std::string::npos
                 ? posix_spawnp(&pid, ptrs[0], nullptr, nullptr, ptrs.data(), environ)
                 : posix_spawn(&pid, ptrs[0], nullptr, nullptr, ptrs.data(), environ);
    if (rc != 0) return rc;
    std::thread([pid] {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return 0;
}

int WinExec(const char* cmdLine, unsigned) {
    std::vector<std::string> args = Process_SplitCommandLine(cmdLine);
    if (args.empty() || args[0].empty()) return 2;
    std::vector<std::string> native;
    native.push_back(Fs_ToNative(args[0]));
    for (size_t k = 1; k < args.size(); k++)
        native.push_back(args[k][0] == '\\' || args[k][0] == '/' ? Fs_ToNative(args[k])
                                                                 : CodePage_SjisToUtf8(args[k]));
    int err = Process_Spawn(native);
    switch (err) {
        case 0:
            return 33;
        case ENOMEM:
        case EAGAIN:
            return 0;
        case ENOTDIR:
            return 3;
        case ENOENT: {
            const std::string& prog = native[0];
            size_t slash = prog.rfind('/');
            if (slash == std::string::npos || slash == 0) return 2;
            struct stat st;
            std::string folder = prog.substr(0, slash);
            return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 2 : 3;
        }
        default:
            return 11;
    }
}
