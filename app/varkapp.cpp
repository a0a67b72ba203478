#include "app/varkapp.h"

#include "components/arrx.h"
#include "components/bigstack.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/strx.h"
#include "platform/fs.h"

namespace {
// The message pool: 5 records of 784 bytes.
alignas(8) unsigned char g_msgPoolBlock[3920];
// The frame stack's storage.
Except3_Frame g_frames[10];
}  // namespace

void VarkApp_InitLibrary() {
    BigStack_InitSys();

    char exePath[260];
    Fs_GetExePath(exePath, sizeof exePath);
    StrX_SetExePath(exePath);

    ArrX_Able_Init(Errors_GetMsgPool(), g_msgPoolBlock, sizeof g_msgPoolBlock, sizeof(Errors_Msg),
                   0);
    Except3_Init(Except3_GetSys(), g_frames, sizeof g_frames);
    Errors_Callback = Except3_RaiseHook;
}
