// The main window of strata-viewer: the menu bar built from AppView's command table, the view
// widget, the status bar, the spin timer and the idle pass that draws pending frames. Every
// command goes to AppView by id; the window holds no viewer state of its own.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <map>
#include <memory>

#include "app/app_view.h"
#include "viewer/recent_files.h"
#include "viewer/viewer_options.h"

class QDialog;
class QProgressDialog;
class QLabel;
class QMenu;

namespace strata::viewer {

class ViewWidget;

// The ids of File > Save Frame As..., Save LDI As... and Help > Keys and Mouse... (the others
// come from the command table's header).
inline constexpr int kIdFileSaveFrameAs = 57603;
inline constexpr int kIdFileSaveLdiAs = 57604;
inline constexpr int kIdHelpKeys = 57670;

class AppMainFrame : public QMainWindow {
    Q_OBJECT

  public:
    // A window for a frame of the given size (the view's frame images are made here); unless
    // fixedSize, the frame then follows the window's size.
    AppMainFrame(std::int32_t frameWidth, std::int32_t frameHeight, bool fixedSize = false,
                 QWidget* parent = nullptr);
    ~AppMainFrame() override;

    app::AppView& view() { return view_; }
    ViewWidget* viewWidget() const { return widget_; }
    // The action of a command id (table, File and Help commands), or null.
    QAction* action(int id) const;
    // The status bar's message pane text.
    QString statusText() const;

    // Opens a file as File Open does after its dialog. False when nothing new was loaded. A
    // mesh file starts a make in the background (true when it started): a progress dialog that
    // can cancel it shows when it takes over half a second, and the LDI made is shown at its
    // end.
    bool openFile(const QString& path);
    // Whether a mesh make is running.
    bool meshRunning() const { return meshTimer_.isActive(); }
    // One poll of the running make (what the make's timer does).
    void pollMesh();
    // What the progress dialog's Cancel does.
    void cancelMesh();
    QProgressDialog* meshProgress() const { return meshProgress_; }
    // Writes the current frame as BMP (name ending in .bmp) or PNG. False with the reason.
    bool saveFrame(const QString& path, QString& error) const;
    // The About box, not yet shown.
    std::unique_ptr<QDialog> createAboutDialog();
    // Help > Keys and Mouse: every binding of the view's key and mouse tables, not yet shown.
    std::unique_ptr<QDialog> createKeysDialog();
    // Sets every command's check mark in `menu` from the view (the menus do this as they open).
    void refreshChecks(QMenu* menu);
    // Arms the idle pass when a frame or a spin tick is pending.
    void requestIdle();
    // Runs one idle pass at once (what the idle timer does).
    void runIdle();
    bool idlePending() const { return idleTimer_.isActive(); }
    bool spinTimerRunning() const { return spinTimer_.isActive(); }

    // File > Open Recent (its entries carry their paths as data).
    QMenu* recentMenu() const { return recentMenu_; }
    // Rebuilds Open Recent from the settings, dropping files that are gone (the status bar
    // names them); the menu does this as it opens.
    void refreshRecent();
    // The open dialog's filters: everything the viewer opens, each kind, all files.
    static QStringList openFilters();

    // The box that says why the last open failed (null when none is showing).
    QMessageBox* openFailure() const { return openFailure_; }

  protected:
    // Status tips (a menu item under the mouse) would replace the status line with an empty
    // text until the next frame: the status line belongs to the view.
    bool event(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void buildMenus();
    void buildStatusBar();
    QAction* addCommand(QMenu* menu, int id, const QString& text);
    void fileOpen();
    void saveFrameAs();
    void saveLdiAs();
    bool startMesh(const QString& path);
    // After an open: the recent files, or the box that says why it failed.
    void finishOpen(const QString& path, bool opened);
    void about();
    // One line on the status bar and stderr for memory that ran out in an open or a draw.
    void reportOutOfMemory();

    app::AppView view_;
    ViewWidget* widget_ = nullptr;
    QLabel* message_ = nullptr;
    QTimer idleTimer_;
    QTimer spinTimer_;
    std::map<int, QAction*> actions_;
    RecentFiles recent_;
    QTimer meshTimer_;
    QProgressDialog* meshProgress_ = nullptr;
    QString meshPath_;
    QMenu* recentMenu_ = nullptr;
    QPointer<QMessageBox> openFailure_;
};

// The window for the options: shown, with the file opened when one is named.
std::unique_ptr<AppMainFrame> createMainFrame(const ViewerOptions& options);

}  // namespace strata::viewer
