// The message-box window of the GUI program: a Qt message box with the
// box's title, text, icon and OK or OK/Cancel.
//
// Boxes asked for from another thread (the update worker) are shown on the
// user-interface thread through the blocking send, and the asking thread waits
// for the answer. Construct the backend on the user-interface thread.
#pragma once

#include <functional>

#include "platform/msgbox.h"

class QMessageBox;

class MsgBoxQt : public MsgBox_Backend {
   public:
    MsgBoxQt();
    int Show(const char* title, const char* text, int buttons, int icon) override;

    // Replaces the modal run of a box (tests answer it without a nested
    // loop); the function returns MsgBox_IDOK or MsgBox_IDCANCEL. nullptr
    // restores the default, which runs the box and maps the button pressed.
    static void SetModalHook(std::function<int(QMessageBox*)> hook);
};
