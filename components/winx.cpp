#include "components/winx.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "components/bigstack.h"
#include "components/errors.h"
#include "components/except3.h"
#include "components/filex.h"
#include "components/strx.h"
#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/process.h"

namespace {

constexpr int kPath = 260;
constexpr int kKeySize = 2048;  // a key name or a value read during registration
constexpr int kUrlSize = 512;   // the buffers of WinX_OpenURL
constexpr int kCmdSize = 256;   // the command of WinX_OpenWithAssoc
constexpr int kRequestWait = 1000;

// The places the DDE frames and their reports name.
constexpr int kLineProbeFrame = 898, kLineProbeInit = 903, kLineProbeHandles = 909;
constexpr int kLineExecFrame = 967, kLineExecInit = 972, kLineExecHandles = 978;
constexpr int kLineRequestFrame = 1036, kLineRequestInit = 1041, kLineRequestHandles = 1048;
constexpr int kLineRequestFailed = 1060;
constexpr int kLineDdeError = 1158;

const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\%s";
const BYTE kTypeFlags[4] = {0x00, 0x00, 0x01, 0x00};
const BYTE kTypeFlagsEditable[4] = {0x00, 0x00, 0x00, 0x00};
const BYTE kVerbFlags[4] = {0x01, 0x00, 0x00, 0x00};

char g_assocKey[kKeySize];  // WinX_ReadAssoc
char g_desktop[kPath], g_personal[kPath], g_templates[kPath], g_programFiles[kPath];
char g_winDir[kPath], g_tempFolder[kPath];
int g_startWait = 3000;

const char* const kDdeErrorNames[] = {
    "DMLERR_ADVACKTIMEOUT",       "DMLERR_BUSY",
    "DMLERR_DATAACKTIMEOUT",      "DMLERR_NOT_INITIALIZED",
    "DMLERR_DLL_USAGE",           "DMLERR_EXECACKTIMEOUT",
    "DMLERR_INVALIDPARAMETER",    "DMLERR_LOW_MEMORY",
    "DMLERR_MEMORY_ERROR",        "DMLERR_NOTPROCESSED",
    "DMLERR_NO_CONV_ESTABLISHED", "DMLERR_POKEACKTIMEOUT",
    "DMLERR_POSTMSG_FAILED",      "DMLERR_REENTRANCY",
    "DMLERR_SERVER_DIED",         "DMLERR_SYS_ERROR",
    "DMLERR_UNADVACKTIMEOUT",     "DMLERR_UNFOUND_QUEUE_ID",
};

// ---- Reports ----

// Reports a failed registry call with its result, facility and code.
void reportRegistry(int line, LONG rc) {
    uint32_t all = static_cast<uint32_t>(rc);
    Errors_Report(__FILE_NAME__, line, Errors_Unofficial.code, Errors_Unofficial.name,
                  "allcode = %08X (Facility=%d, Code=%d)", all, static_cast<int>(all >> 16 & 0xFFF),
                  static_cast<int>(all & 0xFFFF));
}
#define WINX_CHECK(rc)                                           \
    do {                                                         \
        LONG rc_ = (rc);                                         \
        if (rc_ != ERROR_SUCCESS) reportRegistry(__LINE__, rc_); \
    } while (0)

// Formats into out[0, size); a text that does not fit is reported (what it
// was meant to name, cut) and raised, never used cut.
void formatFit(int line, const char* what, char* out, int size, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
void formatFit(int line, const char* what, char* out, int size, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(out, static_cast<size_t>(size), format, ap);
    va_end(ap);
    if (n < 0 || n >= size)
        Errors_Report(__FILE_NAME__, line, Errors_Unofficial.code, Errors_Unofficial.name,
                      "%s too long: %s", what, out);
}
#define WINX_KEY(out, ...) formatFit(__LINE__, "key name", out, kKeySize, __VA_ARGS__)

// ---- Keys and scratch ----

// An open key that is closed when a raise leaves it behind; Close reports.
struct OpenKey {
    HKEY h = nullptr;
    OpenKey() = default;
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() {
        if (h) RegCloseKey(h);
    }
    void Close(int line) {
        HKEY k = h;
        h = nullptr;
        LONG rc = RegCloseKey(k);
        if (rc != ERROR_SUCCESS) reportRegistry(line, rc);
    }
};

// Creates (or opens) key below root for writing; reports a failure.
void createKey(OpenKey* key, HKEY root, const char* name, int line) {
    LONG rc = RegCreateKeyExA(root, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key->h, nullptr);
    if (rc != ERROR_SUCCESS) reportRegistry(line, rc);
}

void setText(HKEY key, const char* name, const char* text, int line) {
    LONG rc = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(strlen(text)));
    if (rc != ERROR_SUCCESS) reportRegistry(line, rc);
}

void setFlags(HKEY key, const BYTE* flags, int line) {
    LONG rc = RegSetValueExA(key, "EditFlags", 0, REG_BINARY, flags, 4);
    if (rc != ERROR_SUCCESS) reportRegistry(line, rc);
}

// Creates key below the classes root and sets its default value to text.
void setDefault(const char* key, const char* text, int line) {
    OpenKey k;
    createKey(&k, HKEY_CLASSES_ROOT, key, line);
    setText(k.h, nullptr, text, line);
    k.Close(line);
}

// Deletes key below root: true when deleted, false when it was not there;
// any other failure is reported.
bool deleteKey(HKEY root, const char* key, int line) {
    LONG rc = RegDeleteKeyA(root, key);
    if (rc == ERROR_FILE_NOT_FOUND) return false;
    if (rc != ERROR_SUCCESS) reportRegistry(line, rc);
    return true;
}

// Reads a text value with the plain calls, without reports: false when the
// key or value is missing, not text or does not fit.
bool readQuiet(HKEY root, const char* key, const char* name, char* out, int size) {
    out[0] = '\0';
    HKEY h;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS) return false;
    DWORD type = REG_NONE, n = static_cast<DWORD>(size);
    LONG rc = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(out), &n);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS || type != REG_SZ) {
        out[0] = '\0';
        return false;
    }
    return true;
}

