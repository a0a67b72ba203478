#include "app/varkapp.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <functional>
#include <thread>

#include "components/arrx.h"
#include "components/bigstack.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/filex.h"
#include "components/inifile.h"
#include "components/strx.h"
#include "platform/fs.h"

namespace {
// The message pool: 5 records of 784 bytes.
alignas(8) unsigned char g_msgPoolBlock[3920];
// The frame stack's storage.
Except3_Frame g_frames[10];

constexpr int kPathSize = 260;
// The line that holds the longest PrevURL written: the key, and the value
// quoted with every byte a doubled quote.
constexpr int kPrevUrlLine = 2 * VarkIni_UrlSize + 16;
constexpr const char* kPages[] = {"outframe.htm", "help.htm"};

// Writes vark.ini whole, the way the database is replaced: a new hidden file
// beside the one it replaces (at the target of a link, so the link stays),
// with its mode and group, put in its place by a rename. A file the user may
// not write is refused (FileX_Err_CannotWriteOpen) and left as it is; a
// failed write (FileX_Err_CannotWrite) leaves the old file and no new one.
void writeIni(const char* path, const char* application, const char* versionFormat,
              const void* version, const char* defaultKwf, const char* prevUrl) {
    char place[kPathSize];
    if (!Fs_ReplaceTarget(path, place, sizeof place)) {
        ERRORS_REPORT(FileX_Err_CannotWriteOpen, "書きこみモードで open できません。%s", path);
        return;
    }
    Fs_StatData old{};
    if (Fs_Stat(place, &old) &&
        (!old.isFile || old.readOnly || Fs_Access(place, Fs_Access_Write) != 0)) {
        ERRORS_REPORT(FileX_Err_CannotWriteOpen, "ファイル \"%s\" が書きこめません", path);
        return;
    }
    char temp[kPathSize];
    FILE* fp = Fs_CreateTemp(place, "wt", temp, sizeof temp);
    if (!fp) {
        ERRORS_REPORT(FileX_Err_CannotWriteOpen, "ファイル \"%s\" が書きこめません", path);
        return;
    }
    IniWriter writer{};
    IniFile_OpenWriteStream(&writer, fp, path);
    bool failed = false;  // a report returned (no hook installed)
    EXCEPT3_TRY(
        [&] {
            IniFile_WriteSection(&writer, "main");
            IniFile_WriteAttr(&writer, "Application", "s", application);
            if (versionFormat[0] == 'i')
                IniFile_WriteAttr(&writer, "Version", "i", *static_cast<const int*>(version));
            else
                IniFile_WriteAttr(&writer, "Version", "s", static_cast<const char*>(version));
            IniFile_WriteAttr(&writer, "DefaultKwf", "s", defaultKwf);
            IniFile_WriteAttr(&writer, "PrevURL", "s", prevUrl);
            if (!IniFile_CloseWrite(&writer)) {
                failed = true;
                return;
            }
            if (Fs_CommitTemp(temp, place) != 0) {
                failed = true;
                ERRORS_REPORT(FileX_Err_CannotWrite, "%s の書きこみに失敗しました。", path);
            }
        },
        [&] {
            if (writer.fp) fclose(writer.fp);
            writer.fp = nullptr;
            Fs_DiscardTemp(temp);
            Except3_Rethrow();
        });
    if (failed) {
        if (writer.fp) fclose(writer.fp);
        Fs_DiscardTemp(temp);
    }
}

// Copies a file when the target differs from it (or is missing), through a
// temporary file and a rename. False when it cannot be done.
bool refreshCopy(const std::string& from, const std::string& to) {
    auto slurp = [](const std::string& p, std::string* out) {
        FILE* f = fopen(p.c_str(), "rb");
        if (!f) return false;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
        bool ok = !ferror(f);
        fclose(f);
        return ok;
    };
    std::string source, current;
    if (!slurp(from, &source)) return false;
    if (slurp(to, &current) && current == source) return true;
    std::string tmp = to + ".tmp";
    FILE* f = fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = fwrite(source.data(), 1, source.size(), f) == source.size();
    ok = fflush(f) == 0 && ok;
    ok = fclose(f) == 0 && ok;
    if (ok && rename(tmp.c_str(), to.c_str()) == 0) return true;
    remove(tmp.c_str());
    return false;
}

bool nativeExists(const std::string& native, bool wantWrite) {
    std::string inside = Fs_FromNative(native);
    return Fs_Access(inside.c_str(), wantWrite ? Fs_Access_Write : Fs_Access_Exist) == 0;
}
}  // namespace

