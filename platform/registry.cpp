#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "platform/fs.h"

struct Registry_Key {
    int root;          // index into kRoots
    std::string path;  // the elements below the root joined by backslashes; empty: the root
    REGSAM sam;
};

namespace {

struct Root {
    HKEY handle;
    const char* name;
};
const Root kRoots[] = {
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {HKEY_CURRENT_CONFIG, "HKEY_CURRENT_CONFIG"},
};
constexpr int kRootCount = sizeof kRoots / sizeof kRoots[0];

struct Value {
    std::string name;  // empty: the default value
    DWORD type;
    std::string data;  // REG_SZ: the text without a NUL; others: the raw bytes
};

struct Key {
    int root;
    std::string path;  // as Registry_Key::path
    std::vector<Value> values;
};

// The whole store, keys in file order; every key's parents are present.
struct Store {
    std::vector<Key> keys;
};

std::mutex g_handlesMutex;
std::set<Registry_Key*> g_handles;  // live handles, so that a stale one is refused
void (*g_writeHook)(Registry_WriteStage) = nullptr;

// ---- Names ----

// The name with single-byte ASCII letters upper-cased; double-byte characters
// are kept whole, so a trail byte is never folded.
std::string fold(std::string_view name) {
    std::string out(name);
    for (size_t i = 0; i < out.size(); i++) {
        unsigned char c = static_cast<unsigned char>(out[i]);
        if (CodePage_IsLead(c) && i + 1 < out.size()) {
            i++;
        } else {
            out[i] = static_cast<char>(CodePage_ToUpper(c));
        }
    }
    return out;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && fold(a) == fold(b);
}

// Splits a key path at each backslash that is not a trail byte. False when an
// element is empty or holds CR or LF (*rc says which).
bool splitPath(std::string_view path, std::vector<std::string>* elements, LONG* rc) {
    elements->clear();
    std::string cur;
    for (size_t i = 0; i < path.size(); i++) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        if (CodePage_IsLead(c) && i + 1 < path.size()) {
            cur += path.substr(i, 2);
            i++;
            continue;
        }
        if (c == '\\') {
            elements->push_back(cur);
            cur.clear();
            continue;
        }
        cur += static_cast<char>(c);
    }
    elements->push_back(cur);
    for (const std::string& e : *elements) {
        if (e.empty()) {
            *rc = ERROR_BAD_PATHNAME;
            return false;
        }
        if (e.find_first_of("\r\n") != std::string::npos) {
            *rc = ERROR_INVALID_PARAMETER;
            return false;
        }
    }
    return true;
}

std::string joinPath(const std::string& base, const std::vector<std::string>& elements,
                     size_t count) {
    std::string out = base;
    for (size_t i = 0; i < count; i++) {
        if (!out.empty()) out += '\\';
        out += elements[i];
    }
    return out;
}

int rootIndex(HKEY key) {
    for (int i = 0; i < kRootCount; i++)
        if (kRoots[i].handle == key) return i;
    return -1;
}

// ---- The store in memory ----

Key* findKey(Store& store, int root, std::string_view path) {
    for (Key& k : store.keys)
        if (k.root == root && sameName(k.path, path)) return &k;
    return nullptr;
}

bool keyExists(Store& store, int root, const std::string& path) {
    return path.empty() || findKey(store, root, path) != nullptr;
}

// The direct sub-keys of (root, path), in file order.
std::vector<const Key*> childrenOf(const Store& store, int root, const std::string& path) {
    std::vector<const Key*> out;
    std::string prefix = path.empty() ? "" : fold(path) + "\\";
    for (const Key& k : store.keys) {
        if (k.root != root || k.path.size() <= prefix.size()) continue;
        std::string f = fold(k.path);
        if (f.compare(0, prefix.size(), prefix) != 0) continue;
        std::vector<std::string> rest;
        LONG rc;
        if (splitPath(std::string_view(k.path).substr(prefix.size()), &rest, &rc) &&
            rest.size() == 1)
            out.push_back(&k);
    }
    return out;
}

