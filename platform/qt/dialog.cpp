#include "platform/qt/dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

#include "platform/codepage.h"
#include "platform/fs.h"
#include "platform/msgbox.h"
#include "platform/qt/uicall.h"

namespace {
Dlg_FileDialogFunc g_fileDialog;
std::function<void(DlgBase*)> g_shownHook;
std::function<QAction*(QMenu*, const QPoint&)> g_menuHook;

// Windows' MulDiv: a * b / c rounded half away from zero.
int mulDiv(int a, int b, int c) {
    long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

bool defaultFileDialog(QWidget* parent, Dlg_FileRequest* request) {
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(request->save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromStdString(request->defaultExt));
    dialog.selectFile(Dlg_QText(request->initialName.c_str()));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    request->path = dialog.selectedFiles().first().toStdString();
    return true;
}

QPixmap iconPixmap(int iconId) {
    QPixmap pixmap(QString::fromStdString(Res_IconPath(iconId)));
    if (!pixmap.isNull() && pixmap.width() != 32)
        pixmap = pixmap.scaled(32, 32, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return pixmap;
}
}  // namespace

QString Dlg_QText(const char* sjis) {
    return QString::fromStdString(CodePage_SjisToUtf8(sjis ? sjis : ""));
}

std::string Dlg_SjisText(const QString& text, bool* exact) {
    return CodePage_Utf8ToSjis(text.toStdString(), exact);
}

QFont Dlg_TemplateFont(const Res_Dialog& dialog) {
    QFont font;
    // The template's face first; fontconfig maps it when it knows an alias,
    // else the installed Japanese sans-serif faces take over.
    font.setFamilies({Dlg_QText(dialog.fontFace.c_str()), "MS PGothic", "IPAPGothic", "IPAGothic",
                      "Noto Sans CJK JP", "VL PGothic", "sans-serif"});
    font.setPointSize(dialog.fontPoints > 0 ? dialog.fontPoints : 9);
    return font;
}

DlgBase::DlgBase(int templateId, QWidget* parent)
    : QDialog(parent), m_templateId(templateId), m_template(Res_FindDialog(templateId)) {
    UiCall_Init();
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
}

DlgBase::~DlgBase() = default;

QRect DlgBase::ToPixels(int x, int y, int cx, int cy) const {
    return QRect(mulDiv(x, m_baseX, 4), mulDiv(y, m_baseY, 8), mulDiv(cx, m_baseX, 4),
                 mulDiv(cy, m_baseY, 8));
}

void DlgBase::BuildControls() {
    if (m_built || !m_template) return;
    m_built = true;
    QFont font = Dlg_TemplateFont(*m_template);
    setFont(font);
    QFontMetrics metrics(font);
    // Qt's averageCharWidth misreports for CJK fonts; the Windows rule measures the letters.
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_baseX = (letters + 26) / 52;
    m_baseY = metrics.height();
    setWindowTitle(Dlg_QText(m_template->title.c_str()));
    setFixedSize(ToPixels(0, 0, m_template->cx, m_template->cy).size());

    QLabel* pendingBuddy = nullptr;
    for (const Res_Control& c : m_template->controls) {
        QWidget* w = nullptr;
        QRect rect = ToPixels(c.x, c.y, c.cx, c.cy);
        switch (c.kind) {
            case Res_Static: {
                auto* label = new QLabel(Dlg_QText(c.text.c_str()), this);
                label->setWordWrap(true);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                if (c.text.find('&') != std::string::npos) pendingBuddy = label;
                w = label;
                break;
            }
            case Res_Icon: {
                auto* label = new QLabel(this);
                int iconId = atoi(c.text.c_str());
                label->setPixmap(iconPixmap(iconId));
                m_icons[c.id] = iconId;
                rect.setSize(QSize(32, 32));
                w = label;
                break;
            }
            case Res_Edit: {
                auto* edit = new QLineEdit(Dlg_QText(c.text.c_str()), this);
                const int id = c.id;
                connect(edit, &QLineEdit::textChanged, this, [this, id] { OnEditChange(id); });
                if (pendingBuddy) pendingBuddy->setBuddy(edit);
                pendingBuddy = nullptr;
                w = edit;
                break;
            }
            case Res_Button:
            case Res_DefButton: {
                auto* button = new QPushButton(Dlg_QText(c.text.c_str()), this);
                button->setAutoDefault(false);
                button->setDefault(c.kind == Res_DefButton);
                const int id = c.id;
                connect(button, &QPushButton::clicked, this, [this, id] {
                    if (id == IDOK)
                        OnOK();
                    else if (id == IDCANCEL)
                        OnCancel();
                    else
                        OnCommand(id);
                });
                w = button;
                break;
            }
            case Res_Progress: {
                auto* bar = new QProgressBar(this);
                bar->setTextVisible(false);
                bar->setRange(0, 100);
                bar->setValue(0);
                w = bar;
                break;
            }
        }
        w->setGeometry(rect);
        if (c.flags & Res_Hidden) w->hide();
        if (c.id != -1) m_items[c.id] = w;
    }
}

int DlgBase::DoModal() {
    BuildControls();
    if (OnInitDialog()) {
        // The first control that takes the focus gets it, as the platform does.
        for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->focusPolicy() != Qt::NoFocus && !w->isHidden() && w->isEnabled()) {
                w->setFocus();
                break;
            }
        }
    }
    return exec();
}

void DlgBase::EndDialog(int result) {
    done(result);
}