char* scratch(BigStack* stack, int size) {
    char* p = static_cast<char*>(BigStack_Alloc(stack, static_cast<uint32_t>(size)));
    p[0] = '\0';
    return p;
}

// The inside form of a native path from the environment, in out[0, kPath);
// empty when the variable is unset, empty or does not fit.
const char* envPath(const char* name, char* out) {
    out[0] = '\0';
    const char* v = getenv(name);
    if (!v || !*v) return out;
    std::string inside = Fs_FromNative(v);
    if (inside.size() < kPath) memcpy(out, inside.c_str(), inside.size() + 1);
    return out;
}

// Appends arg to cmd[0, size) quoted so that the Windows splitting rules give
// it back unchanged; false when it does not fit.
bool appendQuotedArg(char* cmd, int size, const char* arg) {
    size_t n = strlen(cmd);
    auto put = [&](char c) {
        if (n + 1 >= static_cast<size_t>(size)) return false;
        cmd[n++] = c;
        cmd[n] = '\0';
        return true;
    };
    if (!put('"')) return false;
    size_t slashes = 0;
    for (const char* p = arg; *p; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (CodePage_IsLead(c) && p[1]) {
            if (!put(*p++) || !put(*p)) return false;
            slashes = 0;
            continue;
        }
        if (c == '"') {
            for (size_t i = 0; i < slashes + 1; i++)
                if (!put('\\')) return false;
        }
        if (!put(*p)) return false;
        slashes = c == '\\' ? slashes + 1 : 0;
    }
    for (size_t i = 0; i < slashes; i++)
        if (!put('\\')) return false;
    return put('"');
}

// Starts xdg-open on folder (the desktop's file manager).
int openFolder(const char* folder) {
    char cmd[kKeySize] = "xdg-open ";
    if (!appendQuotedArg(cmd, sizeof cmd, folder)) {
        ERRORS_REPORT(Errors_Unofficial, "command too long: %s", folder);
        return 0;
    }
    return WinExec(cmd, SW_SHOWNORMAL);
}