// Adds (root, path) and each missing key above it.
void addKey(Store& store, int root, const std::vector<std::string>& elements) {
    for (size_t n = 1; n <= elements.size(); n++) {
        std::string p = joinPath("", elements, n);
        if (!findKey(store, root, p)) store.keys.push_back({root, p, {}});
    }
}

Value* findValue(Key& key, const char* name) {
    std::string_view n = name ? name : "";
    for (Value& v : key.values)
        if (sameName(v.name, n)) return &v;
    return nullptr;
}

// ---- The .reg text ----

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
}

void appendHex(std::string& out, std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); i++) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (i) out += ',';
        out += digits[b >> 4];
        out += digits[b & 15];
    }
}

std::string serialize(const Store& store) {
    std::string out = "REGEDIT4\r\n";
    for (const Key& k : store.keys) {
        out += "\r\n[";
        out += kRoots[k.root].name;
        if (!k.path.empty()) out += "\\" + k.path;
        out += "]\r\n";
        for (const Value& v : k.values) {
            if (v.name.empty())
                out += '@';
            else
                appendQuoted(out, v.name);
            out += '=';
            if (v.type == REG_SZ && v.data.find_first_of("\r\n") == std::string::npos) {
                appendQuoted(out, v.data);
            } else if (v.type == REG_SZ) {
                // A text with a line break cannot be quoted on one line.
                out += "hex(1):";
                appendHex(out, v.data + std::string(1, '\0'));
            } else if (v.type == REG_BINARY) {
                out += "hex:";
                appendHex(out, v.data);
            } else if (v.type == REG_DWORD && v.data.size() == 4) {
                char buf[16];
                uint32_t d = 0;
                for (int i = 3; i >= 0; i--) d = d << 8 | static_cast<unsigned char>(v.data[i]);
                snprintf(buf, sizeof buf, "dword:%08x", d);
                out += buf;
            } else {
                char buf[16];
                snprintf(buf, sizeof buf, "hex(%x):", v.type);
                out += buf;
                appendHex(out, v.data);
            }
            out += "\r\n";
        }
    }
    return out;
}

// Reads a quoted text at text[*pos] (the opening quote), un-escaping \\ and
// \" byte by byte. False when it is not closed.
bool readQuoted(std::string_view text, size_t* pos, std::string* out) {
    if (*pos >= text.size() || text[*pos] != '"') return false;
    out->clear();
    for (size_t i = *pos + 1; i < text.size(); i++) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
            *out += text[++i];
        } else if (c == '"') {
            *pos = i + 1;
            return true;
        } else {
            *out += c;
        }
    }
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads comma-separated hex bytes (blanks allowed around them).
bool readHexBytes(std::string_view text, std::string* out) {
    out->clear();
    size_t i = 0;
    auto blanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) i++;
    };
    blanks();
    if (i == text.size()) return true;
    for (;;) {
        blanks();
        if (i + 2 > text.size()) return false;
        int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi << 4 | lo);
        i += 2;
        blanks();
        if (i == text.size()) return true;
        if (text[i++] != ',') return false;
    }
}

bool parseData(std::string_view text, Value* v) {
    size_t pos = 0;
    if (!text.empty() && text[0] == '"') {
        v->type = REG_SZ;
        if (!readQuoted(text, &pos, &v->data)) return false;
        return text.find_first_not_of(" \t", pos) == std::string_view::npos;
    }
    if (text.substr(0, 6) == "dword:") {
        std::string_view digits = text.substr(6);
        if (digits.size() != 8) return false;
        uint32_t d = 0;
        for (char c : digits) {
            int h = hexDigit(c);
            if (h < 0) return false;
            d = d << 4 | static_cast<uint32_t>(h);
        }
        v->type = REG_DWORD;
        v->data.clear();
        for (int i = 0; i < 4; i++) v->data += static_cast<char>(d >> (8 * i) & 0xFF);
        return true;
    }
    if (text.substr(0, 4) == "hex:") {
        v->type = REG_BINARY;
        return readHexBytes(text.substr(4), &v->data);
    }
    if (text.substr(0, 4) == "hex(") {
        size_t close = text.find("):");
        if (close == std::string_view::npos || close == 4) return false;
        DWORD type = 0;
        for (size_t i = 4; i < close; i++) {
            int h = hexDigit(text[i]);
            if (h < 0) return false;
            type = type << 4 | static_cast<DWORD>(h);
        }
        v->type = type;
        if (!readHexBytes(text.substr(close + 2), &v->data)) return false;
        if (type == REG_SZ) {
            size_t nul = v->data.find('\0');
            if (nul != std::string::npos) v->data.resize(nul);
        }
        return true;
    }
    return false;
}

