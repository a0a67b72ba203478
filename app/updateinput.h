// What a person gives the update dialog, checked before a build: the folder
// to scan and the database path, typed, dropped from a file manager or picked
// in a file dialog. The dialog shows the texts and the boxes; this module
// decides what they hold. No Qt here.
//
// Paths are inside form (CP932, backslashes) in caller buffers of
// UpdateInput_PathSize bytes. A relative database name lies in the program
// folder (StrX_GetExePath). The checks take scratch from the process-wide
// stack: call them on the thread that owns the library (the UI thread while
// no worker runs). Messages are static CP932 texts.
#pragma once

#include <string>

inline constexpr int UpdateInput_PathSize = 260;

// Checks the two texts of the dialog (every native path has an inside form,
// so nothing typed is refused for its characters). Returns nullptr when the build may
// run, with the folder ending in a backslash in folderOut and the absolute
// database path in kwfOut; otherwise the message of the first mistake, in
// this order (the outputs then untouched): a folder that does not exist; one that is not a folder;
// a folder that takes no backslash within 259 bytes; a database path of 260 bytes or more (a
// relative one: of more than 256 bytes once joined to the program folder, as StrX_AbsPathExe
// joins); a database path that names a folder; a database whose folder is missing, not a folder or
// not writable.
const char* UpdateInput_Check(const char* folder, const char* kwf, char* folderOut, char* kwfOut);

// The longest dropped path taken: its folder still takes "\vark.kwf" within
// 259 bytes.
inline constexpr int UpdateInput_DropLimit = 250;

// From a dropped item (only the first of a drop is given): the folder to scan
// (the item when it is a folder, else the folder that holds it) into folder,
// and that folder joined with "vark.kwf" into kwf. Returns nullptr, or the
// message when the item is longer than UpdateInput_DropLimit bytes (the
// outputs then untouched).
const char* UpdateInput_Drop(const char* item, char* folder, char* kwf);

// The folder of a file picked in the open-file dialog (a native path): the
// text before its last '/', "/" for a file in the root folder, empty for a
// name without '/'.
std::string UpdateInput_PickedFolder(const std::string& nativePath);
