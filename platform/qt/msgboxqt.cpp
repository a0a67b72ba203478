#include "platform/qt/msgboxqt.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "platform/fs.h"
#include "platform/qt/dialog.h"
#include "platform/qt/uicall.h"

namespace {
std::function<int(QMessageBox*)> g_modalHook;

int showOnUiThread(const char* title, const char* text, int buttons, int icon) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(Dlg_QText(title));
    // Paths in their native form, as the command-line tool shows them.
    box.setText(QString::fromStdString(Fs_ToNative(text)));
    box.setTextFormat(Qt::PlainText);
    static const QMessageBox::Icon kIcons[] = {QMessageBox::NoIcon, QMessageBox::Critical,
                                               QMessageBox::Warning, QMessageBox::Information};
    box.setIcon(icon >= 0 && icon < 4 ? kIcons[icon] : QMessageBox::NoIcon);
    QPushButton* cancel = nullptr;
    box.addButton(QMessageBox::Ok);
    if (buttons == MsgBox_OKCancel) cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Ok);
    if (g_modalHook) {
        int answer = g_modalHook(&box);
        return buttons == MsgBox_OKCancel ? answer : MsgBox_IDOK;
    }
    box.exec();
    return cancel && box.clickedButton() == static_cast<QAbstractButton*>(cancel) ? MsgBox_IDCANCEL
                                                                                  : MsgBox_IDOK;
}
}  // namespace

MsgBoxQt::MsgBoxQt() {
    UiCall_Init();
}

int MsgBoxQt::Show(const char* title, const char* text, int buttons, int icon) {
    return static_cast<int>(
        UiCall_Send([&]() -> intptr_t { return showOnUiThread(title, text, buttons, icon); }));
}

void MsgBoxQt::SetModalHook(std::function<int(QMessageBox*)> hook) {
    g_modalHook = std::move(hook);
}
