#include "app/updateinput.h"

#include <cstring>

#include "components/filex.h"
#include "components/strx.h"
#include "platform/fs.h"

namespace {
constexpr int kPathSize = UpdateInput_PathSize;
}  // namespace

const char* UpdateInput_Check(const char* folder, const char* kwf, char* folderOut, char* kwfOut) {
    if (Fs_Access(folder, Fs_Access_Exist) != 0) return "指定した調べる場所が存在しません";
    if (!FileX_IsDir(folder)) return "指定した調べる場所はフォルダではありません。";
    // A folder is at most 259 bytes (FileX_IsDir); with its backslash it must
    // still fit.
    char withSep[kPathSize + 2];
    StrX_CopyN(withSep, folder, kPathSize + 1);
    StrX_AddLastChar(withSep, '\\');
    if (strlen(withSep) >= static_cast<size_t>(kPathSize)) return "調べる場所のパスが長すぎます。";

    char path[kPathSize];
    const size_t kwfLen = strlen(kwf);
    if (!StrX_IsRelativePath(kwf)) {
        if (kwfLen >= static_cast<size_t>(kPathSize)) return "データベースのパスが長すぎます。";
        StrX_CopyN(path, kwf, sizeof path);
    } else {
        // A relative database name lies in the program folder, as every other
        // relative name does; the joined path holds 256 bytes at most
        // (StrX_AbsPathExe cuts a longer one).
        const char* exe = StrX_GetExePath();
        const size_t base = strlen(exe) - strlen(StrX_GetFileNamePtr(exe));
        if (base + kwfLen > 256) return "データベースのパスが長すぎます。";
        StrX_AbsPathExe(path, kwf, sizeof path);
    }
    if (FileX_IsDir(path)) return "データベースのパスがフォルダを指しています。";
    char dir[kPathSize];
    StrX_CopyN(dir, path, sizeof dir);
    StrX_CutFileName(dir);
    if (!dir[0] || !FileX_IsDir(dir) || Fs_Access(dir, Fs_Access_Write) != 0)
        return "データベースを置くフォルダが存在しないか、書きこめません。";

    StrX_CopyN(folderOut, withSep, kPathSize);
    StrX_CopyN(kwfOut, path, kPathSize);
    return nullptr;
}

const char* UpdateInput_Drop(const char* item, char* folder, char* kwf) {
    if (strlen(item) > static_cast<size_t>(UpdateInput_DropLimit))
        return "ドロップされたパスが長すぎます（250 バイトまで）。";
    StrX_CopyN(folder, item, kPathSize);
    if (!FileX_IsDir(folder)) StrX_CutFileName(folder);
    StrX_CopyN(kwf, folder, kPathSize);
    StrX_JoinPath(kwf, "vark.kwf");
    return nullptr;
}

std::string UpdateInput_PickedFolder(const std::string& nativePath) {
    const size_t slash = nativePath.rfind('/');
    if (slash == std::string::npos) return std::string();
    return slash == 0 ? std::string("/") : nativePath.substr(0, slash);
}
