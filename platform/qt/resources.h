// The resource script: dialog templates, the string table and the icons.
//
// The script (tessaly.rc, CP932 text) lies in the resource folder beside the
// icon files it names. One line per item:
//
//   DIALOG id width height "title"        starts a template (client size in
//   FONT points "face"                     dialog units), its font,
//   KIND id x y width height "text" FLAG…  one control per line,
//   END                                    and its end;
//   STRING id "text"                       one entry of the string table;
//   ICON id "file.png"                     one icon resource.
//
// KIND is STATIC, ICON (the text is the icon number), EDIT, BUTTON, DEFBUTTON
// or PROGRESS; FLAG is HIDDEN or AUTOHSCROLL. Lines starting with "//" and
// blank lines are skipped. Texts are CP932 and hold no double quote.
//
// The loaded resources are process-wide; load them on the user-interface
// thread before the first dialog is built. Not thread-safe.
#pragma once

#include <string>
#include <vector>

enum Res_Kind { Res_Static, Res_Icon, Res_Edit, Res_Button, Res_DefButton, Res_Progress };
inline constexpr unsigned Res_Hidden = 1;
inline constexpr unsigned Res_AutoHScroll = 2;

struct Res_Control {
    int id;
    Res_Kind kind;
    int x, y, cx, cy;  // dialog units
    std::string text;  // CP932
    unsigned flags;
};

struct Res_Dialog {
    int id;
    int cx, cy;         // client size, dialog units
    std::string title;  // CP932
    int fontPoints;
    std::string fontFace;  // CP932
    std::vector<Res_Control> controls;
};

// Reads <folder>/tessaly.rc (folder is native). Returns false, with a line
// number and reason in *error, when the file is missing or a line is not in
// the form above; the previous resources then stay loaded.
bool Res_Load(const std::string& nativeFolder, std::string* error);

// The folder the resources were loaded from (native); empty before Res_Load.
const std::string& Res_Folder();

// The template with this id, or nullptr.
const Res_Dialog* Res_FindDialog(int id);

// The string with this id (CP932); empty when there is none.
std::string Res_LoadString(int id);

// The native path of the icon file with this id; empty when there is none.
std::string Res_IconPath(int id);