// Writes text to the stream with every double quote doubled (a VBScript
// string literal); false on a write error.
bool putVbsText(FILE* f, const char* text) {
    for (const char* p = text; *p; p++) {
        if (fputc(*p, f) == EOF) return false;
        if (*p == '"' && fputc('"', f) == EOF) return false;
    }
    return true;
}

// The DDE operations' frame: steps common to the probe, the execute and the
// request, with op(inst, service, topic, item, conv) as the operation's own
// step; op leaves in conv the conversation still to close.
template <class Op>
void ddeFrame(int frameLine, int initLine, int handlesLine, const char* service, const char* topic,
              bool withItem, Op&& op) {
    DWORD inst = 0;
    HSZ hService = nullptr, hTopic = nullptr, hItem = nullptr;
    bool initialised = false;
    // The clean-up frees what the body made on every way out; uninitialising
    // also frees what a raise left: the item handle, a reply, the conversation.
    Except3_Try(
        Except3_GetSys(), __FILE_NAME__, frameLine,
        [&] {
            if (DdeInitializeA(&inst, WinX_DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
                WinX_DdeError(inst, __FILE_NAME__, initLine);
            initialised = true;
            hService = DdeCreateStringHandleA(inst, service, CP_WINANSI);
            hTopic = DdeCreateStringHandleA(inst, topic, CP_WINANSI);
            if (withItem) hItem = DdeCreateStringHandleA(inst, "-1", CP_WINANSI);
            if (!hService || !hTopic) WinX_DdeError(inst, __FILE_NAME__, handlesLine);
            HCONV conv = DdeConnect(inst, hService, hTopic, nullptr);
            op(inst, hService, hTopic, hItem, conv);
            if (conv) DdeDisconnect(conv);
        },
        Except3_Rethrow,
        [&] {
            if (hItem) DdeFreeStringHandle(inst, hItem);
            if (hService) DdeFreeStringHandle(inst, hService);
            if (hTopic) DdeFreeStringHandle(inst, hTopic);
            if (initialised) DdeUninitialize(inst);
        });
}

// Starts cmdLine when no conversation is open, and connects again until the
// start wait passes.
void startAndConnect(const char* cmdLine, DWORD inst, HSZ hService, HSZ hTopic, HCONV& conv) {
    if (conv) return;
    if (WinExec(cmdLine, SW_SHOWNORMAL) > 31)
        conv = Dde_ConnectUntil(inst, hService, hTopic, g_startWait);
}

bool ddeExecute(const char* cmdLine, const char* service, const char* topic, const char* text,
                int len) {
    bool sent = false;
    ddeFrame(kLineExecFrame, kLineExecInit, kLineExecHandles, service, topic, false,
             [&](DWORD inst, HSZ hService, HSZ hTopic, HSZ, HCONV& conv) {
                 startAndConnect(cmdLine, inst, hService, hTopic, conv);
                 if (!conv) return;  // nothing more when the started program does not answer
                 sent = DdeClientTransaction(reinterpret_cast<const BYTE*>(text),
                                             static_cast<DWORD>(len < 0 ? 0 : len), conv, nullptr,
                                             0, XTYP_EXECUTE, TIMEOUT_ASYNC, nullptr) != nullptr;
             });
    return sent;
}

const char* topicOr(const WinX_Assoc* assoc, const char* topic) {
    return topic && *topic ? topic : assoc->topic;
}

// Reads one shell folder into its static buffer.
const char* shellFolder(HKEY root, const char* key, const char* name, char* out) {
    return WinX_RegRead(root, key, name, out, kPath);
}

}  // namespace

// ---- Registry text ----

char* WinX_RegRead(HKEY root, const char* key, const char* name, char* buf, int size) {
    OpenKey k;
    WINX_CHECK(RegOpenKeyExA(root, key, 0, KEY_READ, &k.h));
    DWORD type = REG_NONE, n = static_cast<DWORD>(size < 0 ? 0 : size);
    WINX_CHECK(RegQueryValueExA(k.h, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &n));
    // A value that is not text is not terminated by the store.
    if (type != REG_SZ && size > 0) buf[n < static_cast<DWORD>(size) ? n : size - 1] = '\0';
    k.Close(__LINE__);
    return buf;
}

// ---- Browser hand-off ----

void WinX_ReadAssoc(WinX_Assoc* assoc, const char* protocol) {
    WINX_KEY(g_assocKey, "%s\\shell\\open\\command", protocol);
    WinX_RegRead(HKEY_CLASSES_ROOT, g_assocKey, nullptr, assoc->command, sizeof assoc->command);
    WINX_KEY(g_assocKey, "%s\\shell\\open\\ddeexec\\Application", protocol);
    WinX_RegRead(HKEY_CLASSES_ROOT, g_assocKey, nullptr, assoc->application,
                 sizeof assoc->application);
    WINX_KEY(g_assocKey, "%s\\shell\\open\\ddeexec\\Topic", protocol);
    WinX_RegRead(HKEY_CLASSES_ROOT, g_assocKey, nullptr, assoc->topic, sizeof assoc->topic);
    WINX_KEY(g_assocKey, "%s\\shell\\open\\ddeexec", protocol);
    WinX_RegRead(HKEY_CLASSES_ROOT, g_assocKey, nullptr, assoc->ddeexec, sizeof assoc->ddeexec);
}

bool WinX_DdeProbe(WinX_Assoc* assoc) {
    return WinX_DdeCanConnect(assoc->application, assoc->topic);
}

void WinX_DdeRequest(WinX_Assoc* assoc, const char* topic, char* reply, int size) {
    WinX_DdeRequestText(assoc->command, assoc->application, topicOr(assoc, topic), reply, size);
}

bool WinX_DdeExecuteAssoc(WinX_Assoc* assoc, const char* topic, const char* text, int len) {
    return ddeExecute(assoc->command, assoc->application, topicOr(assoc, topic), text, len);
}

void WinX_OpenURL(const char* url) {
    Except3_WithScratch([&](BigStack* stack) {
        char* command = scratch(stack, kUrlSize);
        char* text = scratch(stack, kUrlSize);
        char* service = scratch(stack, kUrlSize);
        char* topic = scratch(stack, kUrlSize);
        WinX_RegRead(HKEY_CLASSES_ROOT, "http\\shell\\open\\command", nullptr, command, kUrlSize);
        WinX_RegRead(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec", nullptr, text, kUrlSize);
        WinX_RegRead(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec\\Application", nullptr, service,
                     kUrlSize);
        WinX_RegRead(HKEY_CLASSES_ROOT, "http\\shell\\open\\ddeexec\\Topic", nullptr, topic,
                     kUrlSize);
        // The url goes in whole or nothing is sent: a cut path or URL would
        // open another page.
        size_t count = 0;
        for (const char* p = text; (p = strstr(p, "%1")) != nullptr; p += 2) count++;
        const size_t len = strlen(text) - 2 * count + strlen(url) * count;
        if (len >= static_cast<size_t>(kUrlSize)) {
            ERRORS_REPORT(Errors_Unofficial, "ブラウザに渡すコマンドが長すぎます（%d バイト）。%s",
                          static_cast<int>(len), url);
            return;
        }
        StrX_ReplaceStr(text, kUrlSize, "%1", url);
        WinX_DdeExecute(command, service, topic, text, static_cast<int>(strlen(text)));
    });
}

bool WinX_DdeCanConnect(const char* service, const char* topic) {
    bool connected = false;
    ddeFrame(kLineProbeFrame, kLineProbeInit, kLineProbeHandles, service, topic, false,
             [&](DWORD, HSZ, HSZ, HSZ, HCONV& conv) {
                 if (!conv) return;
                 DdeDisconnect(conv);
                 conv = nullptr;
                 connected = true;
             });
    return connected;
}

void WinX_DdeExecute(const char* cmdLine, const char* service, const char* topic, const char* text,
                     int len) {
    ddeExecute(cmdLine, service, topic, text, len);
}

void WinX_DdeRequestText(const char* cmdLine, const char* service, const char* topic, char* reply,
                         int size) {
    ddeFrame(kLineRequestFrame, kLineRequestInit, kLineRequestHandles, service, topic, true,
             [&](DWORD inst, HSZ hService, HSZ hTopic, HSZ hItem, HCONV& conv) {
                 startAndConnect(cmdLine, inst, hService, hTopic, conv);
                 HDDEDATA data = DdeClientTransaction(nullptr, 0, conv, hItem, CF_TEXT,
                                                      XTYP_REQUEST, kRequestWait, nullptr);
                 if (!data) WinX_DdeError(inst, __FILE_NAME__, kLineRequestFailed);
                 DWORD n = 0;
                 const char* text = reinterpret_cast<const char*>(DdeAccessData(data, &n));
                 if (size > 0) {
                     size_t len = text ? strnlen(text, n) : 0;
                     if (len > static_cast<size_t>(size - 1)) len = static_cast<size_t>(size - 1);
                     memcpy(reply, text ? text : "", len);
                     reply[len] = '\0';
                 }
                 DdeUnaccessData(data);
                 DdeFreeDataHandle(data);
             });
}

const char* WinX_DdeErrorName(UINT code) {
    if (code < DMLERR_ADVACKTIMEOUT || code > DMLERR_UNFOUND_QUEUE_ID) return "unknown";
    return kDdeErrorNames[code - DMLERR_ADVACKTIMEOUT];
}

void WinX_DdeError(DWORD inst, const char* file, int line) {
    Errors_Report(__FILE_NAME__, kLineDdeError, Errors_Unofficial.code, Errors_Unofficial.name,
                  "WinX: DDE Error : %s in %s:%d", WinX_DdeErrorName(DdeGetLastError(inst)), file,
                  line);
}

HDDEDATA WinX_DdeCallback(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return type == XTYP_ADVDATA ? reinterpret_cast<HDDEDATA>(uintptr_t{DDE_FACK}) : nullptr;
}

int WinX_SetStartWait(int ms) {
    int old = g_startWait;
    g_startWait = ms;
    return old;
}

char* WinX_ReplyURL(const char* reply, char* out, int size) {
    if (size <= 0) return out;
    out[0] = '\0';
    if (!reply[0]) return out;
    const char* start = reply + 1;
    const char* end = strchr(start, '"');
    size_t len = end ? static_cast<size_t>(end - start) : strlen(start);
    if (len > static_cast<size_t>(size - 1)) len = static_cast<size_t>(size - 1);
    memcpy(out, start, len);
    out[len] = '\0';
    if (len >= 10 && strncmp(out, "file:///", 8) == 0 && out[9] == ':') out[9] = '|';
    return out;
}

// ---- Environment and shell folders ----

const char* WinX_GetWinDir() {
    return envPath("windir", g_winDir);
}

const char* WinX_GetTempFolder() {
    envPath("TEMP", g_tempFolder);
    if (StrX_LastSingleChar(g_tempFolder) == '\\') g_tempFolder[strlen(g_tempFolder) - 1] = '\0';
    return g_tempFolder;
}

bool WinX_HasWScript() {
    const char* dir = WinX_GetWinDir();
    char path[kPath];
    if (!*dir || snprintf(path, sizeof path, "%s\\WScript.exe", dir) >= kPath) return false;
    return Fs_Access(path, Fs_Access_Exist) == 0;
}

const char* WinX_GetDesktopFolder() {
    return shellFolder(HKEY_CURRENT_USER, kShellFolders, "Desktop", g_desktop);
}

const char* WinX_GetPersonalFolder() {
    return shellFolder(HKEY_CURRENT_USER, kShellFolders, "Personal", g_personal);
}

const char* WinX_GetTemplatesFolder() {
    return shellFolder(HKEY_CURRENT_USER, kShellFolders, "Templates", g_templates);
}

const char* WinX_GetProgramFilesFolder() {
    return shellFolder(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion",
                       "ProgramFilesDir", g_programFiles);
}

int WinX_GetBitsPerPixel() {
    char text[32];
    if (!readQuiet(HKEY_CURRENT_USER, "Display\\Settings", "BitsPerPixel", text, sizeof text))
        WinX_RegRead(HKEY_CURRENT_CONFIG, "Display\\Settings", "BitsPerPixel", text, sizeof text);
    return atoi(text);
}

// ---- Registration ----

void WinX_RegistFileType(const char* ext, const char* description, const char* verb,
                         const char* verbName, const char* command, const char* iconFile,
                         int iconIndex, bool makeDefault, bool editFlags) {
    Except3_WithScratch([&](BigStack* stack) {
        char* extKey = scratch(stack, kKeySize);
        char* type = scratch(stack, kKeySize);
        char* key = scratch(stack, kKeySize);
        WINX_KEY(extKey, ".%s", ext);
        // An extension without a (non-empty) type name gets "<ext>file".
        OpenKey extension;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, extKey, 0, KEY_READ, &extension.h) == ERROR_SUCCESS) {
            DWORD n = kKeySize, t = REG_NONE;
            LONG rc = RegQueryValueExA(extension.h, nullptr, nullptr, &t,
                                       reinterpret_cast<BYTE*>(type), &n);
            // A type name too long to read is the user's: refused, not replaced.
            if (rc == ERROR_MORE_DATA)
                ERRORS_REPORT(Errors_Unofficial, "key name too long: the type of %s", extKey);
            if (rc != ERROR_SUCCESS || t != REG_SZ) type[0] = '\0';
            extension.Close(__LINE__);
        }
        if (!type[0]) {
            WINX_KEY(type, "%sfile", ext);
            setDefault(extKey, type, __LINE__);
        }
        OpenKey typeKey;
        createKey(&typeKey, HKEY_CLASSES_ROOT, type, __LINE__);
        if (description) setText(typeKey.h, nullptr, description, __LINE__);
        setFlags(typeKey.h, editFlags ? kTypeFlagsEditable : kTypeFlags, __LINE__);
        typeKey.Close(__LINE__);
        if (iconIndex != -1) {
            char* icon = scratch(stack, kKeySize);
            formatFit(__LINE__, "icon", icon, kKeySize, "%s,%d", iconFile, iconIndex);
            WINX_KEY(key, "%s\\DefaultIcon", type);
            setDefault(key, icon, __LINE__);
        }
        if (makeDefault) {
            WINX_KEY(key, "%s\\shell", type);
            setDefault(key, verb, __LINE__);
        }
        WINX_KEY(key, "%s\\shell\\%s", type, verb);
        OpenKey verbKey;
        createKey(&verbKey, HKEY_CLASSES_ROOT, key, __LINE__);
        setText(verbKey.h, nullptr, verbName, __LINE__);
        setFlags(verbKey.h, kVerbFlags, __LINE__);
        verbKey.Close(__LINE__);
        WINX_KEY(key, "%s\\shell\\%s\\command", type, verb);
        setDefault(key, command, __LINE__);
    });
}