void VarkApp_InitLibrary(const char* programFile) {
    BigStack_InitSys();

    char exePath[kPathSize];
    if (programFile)
        StrX_CopyN(exePath, programFile, sizeof exePath);
    else
        Fs_GetExePath(exePath, sizeof exePath);
    StrX_SetExePath(exePath);

    ArrX_Able_Init(Errors_GetMsgPool(), g_msgPoolBlock, sizeof g_msgPoolBlock, sizeof(Errors_Msg),
                   0);
    Except3_Init(Except3_GetSys(), g_frames, sizeof g_frames);
    Errors_Callback = Except3_RaiseHook;
}

bool VarkApp_FindFolders(VarkApp_Folders* folders, std::string* message) {
    char exe[kPathSize];
    Fs_GetExePath(exe, sizeof exe);
    std::string exeNative = Fs_ToNative(exe);
    std::string exeFolder = exeNative.substr(0, exeNative.rfind('/'));
    std::string folder;
    if (nativeExists(exeFolder + "/tessaly.rc", false) && nativeExists(exeFolder, true)) {
        folders->resourceFolder = exeFolder;
        folder = exeFolder;
    } else {
        folders->resourceFolder = exeFolder + "/../share/tessaly";
        const char* data = getenv("XDG_DATA_HOME");
        std::string base;
        if (data && data[0] == '/') {
            base = data;
        } else {
            char home[kPathSize];
            if (!Fs_HomeDir(home, sizeof home)) {
                *message = "ホームフォルダが見つかりません。";
                return false;
            }
            base = Fs_ToNative(home) + "/.local/share";
        }
        folder = base + "/tessaly";
        // Each missing folder on the way, from the top down.
        for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
            std::string part = Fs_FromNative(folder.substr(0, slash));
            if (Fs_Access(part.c_str(), Fs_Access_Exist) != 0) Fs_MkDir(part.c_str());
            if (slash == std::string::npos) break;
        }
        if (!nativeExists(folder, true)) {
            *message = "フォルダ " + Fs_FromNative(folder) + " が作れません。";
            return false;
        }
        for (const char* page : kPages)
            refreshCopy(folders->resourceFolder + "/" + page, folder + "/" + page);
    }
    std::string inside = Fs_FromNative(folder);
    if (inside.size() + strlen("\\outframe.htm") >= kPathSize) {
        *message = "プログラムのフォルダのパスが長すぎます。";
        return false;
    }
    folders->programFile = inside + "\\tessaly";
    if (folders->resourceFolder != folder) {
        // The first start of an installed program: a vark.ini that opens the
        // database the update dialog offers to build, so that a build made
        // with its defaults opens at the next start. One that exists stays.
        const std::string ini = inside + "\\vark.ini";
        if (Fs_Access(ini.c_str(), Fs_Access_Exist) != 0) {
            VarkApp_InitLibrary(folders->programFile.c_str());
            bool written = true;
            EXCEPT3_TRY([&] { VarkIni_WriteDefault(ini.c_str(), "vark.kwf"); },
                        [&] { written = false; });
            if (!written) {
                *message = Except3_GetSys()->msg->text;
                return false;
            }
        }
    }
    return true;
}

void VarkIni_WriteDefault(const char* path, const char* defaultKwf) {
    const int version = 101;
    writeIni(path, "Tessaly!", "i", &version, defaultKwf, "");
}

