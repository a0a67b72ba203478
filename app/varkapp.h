// Start-up of the application and the program settings file vark.ini.
//
// Both programs call VarkApp_InitLibrary once, first thing: the GUI from the
// main window's initialisation, tessaly-cli from main. Every block it binds is
// static in this module (the scratch stack's 65536 bytes, the message pool's
// 3920 bytes, the 10 try frames), so there is one set-up per process.
// Not thread-safe: call it before any other thread exists.
//
// vark.ini is a sectioned attribute file with one section "main" holding, in
// this order, Application, Version, DefaultKwf and PrevURL. The VarkIni
// operations take the full path of the file, take their buffers from the
// scratch stack under a mark of their own and report what the attribute-file
// reader and writer report (FileX_Err_CannotReadOpen 363, IniFile_Err_BadAttr
// 596, IniFile_Err_FewAttr 595, FileX_Err_CannotWriteOpen 362). A rewrite
// is made as the database's is: a new hidden file beside vark.ini (beside the
// target when vark.ini is a link, which stays a link) takes its mode and group
// and replaces it by a rename, so a crash never leaves half a file. A
// vark.ini the user may not write is refused with FileX_Err_CannotWriteOpen
// and left as it is; a failed write reports FileX_Err_CannotWrite (365) and
// leaves the old file as it was.
#pragma once

#include <string>

// Sets up the component library in this order: the scratch stack on its
// static 65536-byte block, the program folder, the error message pool of 5
// records on a static 3920-byte block, the frame stack with 10 static frames,
// and the raising error hook Except3_RaiseHook. The program folder is the
// folder of programFile (inside form), or of the running executable when it is
// null; vark.ini, out.htm and outframe.htm are resolved against it.
void VarkApp_InitLibrary(const char* programFile = nullptr);

// Where the GUI program keeps its files.
struct VarkApp_Folders {
    std::string programFile;     // inside form: "<program folder>\tessaly"
    std::string resourceFolder;  // native: where tessaly.rc, the icons and pages lie
};

// Decides the program folder. The folder of the executable when the
// resources lie beside it (tessaly.rc) and the folder is writable (a build
// tree, an unpacked copy). Otherwise (an installed program, resources in
// ../share/tessaly) the per-user folder $XDG_DATA_HOME/tessaly (by default
// ~/.local/share/tessaly), made when missing, which receives a copy of
// outframe.htm and help.htm whenever the installed ones differ from its own,
// and on the first start a vark.ini whose DefaultKwf is "vark.kwf" (the name
// the update dialog offers); a vark.ini that exists and out.htm are never
// touched. That first write sets up the library (VarkApp_InitLibrary). False,
// with a CP932 message in *message, when no folder can be used, its path is
// too long for "outframe.htm" (259 bytes) or the first vark.ini cannot be
// written.
bool VarkApp_FindFolders(VarkApp_Folders* folders, std::string* message);

// Writes a new vark.ini with the four defaults: Application "Tessaly!",
// Version 101, DefaultKwf (empty unless given) and an empty PrevURL.
void VarkIni_WriteDefault(const char* path, const char* defaultKwf = "");

// Reads DefaultKwf into out (260 bytes; the value is cut at 255).
void VarkIni_ReadDefaultKwf(const char* path, char* out);

// The size of a PrevURL buffer: the longest URL kept is 511 bytes.
inline constexpr int VarkIni_UrlSize = 512;

// Reads PrevURL into out (VarkIni_UrlSize bytes): every value the writer
// writes comes back whole; a longer hand-written one is cut at 511 bytes.
void VarkIni_ReadPrevURL(const char* path, char* out);

// Sets PrevURL, keeping the other three values (all four are written as
// strings); creates the default file first when there is none. Nothing is
// cut: a url of VarkIni_UrlSize bytes or more, or a DefaultKwf longer than
// the 255 bytes a rewrite can keep, leaves the file as it is and returns
// false. True when the file was rewritten.
bool VarkIni_WritePrevURL(const char* path, const char* url);

// ---- The owner of the library's process-wide state ----
//
// The scratch stack, the frame stack, the folder walk's table and the error
// core are unlocked and process-wide: one thread uses them at a time. The
// user-interface thread owns them until an update worker takes them over and
// gets them back when the worker hands them back. In a debug build
// VarkApp_CheckOwner ends the process with a message on standard error when
// the calling thread is not the owner; in a release build it does nothing.

// Makes the calling thread the owner (start-up, and the UI thread taking the
// state back from a finished worker).
void VarkApp_ClaimLibrary();
// Gives the state up: no thread owns it until the next claim.
void VarkApp_ReleaseLibrary();
// Checks that the calling thread owns the state; where names the caller.
void VarkApp_CheckOwner(const char* where);