void WinX_UnregistFileType(const char* ext, const char* verb) {
    Except3_WithScratch([&](BigStack* stack) {
        char* extKey = scratch(stack, kKeySize);
        char* type = scratch(stack, kKeySize);
        char* key = scratch(stack, kKeySize);
        WINX_KEY(extKey, ".%s", ext);
        // An empty type name would name the classes root itself: it counts
        // as no type at all.
        if (!readQuiet(HKEY_CLASSES_ROOT, extKey, nullptr, type, kKeySize) || !type[0]) return;
        WINX_KEY(key, "%s\\shell\\%s\\command", type, verb);
        if (!deleteKey(HKEY_CLASSES_ROOT, key, __LINE__)) return;
        WINX_KEY(key, "%s\\shell\\%s", type, verb);
        deleteKey(HKEY_CLASSES_ROOT, key, __LINE__);
        WINX_KEY(key, "%s\\shell", type);
        OpenKey shell;
        createKey(&shell, HKEY_CLASSES_ROOT, key, __LINE__);
        setText(shell.h, nullptr, "open", __LINE__);
        char first[kPath];
        DWORD n = sizeof first;
        bool empty = RegEnumKeyExA(shell.h, 0, first, &n, nullptr, nullptr, nullptr, nullptr) ==
                     ERROR_NO_MORE_ITEMS;
        shell.Close(__LINE__);
        if (!empty) return;
        deleteKey(HKEY_CLASSES_ROOT, key, __LINE__);
        WINX_KEY(key, "%s\\DefaultIcon", type);
        deleteKey(HKEY_CLASSES_ROOT, key, __LINE__);
        deleteKey(HKEY_CLASSES_ROOT, type, __LINE__);
        deleteKey(HKEY_CLASSES_ROOT, extKey, __LINE__);
    });
}

