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
// goes to a temporary file beside vark.ini that replaces it by a rename, so a
// crash never leaves half a file; a failed write reports
// FileX_Err_CannotWrite (365) and leaves the old file as it was.
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
// outframe.htm and help.htm whenever the installed ones differ from its own
// (vark.ini and out.htm are never touched). False, with a CP932 message in
// *message, when no folder can be used or its path is too long for
// "outframe.htm" (259 bytes).
bool VarkApp_FindFolders(VarkApp_Folders* folders, std::string* message);

// Writes a new vark.ini with the four defaults: Application "Tessaly!",
// Version 101, empty DefaultKwf and PrevURL.
void VarkIni_WriteDefault(const char* path);

// Reads DefaultKwf into out (260 bytes; the value is cut at 255).
void VarkIni_ReadDefaultKwf(const char* path, char* out);

// Reads PrevURL into out (512 bytes; the value is cut at 255).
void VarkIni_ReadPrevURL(const char* path, char* out);

// Sets PrevURL, keeping the other three values (all four are written as
// strings); creates the default file first when there is none. A DefaultKwf
// longer than the 255 bytes a rewrite can keep is not cut: the file is then
// left as it is and false returned. True when the file was rewritten.
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