// Parses a whole store; false when any line is not understood.
bool parse(std::string_view text, Store* store) {
    store->keys.clear();
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line(text.substr(start, end - start));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    size_t i = 0;
    while (i < lines.size() && lines[i].empty()) i++;
    if (i == lines.size() || lines[i] != "REGEDIT4") return false;
    Key* current = nullptr;
    for (i++; i < lines.size(); i++) {
        std::string line = lines[i];
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[') {
            size_t close = line.rfind(']');
            if (close == std::string::npos || close == 1) return false;
            std::vector<std::string> elements;
            LONG rc;
            if (!splitPath(std::string_view(line).substr(1, close - 1), &elements, &rc))
                return false;
            int root = -1;
            for (int r = 0; r < kRootCount; r++)
                if (sameName(elements[0], kRoots[r].name)) root = r;
            if (root < 0) return false;
            elements.erase(elements.begin());
            addKey(*store, root, elements);
            // A root holds no values of its own: a value after it does not parse.
            current = elements.empty()
                          ? nullptr
                          : findKey(*store, root, joinPath("", elements, elements.size()));
            continue;
        }
        if (!current) return false;
        // A hex value may go on over lines that end with a backslash.
        while (!line.empty() && line.back() == '\\' && line.find("=hex") != std::string::npos &&
               i + 1 < lines.size()) {
            line.pop_back();
            std::string next = lines[++i];
            next.erase(0, next.find_first_not_of(" \t") == std::string::npos
                              ? next.size()
                              : next.find_first_not_of(" \t"));
            line += next;
        }
        Value v;
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (!readQuoted(line, &pos, &v.name) || v.name.empty()) {
            return false;
        }
        if (pos >= line.size() || line[pos] != '=') return false;
        if (!parseData(std::string_view(line).substr(pos + 1), &v)) return false;
        if (Value* old = findValue(*current, v.name.c_str()))
            *old = v;
        else
            current->values.push_back(v);
    }
    return true;
}

// ---- The file ----

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = getenv(name);
    return v && *v ? std::string(v) : fallback;
}

std::string homeNative() {
    char inside[1024];
    if (!Fs_HomeDir(inside, sizeof inside)) return "";
    return Fs_ToNative(inside);
}

// Makes each missing folder of a native path to a file (mode 0700).
void makeParents(const std::string& file) {
    for (size_t p = file.find('/', 1); p != std::string::npos; p = file.find('/', p + 1))
        mkdir(file.substr(0, p).c_str(), 0700);
}

bool readWhole(int fd, std::string* out) {
    out->clear();
    char buf[8192];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        out->append(buf, static_cast<size_t>(n));
    }
}

bool writeAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Replaces the store file with text: a temporary file beside it, written
// whole, flushed to disk, renamed over it; the folder flushed after.
bool save(const std::string& path, const std::string& text) {
    std::string tmpl = path + ".XXXXXX";
    int fd = mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) return false;
    size_t half = text.size() / 2;
    bool ok = fchmod(fd, 0600) == 0 && writeAll(fd, text.data(), half);
    if (ok && g_writeHook) g_writeHook(Registry_Stage_TempHalfWritten);
    ok = ok && writeAll(fd, text.data() + half, text.size() - half) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && g_writeHook) g_writeHook(Registry_Stage_BeforeRename);
    if (!ok || rename(tmpl.c_str(), path.c_str()) != 0) {
        unlink(tmpl.c_str());
        return false;
    }
    size_t slash = path.rfind('/');
    std::string folder = slash == std::string::npos ? "."
                         : slash == 0               ? "/"
                                                    : path.substr(0, slash);
    int dfd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    return true;
}