namespace {
// Reads vark.ini's "main" section with a line buffer of lineSize bytes,
// stepping over the keys before `key`, and reads `key` as a string into out
// (cut to limit - 1 bytes).
void readKey(const char* path, int skip, const char* key, char* out, int lineSize, int limit) {
    static const char* const kKeys[] = {"Application", "Version", "DefaultKwf"};
    BigStack* bs = BigStack_Sys();
    BigStack_Push(bs);
    IniReader reader{};
    EXCEPT3_TRY(
        [&] {
            char* line = static_cast<char*>(BigStack_Alloc(bs, lineSize));
            IniFile_OpenRead(&reader, path, line, lineSize);
            IniFile_SetValueLimit(&reader, limit);
            IniFile_Read_setSection(&reader, "main");
            for (int i = 0; i < skip; ++i) IniFile_ReadAttr(&reader, kKeys[i], "-");
            IniFile_ReadAttr(&reader, key, "s", out);
            IniFile_CloseRead(&reader);
        },
        [&] {
            IniFile_CloseRead(&reader);
            BigStack_Pop(bs);
            Except3_Rethrow();
        });
    BigStack_Pop(bs);
}
}  // namespace

void VarkIni_ReadDefaultKwf(const char* path, char* out) {
    readKey(path, 2, "DefaultKwf", out, kPathSize, 256);
}

void VarkIni_ReadPrevURL(const char* path, char* out) {
    readKey(path, 3, "PrevURL", out, kPrevUrlLine, VarkIni_UrlSize);
}

bool VarkIni_WritePrevURL(const char* path, const char* url) {
    // What the reader could not hold whole is not written.
    if (strlen(url) >= static_cast<size_t>(VarkIni_UrlSize)) return false;
    if (Fs_Access(path, Fs_Access_Exist) != 0) VarkIni_WriteDefault(path);
    BigStack* bs = BigStack_Sys();
    BigStack_Push(bs);
    char* application = static_cast<char*>(BigStack_Alloc(bs, kPathSize));
    char* version = static_cast<char*>(BigStack_Alloc(bs, kPathSize));
    char* defaultKwf = static_cast<char*>(BigStack_Alloc(bs, kPathSize));
    char* line = static_cast<char*>(BigStack_Alloc(bs, kPathSize));
    // A DefaultKwf line that does not fit the line buffer would come back cut;
    // it is read once more with room to tell.
    char* wideLine = static_cast<char*>(BigStack_Alloc(bs, 1024));
    char* wide = static_cast<char*>(BigStack_Alloc(bs, 1024));
    bool fits = true;
    IniReader reader{};
    EXCEPT3_TRY(
        [&] {
            IniFile_OpenRead(&reader, path, line, kPathSize);
            IniFile_Read_setSection(&reader, "main");
            IniFile_ReadAttr(&reader, "Application", "s", application);
            IniFile_ReadAttr(&reader, "Version", "s", version);
            IniFile_ReadAttr(&reader, "DefaultKwf", "s", defaultKwf);
            IniFile_CloseRead(&reader);
            IniFile_OpenRead(&reader, path, wideLine, 1024);
            IniFile_SetValueLimit(&reader, 1024);
            IniFile_Read_setSection(&reader, "main");
            IniFile_ReadAttr(&reader, "Application", "-");
            IniFile_ReadAttr(&reader, "Version", "-");
            IniFile_ReadAttr(&reader, "DefaultKwf", "s", wide);
            IniFile_CloseRead(&reader);
            fits = strcmp(wide, defaultKwf) == 0;
            if (fits) writeIni(path, application, "s", version, defaultKwf, url);
        },
        [&] {
            IniFile_CloseRead(&reader);
            BigStack_Pop(bs);
            Except3_Rethrow();
        });
    BigStack_Pop(bs);
    return fits;
}

namespace {
// The owner as a number: 0 is nobody. Atomic because the worker and the UI
// thread both read it.
std::atomic<size_t> g_owner{0};

size_t selfId() {
    size_t id = std::hash<std::thread::id>{}(std::this_thread::get_id());
    return id ? id : 1;
}
}  // namespace

void VarkApp_ClaimLibrary() {
    g_owner.store(selfId());
}

void VarkApp_ReleaseLibrary() {
    g_owner.store(0);
}

void VarkApp_CheckOwner(const char* where) {
#ifndef NDEBUG
    size_t owner = g_owner.load();
    if (owner != 0 && owner != selfId()) {
        fprintf(stderr, "%s: the library's state belongs to another thread\n", where);
        std::abort();
    }
#else
    (void)where;
#endif
}
