// Windows integration: the hand-off to the web browser, and the registry and
// shell helpers.
//
// The browser registered for the "http" protocol is reached as a DDE service
// (platform/dde.h) whose service, topic, execute text and command line are
// read from the registry (platform/registry.h). Asking for the page the
// browser shows and handing it a page each open their own DDE instance and
// close it before they return; a browser that does not answer is started
// with its registered command line (platform/process.h) and the conversation
// is tried again until a short deadline (WinX_SetStartWait).
//
// The registry and shell helpers read the user's shell folders and a few
// environment settings, register and remove file types, folder verbs,
// new-file templates and an uninstall entry, open a file with its associated
// program or a folder (with xdg-open), and remove an installed program folder
// through a generated script.
//
// Texts are CP932. Key names are formatted into 2048-byte scratch buffers
// (BigStack_Sys(), released on every way out); a key name or command that
// does not fit its buffer is refused with Errors_Unofficial (102, "key name
// too long: %s" / "command too long: %s"), never cut into another name.
// Static buffers: the key-name buffer of WinX_ReadAssoc, one 260-byte result
// per folder getter and one for WinX_GetTempFolder, so none of these is
// re-entrant. Everything here runs on one thread at a time.
//
// Errors raised (through the error core, to the innermost try frame):
//   Errors_Unofficial (102) "allcode = %08X (Facility=%d, Code=%d)" for a
//     registry call that fails (result, its bits 16-27, its bits 0-15);
//   Errors_Unofficial (102) "WinX: DDE Error : %s in %s:%d" from WinX_DdeError
//     (the DDE error's name, the calling file and line);
//   Errors_Unofficial (102) "file not found in ShellNew Folder";
//   FileX_Err_CannotWriteOpen (362) when the uninstall script cannot be made,
//     FileX_Err_CannotWrite (365) when it cannot be written whole;
//   BigStack_Full (281) when the scratch stack has no room.
#pragma once

#include "platform/dde.h"
#include "platform/registry.h"

// The registration of a protocol's open command and its DDE names.
struct WinX_Assoc {
    char command[260];      // "<protocol>\shell\open\command"
    char application[256];  // "<protocol>\shell\open\ddeexec\Application"
    char topic[256];        // "<protocol>\shell\open\ddeexec\Topic"
    char ddeexec[256];      // "<protocol>\shell\open\ddeexec"
};

// ---- Registry text ----

// Reads the text value name (null: the key's default value) of key below root
// into buf, at most size bytes with its NUL. Each of opening, querying and
// closing that fails is reported with its result code (a value that does not
// fit in size is reported as result 234). Returns buf.
char* WinX_RegRead(HKEY root, const char* key, const char* name, char* buf, int size);

// ---- Browser hand-off ----

// Fills the four fields from the registration of protocol below the classes
// root; a missing key or value is reported by WinX_RegRead.
void WinX_ReadAssoc(WinX_Assoc* assoc, const char* protocol);

// True when a conversation with the record's application and topic can be
// opened now (it is closed again at once).
bool WinX_DdeProbe(WinX_Assoc* assoc);

// Asks the record's application, on topic (null or empty: the record's
// topic), for the text of item "-1" into reply[0, size) (cut to size - 1
// bytes, always terminated); starts the program first when needed.
void WinX_DdeRequest(WinX_Assoc* assoc, const char* topic, char* reply, int size);

// The execute counterpart of WinX_DdeRequest: sends len bytes of text to the
// record's application on topic (null or empty: the record's topic),
// starting the program when needed. Returns true when a conversation was
// opened and the text handed to it.
bool WinX_DdeExecuteAssoc(WinX_Assoc* assoc, const char* topic, const char* text, int len);

// Hands url (a URL or an inside path, as given) to the "http" browser: reads
// its registration, puts url in place of every "%1" of the execute text and
// sends it with WinX_DdeExecute. An execute text that would pass 511 bytes is
// not cut: Errors_Unofficial (102) is reported and nothing is sent.
void WinX_OpenURL(const char* url);

// True when a conversation with service on topic can be opened now.
bool WinX_DdeCanConnect(const char* service, const char* topic);

// Sends len bytes of text to service on topic without waiting for it to be
// carried out. When no conversation opens, starts cmdLine and tries again
// until the start wait passes; when none opens then, nothing is sent.
void WinX_DdeExecute(const char* cmdLine, const char* service, const char* topic, const char* text,
                     int len);

// Requests item "-1" as text from service on topic (waiting 1000 ms for the
// reply) into reply[0, size): at most size - 1 bytes and a NUL. Starts cmdLine
// as WinX_DdeExecute does; a failed request is reported with WinX_DdeError.
void WinX_DdeRequestText(const char* cmdLine, const char* service, const char* topic, char* reply,
                         int size);

// Reports the last DDE error of inst as "WinX: DDE Error : %s in %s:%d" with
// its name (WinX_DdeErrorName), file and line.
void WinX_DdeError(DWORD inst, const char* file, int line);