void WinX_RegistFolderVerb(const char* verb, const char* verbName, const char* command,
                           bool makeDefault) {
    Except3_WithScratch([&](BigStack* stack) {
        char* key = scratch(stack, kKeySize);
        if (makeDefault) setDefault("Directory\\shell", verb, __LINE__);
        WINX_KEY(key, "Directory\\shell\\%s", verb);
        OpenKey verbKey;
        createKey(&verbKey, HKEY_CLASSES_ROOT, key, __LINE__);
        setText(verbKey.h, nullptr, verbName, __LINE__);
        setFlags(verbKey.h, kVerbFlags, __LINE__);
        verbKey.Close(__LINE__);
        WINX_KEY(key, "Directory\\shell\\%s\\command", verb);
        setDefault(key, command, __LINE__);
    });
}

void WinX_UnregistFolderVerb(const char* verb) {
    Except3_WithScratch([&](BigStack* stack) {
        char* key = scratch(stack, kKeySize);
        WINX_KEY(key, "Directory\\shell\\%s\\command", verb);
        if (!deleteKey(HKEY_CLASSES_ROOT, key, __LINE__)) return;
        WINX_KEY(key, "Directory\\shell\\%s", verb);
        deleteKey(HKEY_CLASSES_ROOT, key, __LINE__);
    });
}

