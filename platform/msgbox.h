// Message boxes: a title, a text, OK or OK/Cancel, an icon kind -> the answer.
//
// Texts arrive in CP932. The backend is process-wide and chosen at start-up:
// standard error (the default; it prints the box in UTF-8 and answers OK),
// the Qt window of the GUI program, or a recorder in tests.
// Thread safety: MsgBox_Show may be called from any thread; switching the
// backend while a box is shown is not supported.
#pragma once

#include <deque>
#include <string>
#include <vector>

enum MsgBox_Buttons { MsgBox_OK = 0, MsgBox_OKCancel = 1 };
enum MsgBox_Icon { MsgBox_IconNone = 0, MsgBox_IconError, MsgBox_IconWarning, MsgBox_IconInfo };
enum MsgBox_Answer { MsgBox_IDOK = 1, MsgBox_IDCANCEL = 2 };

class MsgBox_Backend {
   public:
    virtual ~MsgBox_Backend() = default;
    // Shows one box and returns MsgBox_IDOK or MsgBox_IDCANCEL.
    virtual int Show(const char* title, const char* text, int buttons, int icon) = 0;
};

// Shows a box through the current backend; returns its answer.
int MsgBox_Show(const char* title, const char* text, int buttons, int icon);

// Makes backend the current one (nullptr restores standard error) and returns
// the one it replaces. The backend is not owned.
MsgBox_Backend* MsgBox_SetBackend(MsgBox_Backend* backend);

// The standard-error backend: "[title] text" in UTF-8, answered OK.
class MsgBox_Stderr : public MsgBox_Backend {
   public:
    int Show(const char* title, const char* text, int buttons, int icon) override;
};

// The test backend: keeps every box and answers from a script (OK once the
// script runs out). With echo on, each box is also printed to standard error
// in UTF-8 as "BOX[title] text", so a child process that dies can be checked.
class MsgBox_Recorder : public MsgBox_Backend {
   public:
    struct Box {
        std::string title, text;  // CP932, as shown
        int buttons, icon;
    };
    std::vector<Box> boxes;
    std::deque<int> script;
    bool echo = false;

    int Show(const char* title, const char* text, int buttons, int icon) override;
};
