// The floor of a build: walks a folder tree in the order of the builder's
// walk (entries sorted by name) and, for every page (a name ending in .htm or
// .html in any case), only opens it, reads its first 4 KiB and closes it.
// Nothing is parsed or written. Prints the pages read.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool isPage(const char* name) {
    const char* dot = strrchr(name, '.');
    return dot && (strcasecmp(dot, ".htm") == 0 || strcasecmp(dot, ".html") == 0);
}

long walk(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return 0;
    std::vector<std::pair<std::string, bool>> entries;
    while (dirent* e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        bool folder = e->d_type == DT_DIR;
        if (e->d_type == DT_UNKNOWN) {
            struct stat st;
            folder = lstat((dir + "/" + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        entries.emplace_back(e->d_name, folder);
    }
    closedir(d);
    std::sort(entries.begin(), entries.end());
    long pages = 0;
    static char block[4096];
    for (const auto& [name, folder] : entries) {
        std::string path = dir + "/" + name;
        if (folder) {
            pages += walk(path);
            continue;
        }
        if (!isPage(name.c_str())) continue;
        int fd = open(path.c_str(), O_RDONLY);
        if (fd < 0) continue;
        if (read(fd, block, sizeof block) >= 0) pages++;
        close(fd);
    }
    return pages;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: floor FOLDER\n");
        return 2;
    }
    printf("%ld pages\n", walk(argv[1]));
    return 0;
}