void WinX_RegistShellNew(const char* ext, const char* fileName) {
    Except3_WithScratch([&](BigStack* stack) {
        char* key = scratch(stack, kKeySize);
        WINX_KEY(key, ".%s\\ShellNew", ext);
        if (fileName) {
            char* path = scratch(stack, kKeySize);
            WINX_KEY(path, "%s\\%s", WinX_GetTemplatesFolder(), fileName);
            if (Fs_Access(path, Fs_Access_Exist) != 0)
                ERRORS_REPORT(Errors_Unofficial, "file not found in ShellNew Folder");
        }
        OpenKey k;
        createKey(&k, HKEY_CLASSES_ROOT, key, __LINE__);
        setText(k.h, fileName ? "FileName" : "NullFile", fileName ? fileName : "", __LINE__);
        k.Close(__LINE__);
    });
}

void WinX_UnregistShellNew(const char* ext) {
    Except3_WithScratch([&](BigStack* stack) {
        char* key = scratch(stack, kKeySize);
        WINX_KEY(key, ".%s\\ShellNew", ext);
        deleteKey(HKEY_CLASSES_ROOT, key, __LINE__);
    });
}

void WinX_RegistUninstall(const char* keyName, const char* displayName, const char* command) {
    Except3_WithScratch([&](BigStack* stack) {
        char* key = scratch(stack, kKeySize);
        WINX_KEY(key, kUninstall, keyName);
        OpenKey k;
        createKey(&k, HKEY_LOCAL_MACHINE, key, __LINE__);
        setText(k.h, "DisplayName", displayName, __LINE__);
        setText(k.h, "UninstallString", command, __LINE__);
        k.Close(__LINE__);
    });
}