QWidget* DlgBase::Item(int id) const {
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

std::string DlgBase::GetItemText(int id) const {
    QWidget* w = Item(id);
    QString text;
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        text = edit->text();
    else if (auto* label = qobject_cast<QLabel*>(w))
        text = label->text();
    else if (auto* button = qobject_cast<QPushButton*>(w))
        text = button->text();
    return Dlg_SjisText(text);
}

void DlgBase::SetItemText(int id, const char* sjis) {
    SetItemQText(id, Dlg_QText(sjis));
}

void DlgBase::SetItemQText(int id, const QString& text) {
    QWidget* w = Item(id);
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* button = qobject_cast<QPushButton*>(w))
        button->setText(text);
}

void DlgBase::EnableItem(int id, bool enable) {
    if (QWidget* w = Item(id)) w->setEnabled(enable);
}

bool DlgBase::IsItemEnabled(int id) const {
    QWidget* w = Item(id);
    return w && w->isEnabled();
}

void DlgBase::ShowItem(int id, bool show) {
    if (QWidget* w = Item(id)) w->setVisible(show);
}

bool DlgBase::IsItemShown(int id) const {
    QWidget* w = Item(id);
    return w && !w->isHidden();
}

void DlgBase::FocusItem(int id) {
    if (QWidget* w = Item(id)) w->setFocus();
}

void DlgBase::SetItemIcon(int id, int iconId) {
    if (auto* label = qobject_cast<QLabel*>(Item(id))) {
        label->setPixmap(iconPixmap(iconId));
        m_icons[id] = iconId;
    }
}

int DlgBase::ItemIcon(int id) const {
    auto it = m_icons.find(id);
    return it == m_icons.end() ? 0 : it->second;
}

void DlgBase::SetProgress(int id, int high, int position) {
    if (auto* bar = qobject_cast<QProgressBar*>(Item(id))) {
        bar->setRange(0, high);
        bar->setValue(position);
    }
}

void DlgBase::AppendSysMenuItem(int command, const char* sjis) {
    m_sysItems.emplace_back(command, Dlg_QText(sjis));
}

void DlgBase::PostItemText(int id, QString text) {
    QPointer<DlgBase> self(this);
    UiCall_Post([self, id, text = std::move(text)] {
        if (self) self->SetItemQText(id, text);
    });
}

void DlgBase::PostProgress(int id, int high, int position) {
    QPointer<DlgBase> self(this);
    UiCall_Post([self, id, high, position] {
        if (self) self->SetProgress(id, high, position);
    });
}

void DlgBase::SetFileDialogFunc(Dlg_FileDialogFunc fn) {
    g_fileDialog = std::move(fn);
}

bool DlgBase::RunFileDialog(QWidget* parent, Dlg_FileRequest* request) {
    return g_fileDialog ? g_fileDialog(parent, request) : defaultFileDialog(parent, request);
}

void DlgBase::SetShownHook(std::function<void(DlgBase*)> hook) {
    g_shownHook = std::move(hook);
}

void DlgBase::SetMenuHook(std::function<QAction*(QMenu*, const QPoint&)> hook) {
    g_menuHook = std::move(hook);
}

void DlgBase::OpenContextMenu(const QPoint& globalPos) {
    if (m_sysItems.empty()) return;
    QMenu menu(this);
    for (auto& [command, text] : m_sysItems) menu.addAction(text)->setData(command);
    QAction* chosen = g_menuHook ? g_menuHook(&menu, globalPos) : menu.exec(globalPos);
    if (chosen) OnSysCommand(chosen->data().toInt());
}

void DlgBase::BeginWaitCursor() {
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

void DlgBase::EndWaitCursor() {
    QApplication::restoreOverrideCursor();
}

void DlgBase::DragAcceptFiles(bool accept) {
    setAcceptDrops(accept);
}

void DlgBase::keyPressEvent(QKeyEvent* e) {
    const int key = e->key();
    if (key == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        OnCancel();
        return;
    }
    if (key == Qt::Key_F1 && e->modifiers() == Qt::NoModifier) {
        OnHelp();
        return;
    }
    if ((key == Qt::Key_F10 && e->modifiers() == Qt::ShiftModifier) || key == Qt::Key_Menu) {
        OpenContextMenu(mapToGlobal(rect().center()));
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused && focused != Item(IDOK)) {
            if (focused->isEnabled()) focused->click();
            return;
        }
        QWidget* ok = Item(IDOK);
        if (!ok || ok->isEnabled()) OnOK();
        return;
    }
    QDialog::keyPressEvent(e);
}

void DlgBase::closeEvent(QCloseEvent* e) {
    e->ignore();
    OnCancel();
}

void DlgBase::paintEvent(QPaintEvent* e) {
    QDialog::paintEvent(e);
    OnPaint();
}

void DlgBase::contextMenuEvent(QContextMenuEvent* e) {
    OpenContextMenu(e->globalPos());
}

void DlgBase::dragEnterEvent(QDragEnterEvent* e) {
    const QMimeData* data = e->mimeData();
    if (data && data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile()) {
                e->acceptProposedAction();
                return;
            }
}

void DlgBase::dropEvent(QDropEvent* e) {
    const QMimeData* data = e->mimeData();
    if (!data) return;
    std::vector<std::string> paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) paths.push_back(Fs_FromNative(url.toLocalFile().toStdString()));
    }
    if (paths.empty()) return;
    e->acceptProposedAction();
    OnDropFiles(paths);
}

void DlgBase::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (g_shownHook) {
        QPointer<DlgBase> self(this);
        QTimer::singleShot(0, this, [self] {
            if (self && g_shownHook) g_shownHook(self);
        });
    }
}
