// The dialog layer: a modal dialog built from a template of the resource
// script (resources.h), on Qt 6 Widgets.
//
// Controls are reached by their template id; texts go in and come out as
// CP932 through platform/codepage. Positions are dialog units of the
// template's font: one horizontal unit is a quarter of the font's average
// character width (the width of "A".."Z" "a".."z" divided by 52, rounded),
// one vertical unit an eighth of its height.
//
// DoModal shows the dialog and runs its modal loop until EndDialog; it returns
// what EndDialog was given (IDOK or IDCANCEL). The handlers are virtual:
// OnInitDialog before the dialog is shown; OnOK for button 1 and for Enter
// (only while button 1 exists and is enabled); OnCancel for button 2, Esc and
// the close box; OnCommand for any other button; OnEditChange when an edit
// box's text changes; OnPaint on each paint; OnDropFiles for local files and
// folders dropped on the dialog; OnHelp for F1; OnSysCommand for the window-menu items,
// offered in the dialog's context menu (and Shift+F10).
//
// Threads: a dialog belongs to the user-interface thread. From another
// thread only SendMessage (blocking, uicall.h), PostItemText and
// PostProgress may be used.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/qt/resources.h"

class QMenu;
class QAction;

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// What a file dialog is asked for and what it answers.
struct Dlg_FileRequest {
    bool save;                // a save dialog (else an open dialog)
    std::string defaultExt;   // without a dot, e.g. "kwf"
    std::string initialName;  // CP932
    std::string path;         // out: the chosen native path
};
// Shows a file dialog; true and request->path set when the user chose a file.
using Dlg_FileDialogFunc = std::function<bool(QWidget* parent, Dlg_FileRequest* request)>;

class DlgBase : public QDialog {
   public:
    explicit DlgBase(int templateId, QWidget* parent = nullptr);
    ~DlgBase() override;

    // Builds the controls (once), calls OnInitDialog, shows the dialog and
    // runs its modal loop; returns the EndDialog result.
    int DoModal();
    // Builds the controls from the template without showing the dialog
    // (DoModal does it first; later calls do nothing).
    void CreateControls() { BuildControls(); }
    // Ends the modal loop with result.
    void EndDialog(int result);

    int TemplateId() const { return m_templateId; }

    // ---- Controls ----
    QWidget* Item(int id) const;  // nullptr for an unknown id
    // The control's text in CP932 (an edit's contents, a label's or a button's text).
    std::string GetItemText(int id) const;
    // What a person typed into an edit box, in CP932 as Dlg_SjisTyped converts it.
    std::string GetTypedText(int id, bool* exact) const;
    void SetItemText(int id, const char* sjis);
    void SetItemQText(int id, const QString& text);
    void EnableItem(int id, bool enable);
    bool IsItemEnabled(int id) const;
    void ShowItem(int id, bool show);
    bool IsItemShown(int id) const;
    void FocusItem(int id);
    // Puts icon resource iconId into a static icon control.
    void SetItemIcon(int id, int iconId);
    int ItemIcon(int id) const;  // the icon resource shown, 0 when none
    void SetProgress(int id, int high, int position);

    // ---- The window menu ----
    // Adds a separator and an item with command id and CP932 text to the menu
    // offered by the dialog's context menu.
    void AppendSysMenuItem(int command, const char* sjis);

    // ---- Calls from the worker thread ----
    // Queues a text (already converted on the calling thread) for a control.
    void PostItemText(int id, QString text);
    // Queues a range 0..high and a position for a progress bar.
    void PostProgress(int id, int high, int position);

    // ---- Hooks (tests replace them; the defaults are Qt's own windows) ----
    static void SetFileDialogFunc(Dlg_FileDialogFunc fn);
    static bool RunFileDialog(QWidget* parent, Dlg_FileRequest* request);
    // Called with the dialog once its modal loop runs (queued after show).
    static void SetShownHook(std::function<void(DlgBase*)> hook);
    // Runs the context menu at a global position; returns the chosen action.
    static void SetMenuHook(std::function<QAction*(QMenu*, const QPoint&)> hook);
    // Opens the context menu as the right button or Shift+F10 does.
    void OpenContextMenu(const QPoint& globalPos);

    // ---- Wait cursor ----
    static void BeginWaitCursor();
    static void EndWaitCursor();

   protected:
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    virtual void OnCommand(int) {}
    virtual void OnEditChange(int) {}
    virtual void OnPaint() {}
    virtual void OnDropFiles(const std::vector<std::string>&) {}
    virtual void OnSysCommand(int) {}
    // F1 (the platform's help command).
    virtual void OnHelp() {}
    // Accepts drops of files and folders from a file manager.
    void DragAcceptFiles(bool accept);

    void keyPressEvent(QKeyEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void showEvent(QShowEvent* e) override;

   private:
    void BuildControls();
    QRect ToPixels(int x, int y, int cx, int cy) const;

    int m_templateId;
    const Res_Dialog* m_template = nullptr;
    bool m_built = false;
    int m_baseX = 8, m_baseY = 16;
    std::map<int, QWidget*> m_items;
    std::map<int, int> m_icons;
    std::vector<std::pair<int, QString>> m_sysItems;
};

// Converts CP932 text to a QString (through platform/codepage).
QString Dlg_QText(const char* sjis);
// Converts a QString to CP932 text; *exact false when a character had no CP932 form.
std::string Dlg_SjisText(const QString& text, bool* exact = nullptr);
// Converts typed text to CP932 as a page's text is stored: the marks that
// CP932 holds under a neighbouring code point (WAVE DASH as ～ and the like)
// are taken as that mark, so what is typed finds what was stored.
// *exact false when a character has no CP932 form at all.
std::string Dlg_SjisTyped(const QString& text, bool* exact);
// The dialog font of a template: its face mapped through fontconfig to an
// installed Japanese sans-serif, at its point size.
QFont Dlg_TemplateFont(const Res_Dialog& dialog);