// Runs fn(store) on the current store under the store's lock; when fn sets
// *changed, the store is written back. A missing store is seeded (and
// written) first.
template <class Fn>
LONG withStore(Fn&& fn) {
    std::string path = Registry_Path();
    if (path.empty()) return ERROR_CANTREAD;
    makeParents(path);
    int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) return ERROR_CANTREAD;
    while (flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    LONG rc = ERROR_SUCCESS;
    Store store;
    std::string text;
    bool changed = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        text = Registry_SeedText();
        changed = true;
    } else if (fd < 0 || !readWhole(fd, &text)) {
        rc = ERROR_CANTREAD;
    }
    if (fd >= 0) close(fd);
    if (rc == ERROR_SUCCESS && !parse(text, &store)) rc = ERROR_BADDB;
    if (rc == ERROR_SUCCESS) rc = fn(store, &changed);
    if (changed && !save(path, serialize(store)) && rc == ERROR_SUCCESS) rc = ERROR_CANTWRITE;
    close(lock);  // also releases the lock
    return rc;
}

// Resolves a handle to its root, path and rights (each out may be null);
// false for a stale or null handle.
bool resolve(HKEY key, int* root, std::string* path, REGSAM* sam) {
    Registry_Key k;
    int r = rootIndex(key);
    if (r >= 0) {
        k = {r, "", KEY_ALL_ACCESS};
    } else {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        if (!key || !g_handles.count(key)) return false;
        k = *key;
    }
    if (root) *root = k.root;
    if (path) *path = k.path;
    if (sam) *sam = k.sam;
    return true;
}

// A key named by a handle and a sub-key path below it.
struct Target {
    int root;
    std::string base;  // the handle's own path
    REGSAM baseSam;
    std::vector<std::string> elements;  // every element from the root down
    std::string path;                   // the elements joined
};

// Fills *t for subKey (null or empty: the handle's key itself) below key.
LONG target(HKEY key, const char* subKey, Target* t) {
    if (!resolve(key, &t->root, &t->base, &t->baseSam)) return ERROR_INVALID_HANDLE;
    LONG rc = ERROR_SUCCESS;
    std::vector<std::string> below;
    if (subKey && *subKey && !splitPath(subKey, &below, &rc)) return rc;
    t->elements.clear();
    if (!t->base.empty()) splitPath(t->base, &t->elements, &rc);
    t->elements.insert(t->elements.end(), below.begin(), below.end());
    t->path = joinPath("", t->elements, t->elements.size());
    return ERROR_SUCCESS;
}

HKEY newHandle(int root, const std::string& path, REGSAM sam) {
    HKEY h = new Registry_Key{root, path, sam};
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    g_handles.insert(h);
    return h;
}

// The store seeded with the desktop's registration and folders.
Store seedStore() {
    Store s;
    auto set = [&](int root, const char* path, const char* name, DWORD type, std::string data) {
        std::vector<std::string> elements;
        LONG rc;
        splitPath(path, &elements, &rc);
        addKey(s, root, elements);
        Key* k = findKey(s, root, path);
        k->values.push_back({name, type, std::move(data)});
    };
    const int hkcr = 0, hkcu = 1, hklm = 2, hkcc = 3;
    set(hkcr, "http", "", REG_SZ, "URL:HyperText Transfer Protocol");
    set(hkcr, "http", "URL Protocol", REG_SZ, "");
    set(hkcr, "http\\shell\\open\\command", "", REG_SZ, "xdg-open \"%1\"");
    set(hkcr, "http\\shell\\open\\ddeexec", "", REG_SZ, "%1");
    set(hkcr, "http\\shell\\open\\ddeexec\\Application", "", REG_SZ, "Launcher");
    set(hkcr, "http\\shell\\open\\ddeexec\\Topic", "", REG_SZ, "WWW_OpenURL");

    // The XDG user folders: user-dirs.dirs, else the XDG defaults.
    std::string home = homeNative();
    std::string config = envOr("XDG_CONFIG_HOME", home + "/.config");
    std::string dirs;
    int fd = open((config + "/user-dirs.dirs").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        readWhole(fd, &dirs);
        close(fd);
    }
    auto userDir = [&](const char* var, const std::string& fallback) {
        std::string key = std::string(var) + "=\"";
        for (size_t p = 0; p < dirs.size();) {
            size_t e = dirs.find('\n', p);
            if (e == std::string::npos) e = dirs.size();
            std::string line = dirs.substr(p, e - p);
            p = e + 1;
            if (line.compare(0, key.size(), key) != 0 || line.size() < key.size() + 1) continue;
            std::string v = line.substr(key.size(), line.rfind('"') - key.size());
            if (v.compare(0, 5, "$HOME") == 0) v = home + v.substr(5);
            if (!v.empty() && v[0] == '/') return v;
        }
        return fallback;
    };
    const char* shellFolders =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const struct {
        const char* name;
        const char* var;
        std::string fallback;
    } folders[] = {{"Desktop", "XDG_DESKTOP_DIR", home + "/Desktop"},
                   {"Personal", "XDG_DOCUMENTS_DIR", home},
                   {"Templates", "XDG_TEMPLATES_DIR", home}};
    for (const auto& f : folders) {
        std::string native = userDir(f.var, f.fallback);
        if (!home.empty()) set(hkcu, shellFolders, f.name, REG_SZ, Fs_FromNative(native));
    }
    set(hklm, "Software\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", REG_SZ, "\\opt");
    set(hkcc, "Display\\Settings", "BitsPerPixel", REG_SZ, "24");
    return s;
}

}  // namespace