void WinX_UnregistUninstall(const char* keyName) {
    Except3_WithScratch([&](BigStack* stack) {
        char* key = scratch(stack, kKeySize);
        WINX_KEY(key, kUninstall, keyName);
        deleteKey(HKEY_LOCAL_MACHINE, key, __LINE__);
    });
}

// ---- Starting programs ----

int WinX_OpenWithAssoc(const char* path) {
    int result = 0;
    Except3_WithScratch([&](BigStack* stack) {
        char* key = scratch(stack, kKeySize);
        char* type = scratch(stack, kCmdSize);
        char* shell = scratch(stack, kKeySize);
        char* verb = scratch(stack, kCmdSize);
        char* command = scratch(stack, kCmdSize);
        WINX_KEY(key, ".%s", StrX_GetExt(path));
        WinX_RegRead(HKEY_CLASSES_ROOT, key, nullptr, type, kCmdSize);
        WINX_KEY(shell, "%s\\shell", type);
        if (!readQuiet(HKEY_CLASSES_ROOT, shell, nullptr, verb, kCmdSize) || !verb[0]) {
            strcpy(shell, "*\\shell");
            if (!readQuiet(HKEY_CLASSES_ROOT, shell, nullptr, verb, kCmdSize) || !verb[0]) {
                HKEY h;
                if (RegOpenKeyExA(HKEY_CLASSES_ROOT, shell, 0, KEY_READ, &h) == ERROR_SUCCESS) {
                    DWORD n = kCmdSize;
                    if (RegEnumKeyExA(h, 0, verb, &n, nullptr, nullptr, nullptr, nullptr) !=
                        ERROR_SUCCESS)
                        verb[0] = '\0';
                    RegCloseKey(h);
                }
            }
        }
        WINX_KEY(key, "%s\\%s\\command", shell, verb);
        WinX_RegRead(HKEY_CLASSES_ROOT, key, nullptr, command, kCmdSize);
        // The path goes in whole or the command is refused: a cut path
        // would open another file.
        size_t len = strlen(command), pathLen = strlen(path);
        if (StrX_FindLastStr(command, "%1")) {
            size_t count = 0;
            for (const char* p = command; (p = strstr(p, "%1")) != nullptr; p += 2) count++;
            len = len - 2 * count + pathLen * count;
            if (len < kCmdSize) StrX_ReplaceStr(command, kCmdSize, "%1", path);
        } else {
            len += 1 + pathLen;
            if (len < kCmdSize) {
                strcat(command, " ");
                strcat(command, path);
            }
        }
        if (len >= kCmdSize) ERRORS_REPORT(Errors_Unofficial, "command too long: %s", command);
        result = WinExec(command, SW_SHOWNORMAL);
    });
    return result;
}

