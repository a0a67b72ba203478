// The message-box window: texts, buttons and answers, from either thread.

#include <QMessageBox>
#include <atomic>
#include <thread>

#include "guisupport.h"
#include "platform/qt/msgboxqt.h"
#include "platform/qt/uicall.h"

namespace {

struct Seen {
    std::string title, text;
    int buttons = 0;
    bool onUiThread = false;
};

TEST(MsgBoxQtTest, ShowsTheBoxOnTheUiThreadAndReturnsTheAnswer) {
    struct Case {
        const char* name;
        bool fromWorker;
        int buttons, answer, expected;
    };
    const Case cases[] = {
        {"OK/Cancel answered Cancel", false, MsgBox_OKCancel, MsgBox_IDCANCEL, MsgBox_IDCANCEL},
        {"OK/Cancel answered OK", false, MsgBox_OKCancel, MsgBox_IDOK, MsgBox_IDOK},
        {"an OK box is always OK", false, MsgBox_OK, MsgBox_IDCANCEL, MsgBox_IDOK},
        {"from the worker, answered Cancel", true, MsgBox_OKCancel, MsgBox_IDCANCEL,
         MsgBox_IDCANCEL},
    };
    MsgBoxQt backend;
    const std::string shown = U8(u8"表示できません /home/café.htm");
    for (const Case& c : cases) {
        Seen seen;
        MsgBoxQt::SetModalHook([&](QMessageBox* box) {
            seen = {box->windowTitle().toStdString(), box->text().toStdString(),
                    static_cast<int>(box->buttons().size()), UiCall_OnUiThread()};
            return c.answer;
        });
        std::atomic<int> result{0};
        auto show = [&] {
            result = backend.Show(Sjis(u8"エラーメッセージ").c_str(),
                                  (Sjis(u8"表示できません ") + "\\home\\caf%C3%A9.htm").c_str(),
                                  c.buttons, MsgBox_IconError);
        };
        if (c.fromWorker) {
            std::thread worker(show);
            // The UI thread keeps its loop running until the worker has its answer.
            EXPECT_TRUE(QTest::qWaitFor([&] { return result != 0; }, 10000)) << c.name;
            worker.join();
        } else {
            show();
        }
        EXPECT_EQ(result.load(), c.expected) << c.name;
        EXPECT_EQ(seen.title, U8(u8"エラーメッセージ")) << c.name;
        // A path in the text is shown in its native form.
        EXPECT_EQ(seen.text, shown) << c.name;
        EXPECT_EQ(seen.buttons, c.buttons == MsgBox_OKCancel ? 2 : 1) << c.name;
        EXPECT_TRUE(seen.onUiThread) << c.name;
    }
    MsgBoxQt::SetModalHook(nullptr);
}

}  // namespace