// ---- The calls ----

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM sam, HKEY* result) {
    if (result) *result = nullptr;
    if (!result) return ERROR_INVALID_PARAMETER;
    Target t;
    LONG rc = target(key, subKey, &t);
    if (rc != ERROR_SUCCESS) return rc;
    rc = withStore([&](Store& store, bool*) -> LONG {
        if (!keyExists(store, t.root, t.base)) return ERROR_KEY_DELETED;
        Key* k = t.path.empty() ? nullptr : findKey(store, t.root, t.path);
        if (!t.path.empty() && !k) return ERROR_FILE_NOT_FOUND;
        if (k) t.path = k->path;  // the stored spelling
        return ERROR_SUCCESS;
    });
    if (rc == ERROR_SUCCESS) *result = newHandle(t.root, t.path, sam);
    return rc;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM sam, const void*,
                     HKEY* result, DWORD* disposition) {
    if (result) *result = nullptr;
    if (!result) return ERROR_INVALID_PARAMETER;
    Target t;
    LONG rc = target(key, subKey, &t);
    if (rc != ERROR_SUCCESS) return rc;
    DWORD made = REG_OPENED_EXISTING_KEY;
    rc = withStore([&](Store& store, bool* changed) -> LONG {
        if (!keyExists(store, t.root, t.base)) return ERROR_KEY_DELETED;
        if (!keyExists(store, t.root, t.path)) {
            if (!(t.baseSam & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
            addKey(store, t.root, t.elements);
            made = REG_CREATED_NEW_KEY;
            *changed = true;
        }
        if (Key* k = findKey(store, t.root, t.path)) t.path = k->path;
        return ERROR_SUCCESS;
    });
    if (rc != ERROR_SUCCESS) return rc;
    *result = newHandle(t.root, t.path, sam);
    if (disposition) *disposition = made;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    int root;
    std::string path;
    REGSAM sam;
    if (!resolve(key, &root, &path, &sam)) return ERROR_INVALID_HANDLE;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    return withStore([&](Store& store, bool*) -> LONG {
        if (!keyExists(store, root, path)) return ERROR_KEY_DELETED;
        Key* k = findKey(store, root, path);
        Value* v = k ? findValue(*k, name) : nullptr;
        if (!v) return ERROR_FILE_NOT_FOUND;
        std::string bytes = v->data;
        if (v->type == REG_SZ) bytes += '\0';
        if (type) *type = v->type;
        if (!size) return ERROR_SUCCESS;
        DWORD room = *size;
        *size = static_cast<DWORD>(bytes.size());
        if (!data) return ERROR_SUCCESS;
        if (room < bytes.size()) return ERROR_MORE_DATA;
        memcpy(data, bytes.data(), bytes.size());
        return ERROR_SUCCESS;
    });
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    int root;
    std::string path;
    REGSAM sam;
    if (!resolve(key, &root, &path, &sam)) return ERROR_INVALID_HANDLE;
    if (!(sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (path.empty()) return ERROR_ACCESS_DENIED;  // a root holds no values of its own
    if (size && !data) return ERROR_INVALID_PARAMETER;
    std::string valueName = name ? name : "";
    if (valueName.find_first_of("\r\n") != std::string::npos) return ERROR_INVALID_PARAMETER;
    std::string bytes(
        reinterpret_cast<const char*>(data ? data : reinterpret_cast<const BYTE*>("")), size);
    if (type == REG_SZ) bytes.resize(strnlen(bytes.data(), bytes.size()));
    return withStore([&](Store& store, bool* changed) -> LONG {
        Key* k = findKey(store, root, path);
        if (!k) return ERROR_KEY_DELETED;
        if (Value* v = findValue(*k, valueName.c_str())) {
            v->type = type;
            v->data = bytes;
        } else {
            k->values.push_back({valueName, type, bytes});
        }
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    if (!resolve(key, nullptr, nullptr, nullptr)) return ERROR_INVALID_HANDLE;
    if (!subKey || !*subKey) return ERROR_ACCESS_DENIED;
    Target t;
    LONG rc = target(key, subKey, &t);
    if (rc != ERROR_SUCCESS) return rc;
    return withStore([&](Store& store, bool* changed) -> LONG {
        if (!keyExists(store, t.root, t.base)) return ERROR_KEY_DELETED;
        Key* k = findKey(store, t.root, t.path);
        if (!k) return ERROR_FILE_NOT_FOUND;
        if (!childrenOf(store, t.root, k->path).empty()) return ERROR_ACCESS_DENIED;
        store.keys.erase(store.keys.begin() + (k - store.keys.data()));
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegDeleteValueA(HKEY key, const char* name) {
    int root;
    std::string path;
    REGSAM sam;
    if (!resolve(key, &root, &path, &sam)) return ERROR_INVALID_HANDLE;
    if (!(sam & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    return withStore([&](Store& store, bool* changed) -> LONG {
        if (!keyExists(store, root, path)) return ERROR_KEY_DELETED;
        Key* k = findKey(store, root, path);
        Value* v = k ? findValue(*k, name) : nullptr;
        if (!v) return ERROR_FILE_NOT_FOUND;
        k->values.erase(k->values.begin() + (v - k->values.data()));
        *changed = true;
        return ERROR_SUCCESS;
    });
}

LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* size, DWORD*, char*, DWORD*, void*) {
    int root;
    std::string path;
    REGSAM sam;
    if (!resolve(key, &root, &path, &sam)) return ERROR_INVALID_HANDLE;
    if (!name || !size) return ERROR_INVALID_PARAMETER;
    return withStore([&](Store& store, bool*) -> LONG {
        if (!keyExists(store, root, path)) return ERROR_KEY_DELETED;
        std::vector<const Key*> children = childrenOf(store, root, path);
        if (index >= children.size()) return ERROR_NO_MORE_ITEMS;
        const std::string& full = children[index]->path;
        std::string last = path.empty() ? full : full.substr(path.size() + 1);
        if (*size < last.size() + 1) return ERROR_MORE_DATA;
        memcpy(name, last.c_str(), last.size() + 1);
        *size = static_cast<DWORD>(last.size());
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key) {
    if (rootIndex(key) >= 0) return ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        if (!key || !g_handles.erase(key)) return ERROR_INVALID_HANDLE;
    }
    delete key;
    return ERROR_SUCCESS;
}

std::string Registry_Path() {
    const char* env = getenv("TESSALY_REGISTRY");
    if (env && *env) return env;
    std::string home = homeNative();
    std::string config = envOr("XDG_CONFIG_HOME", home.empty() ? "" : home + "/.config");
    if (config.empty()) return "";
    return config + "/tessaly/registry.reg";
}

std::string Registry_SeedText() {
    return serialize(seedStore());
}

void Registry_SetWriteHook(void (*hook)(Registry_WriteStage stage)) {
    g_writeHook = hook;
}