// The name of a DDE error code: "DMLERR_ADVACKTIMEOUT" ... "DMLERR_UNFOUND_QUEUE_ID"
// for 0x4000 to 0x4011, "unknown" for any other value.
const char* WinX_DdeErrorName(UINT code);

// The instances' callback: DDE_FACK for XTYP_ADVDATA, 0 for every other type.
HDDEDATA WinX_DdeCallback(UINT type, UINT fmt, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                          ULONG_PTR data1, ULONG_PTR data2);

// Sets how long, in ms, a started program is given to begin to answer
// (3000 at start). Returns the previous value.
int WinX_SetStartWait(int ms);

// Copies the page URL out of a WWW_GetWindowInfo reply ("URL","title",...):
// the text after the first byte up to the next double quote (the rest when
// there is none; empty for an empty reply), cut to size - 1 bytes; a URL
// beginning "file:///" whose byte at index 9 is ':' gets '|' there. Returns
// out.
char* WinX_ReplyURL(const char* reply, char* out, int size);

// ---- Environment and shell folders ----

// The environment variable "windir"; empty when it is not set.
const char* WinX_GetWinDir();
// The environment variable "TEMP" without one trailing backslash, in a
// 260-byte static buffer (cut); empty when it is not set.
const char* WinX_GetTempFolder();
// True when "WScript.exe" exists in the Windows folder (false without one).
bool WinX_HasWScript();

// The shell folders of the current user ("Desktop", "Personal", "Templates"
// below "Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders")
// and "ProgramFilesDir" of the local machine, each in a 260-byte static
// buffer; a missing key or value is reported.
const char* WinX_GetDesktopFolder();
const char* WinX_GetPersonalFolder();
const char* WinX_GetTemplatesFolder();
const char* WinX_GetProgramFilesFolder();

// "BitsPerPixel" of "Display\Settings" under the current user, else under
// the current configuration (whose failure is reported), as a number.
int WinX_GetBitsPerPixel();

// ---- Registration ----

// Registers a file type for extension (without its dot): the type name is
// the extension key's default value, or "<ext>file" (the extension key is
// made with it) when there is none; the type key gets description (when not
// null) and "EditFlags" 00 00 01 00 (four zero bytes with editFlags); its
// "DefaultIcon" "<iconFile>,<iconIndex>" unless iconIndex is -1; with
// makeDefault its "shell" default is verb; "shell\<verb>" gets verbName and
// "EditFlags" 01 00 00 00; "shell\<verb>\command" gets command.
void WinX_RegistFileType(const char* ext, const char* description, const char* verb,
                         const char* verbName, const char* command, const char* iconFile,
                         int iconIndex, bool makeDefault, bool editFlags);

// Removes verb of the type of extension: nothing when the extension has no
// key, an empty type name or no such verb; otherwise the verb's keys go, the
// type's default verb becomes "open", and when no verb is left the type's
// "shell", "DefaultIcon", the type key and the extension key go too.
void WinX_UnregistFileType(const char* ext, const char* verb);

// Registers verb for folders ("Directory\shell\<verb>" with verbName and
// "EditFlags" 01 00 00 00, its "command" with command); with makeDefault
// "Directory\shell" gets verb as default.
void WinX_RegistFolderVerb(const char* verb, const char* verbName, const char* command,
                           bool makeDefault);
// Removes a folder verb; nothing when it is not registered.
void WinX_UnregistFolderVerb(const char* verb);

// Registers a new-file template for extension: with fileName (which must
// exist in the Templates folder) ".<ext>\ShellNew" gets "FileName", without
// it an empty "NullFile".
void WinX_RegistShellNew(const char* ext, const char* fileName);
// Removes ".<ext>\ShellNew"; nothing when it is not there.
void WinX_UnregistShellNew(const char* ext);

// Makes the uninstall key of keyName with "DisplayName" and "UninstallString".
void WinX_RegistUninstall(const char* keyName, const char* displayName, const char* command);
// Removes the uninstall key of keyName; nothing when it is not there.
void WinX_UnregistUninstall(const char* keyName);

// ---- Starting programs ----

// Starts the program associated with path's extension (its type's default
// verb, else the first verb of "*\shell") with path in place of every "%1"
// of the command, or after it following one blank when it has none. Returns
// the start's result (greater than 31 on success).
int WinX_OpenWithAssoc(const char* path);

// Opens folder in the desktop's file manager (xdg-open "<folder>"); returns
// the start's result.
int WinX_OpenFolder(const char* folder);
// The same (the desktop has no separate tree view to ask for).
int WinX_ExploreFolder(const char* folder);

// Removes an installed program folder. Without WScript.exe in the Windows
// folder (or without a TEMP folder): shows the box "アンインストール完了" and
// opens the folder with WinX_OpenFolder. Otherwise writes the script
// "uninst.vbs" in the TEMP folder (made exclusively: an existing name, also a
// link, is refused), makes the Windows folder current and starts WScript.exe
// on the script. Returns the start's result.
int WinX_RemoveProgramFolder(const char* folder);