int WinX_OpenFolder(const char* folder) {
    return openFolder(folder);
}

int WinX_ExploreFolder(const char* folder) {
    return openFolder(folder);
}

int WinX_RemoveProgramFolder(const char* folder) {
    const char* winDir = WinX_GetWinDir();
    const char* temp = WinX_GetTempFolder();
    if (!WinX_HasWScript() || !*temp) {
        MsgBox_Show(
            "アンインストール完了",
            "アンインストールが完了しました。\r\n\r\n"
            "ただし、実行ファイルのある（次に表示される）フォルダは、手動で削除してください。",
            MsgBox_OK, MsgBox_IconNone);
        return WinX_OpenFolder(folder);
    }
    int result = 0;
    Except3_WithScratch([&](BigStack* stack) {
        char* script = scratch(stack, kKeySize);
        char* cmd = scratch(stack, kKeySize);
        formatFit(__LINE__, "script path", script, kKeySize, "%s\\uninst.vbs", temp);
        // Made exclusively: a name that exists (a planted link too) is
        // refused rather than followed or overwritten.
        FILE* f = FileX_Open(script, "wtx");
        if (!f) return;
        bool ok = fputs("Set fs = CreateObject( \"Scripting.FileSystemObject\" )\n", f) >= 0 &&
                  fputs("On Error Resume Next\n", f) >= 0 && fputs("Do\n", f) >= 0 &&
                  fputs("  Err.Clear\n", f) >= 0 && fputs("  fs.DeleteFolder \"", f) >= 0 &&
                  putVbsText(f, folder) && fputs("\", True\n", f) >= 0 &&
                  fputs("Loop While Err.Number = 70 \n", f) >= 0 &&
                  fputs("MsgBox \"アンインストールが完了しました。\"\n", f) >= 0 &&
                  fputs("fs.DeleteFile \"", f) >= 0 && putVbsText(f, script) &&
                  fputs("\", True\n", f) >= 0 && fflush(f) == 0;
        ok = fclose(f) == 0 && ok;
        if (!ok) {
            Fs_Remove(script);
            ERRORS_REPORT(FileX_Err_CannotWrite, "%s の書きこみに失敗しました。", script);
            return;
        }
        Fs_SetCwd(winDir);
        formatFit(__LINE__, "command", cmd, kKeySize, "%s\\WScript.exe \"%s\"", winDir, script);
        result = WinExec(cmd, SW_SHOWNORMAL);
    });
    return result;
}
