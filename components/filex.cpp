#include "components/filex.h"

#include <cstring>

#include "components/errors.h"
#include "platform/fs.h"

FILE* FileX_Open(const char* path, const char* mode) {
    FILE* f = Fs_Open(path, mode);
    if (f) return f;
    if (strchr(mode, 'w'))
        ERRORS_REPORT(FileX_Err_CannotWriteOpen, "ファイル \"%s\" が書きこめません", path);
    else
        ERRORS_REPORT(FileX_Err_CannotReadOpen, "ファイル \"%s\" が見つかりません", path);
    return nullptr;
}
