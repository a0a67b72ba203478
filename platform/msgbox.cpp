#include "platform/msgbox.h"

#include <cstdio>

#include "platform/codepage.h"

namespace {
MsgBox_Stderr g_stderrBackend;
MsgBox_Backend* g_backend = &g_stderrBackend;
}  // namespace

int MsgBox_Show(const char* title, const char* text, int buttons, int icon) {
    return g_backend->Show(title ? title : "", text ? text : "", buttons, icon);
}

MsgBox_Backend* MsgBox_SetBackend(MsgBox_Backend* backend) {
    MsgBox_Backend* old = g_backend;
    g_backend = backend ? backend : &g_stderrBackend;
    return old;
}

int MsgBox_Stderr::Show(const char* title, const char* text, int, int) {
    std::string t = CodePage_SjisToUtf8(title), m = CodePage_SjisToUtf8(text);
    fprintf(stderr, "[%s] %s\n", t.c_str(), m.c_str());
    fflush(stderr);
    return MsgBox_IDOK;
}

int MsgBox_Recorder::Show(const char* title, const char* text, int buttons, int icon) {
    boxes.push_back({title, text, buttons, icon});
    if (echo) {
        std::string t = CodePage_SjisToUtf8(title), m = CodePage_SjisToUtf8(text);
        fprintf(stderr, "BOX[%s] %s\n", t.c_str(), m.c_str());
        fflush(stderr);
    }
    int answer = MsgBox_IDOK;
    if (!script.empty()) {
        answer = script.front();
        script.pop_front();
    }
    if (buttons == MsgBox_OK) answer = MsgBox_IDOK;
    return answer;
}
