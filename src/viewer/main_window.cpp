#include "viewer/main_window.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressDialog>
#include <QStatusBar>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <new>
#include <string_view>

#include "app/app_commands.h"
#include "app/file_kinds.h"
#include "imageutil/png_file.h"
#include "platform/allocation_report.h"
#include "platform/debug_output.h"
#include "viewer/maker_mesh.h"
#include "viewer/view_widget.h"

namespace strata::viewer {

namespace {

// The items the menu resource marks as checked before any menu has opened; the first opening
// replaces them with the view's fields. High Quality Splats (36020) is on from the start: it is
// the default drawing.
constexpr int kInitiallyChecked[] = {34002, 34003, 34004, 36000, 36020,
                                     36001, 36004, 36005, 36006, 38000};

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toLocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

AppMainFrame::AppMainFrame(std::int32_t frameWidth, std::int32_t frameHeight, bool fixedSize,
                           QWidget* parent)
    : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Strata Viewer"));
    setAcceptDrops(true);

    view_.onTitle = [this](const std::string& title) {
        setWindowTitle(QString::fromStdString(title));
    };
    view_.onStatus = [this](const std::string& text) {
        statusBar()->showMessage(QString::fromStdString(text));
        statusBar()->repaint();
    };
    view_.onBlit = [this] {
        if (widget_ != nullptr) {
            widget_->showFrame();
        }
    };
    view_.onStartTimer = [this](int /*id*/, int milliseconds) { spinTimer_.start(milliseconds); };
    view_.onKillTimer = [this](int /*id*/) { spinTimer_.stop(); };
    view_.onChooseFile = [this](int id) -> std::string {
        const QString filter = QStringLiteral("Camera file (*.json)");
        const QString path = id == app::kIdSaveView
                                 ? QFileDialog::getSaveFileName(this, QStringLiteral("Save View"),
                                                                QStringLiteral("view.json"), filter)
                                 : QFileDialog::getOpenFileName(this, QStringLiteral("Load View"),
                                                                QString(), filter);
        return path.isEmpty() ? std::string() : toLocalPath(path);
    };

    view_.meshMaker = std::make_shared<MakerMeshMaker>();
    connect(&meshTimer_, &QTimer::timeout, this, &AppMainFrame::pollMesh);

    // The initial update: frame images of the chosen size, the view reset, a first frame.
    view_.CreateFrameImages(frameWidth, frameHeight);
    view_.OnInitialUpdate();

    widget_ = new ViewWidget(
        view_, [this] { requestIdle(); }, fixedSize, this);
    setCentralWidget(widget_);
    widget_->setFocus();
    buildMenus();
    buildStatusBar();
    if (fixedSize) {
        layout()->setSizeConstraint(QLayout::SetFixedSize);
    }

    idleTimer_.setInterval(0);
    connect(&idleTimer_, &QTimer::timeout, this, &AppMainFrame::runIdle);
    connect(&spinTimer_, &QTimer::timeout, this, [this] {
        view_.OnTimer(app::kSpinTimerId);
        requestIdle();
    });
    requestIdle();
}

AppMainFrame::~AppMainFrame() {
    view_.onTitle = nullptr;
    view_.onStatus = nullptr;
    view_.onBlit = nullptr;
    view_.onStartTimer = nullptr;
    view_.onKillTimer = nullptr;
    view_.onChooseFile = nullptr;
}

QAction* AppMainFrame::addCommand(QMenu* menu, int id, const QString& text) {
    QAction* a = menu->addAction(text);
    a->setData(id);
    actions_[id] = a;
    return a;
}

void AppMainFrame::buildMenus() {
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(fromView(app::kTopMenus[0]));
    QAction* open = addCommand(file, app::kIdFileOpen, QStringLiteral("&Open..."));
    open->setShortcut(QKeySequence::Open);
    connect(open, &QAction::triggered, this, &AppMainFrame::fileOpen);
    recentMenu_ = file->addMenu(QStringLiteral("Open &Recent"));
    recentMenu_->setObjectName(QStringLiteral("recent"));
    connect(recentMenu_, &QMenu::aboutToShow, this, &AppMainFrame::refreshRecent);
    refreshRecent();
    QAction* save = addCommand(file, kIdFileSaveFrameAs, QStringLiteral("Save &Frame As..."));
    connect(save, &QAction::triggered, this, &AppMainFrame::saveFrameAs);
    QAction* saveLdi = addCommand(file, kIdFileSaveLdiAs, QStringLiteral("Save &LDI As..."));
    connect(saveLdi, &QAction::triggered, this, &AppMainFrame::saveLdiAs);
    // The File commands of the command table (Save View..., Load View...) follow.
    for (const app::CommandInfo& c : app::commandTable()) {
        if (c.menu == app::kTopMenus[0]) {
            const int id = c.id;
            connect(addCommand(file, id, fromView(c.text)), &QAction::triggered, this, [this, id] {
                view_.OnCommand(id);
                requestIdle();
            });
        }
    }
    file->addSeparator();
    QAction* exit = addCommand(file, app::kIdFileExit, QStringLiteral("E&xit"));
    connect(exit, &QAction::triggered, this, &QWidget::close);

    // The command table in menu order; each submenu opens from its parent where its first
    // command falls, and a separator after a submenu's last command stands after the submenu.
    std::map<std::string_view, QMenu*> menus;
    const auto menuFor = [&](std::string_view name) -> QMenu* {
        const auto found = menus.find(name);
        if (found != menus.end()) {
            return found->second;
        }
        std::string_view parent;
        for (const app::SubmenuInfo& m : app::kSubmenus) {
            if (m.name == name) {
                parent = m.parent;
            }
        }
        // Submenus open from menus made before them; any other menu goes on the bar.
        const auto owner = menus.find(parent);
        QMenu* made = owner != menus.end() ? owner->second->addMenu(fromView(name))
                                           : bar->addMenu(fromView(name));
        connect(made, &QMenu::aboutToShow, this, [this, made] { refreshChecks(made); });
        menus[name] = made;
        return made;
    };
    // The menus of the table in menu-bar order, even one with no command of its own (View),
    // between the shell's File and Help.
    for (std::size_t i = 1; i + 1 < std::size(app::kTopMenus); ++i) {
        menuFor(app::kTopMenus[i]);
    }
    const std::span<const app::CommandInfo> table = app::commandTable();
    std::map<std::string, QActionGroup*> groups;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const app::CommandInfo& c = table[i];
        if (c.menu == app::kTopMenus[0]) {
            continue;  // in the shell's own File menu above
        }
        QMenu* menu = menuFor(c.menu);
        QAction* a = addCommand(menu, c.id, fromView(c.text));
        if (c.check != app::CheckKind::none) {
            a->setCheckable(true);
            a->setChecked(std::find(std::begin(kInitiallyChecked), std::end(kInitiallyChecked),
                                    c.id) != std::end(kInitiallyChecked) ||
                          (c.check == app::CheckKind::equals && view_.IsChecked(c.id)));
        }
        if (c.check == app::CheckKind::equals) {
            // The commands of a menu that set one field show as a radio group.
            QActionGroup*& group = groups[std::string(c.menu) + "/" + std::string(c.field)];
            if (group == nullptr) {
                group = new QActionGroup(menu);
                group->setExclusive(true);
            }
            group->addAction(a);
        }
        const int id = c.id;
        connect(a, &QAction::triggered, this, [this, id] {
            view_.OnCommand(id);
            requestIdle();
        });
        if (c.separatorAfter) {
            const bool lastOfMenu = i + 1 == table.size() || table[i + 1].menu != c.menu;
            QMenu* owner = menu;
            if (auto* parentMenu = qobject_cast<QMenu*>(menu->parent());
                lastOfMenu && parentMenu != nullptr) {
                owner = parentMenu;
            }
            owner->addSeparator();
        }
    }

    QMenu* help = bar->addMenu(fromView(app::kTopMenus[std::size(app::kTopMenus) - 1]));
    QAction* keys = addCommand(help, kIdHelpKeys, QStringLiteral("&Keys and Mouse..."));
    connect(keys, &QAction::triggered, this, [this] { createKeysDialog()->exec(); });
    QAction* about = addCommand(help, app::kIdHelpAbout, QStringLiteral("&About StrataViewer..."));
    connect(about, &QAction::triggered, this, &AppMainFrame::about);
}

void AppMainFrame::buildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    for (const char* indicator : {"CAPS", "NUM", "SCRL"}) {
        auto* pane = new QLabel(QString::fromLatin1(indicator), bar);
        pane->setObjectName(QString::fromLatin1(indicator));
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        // The lock-key states are not known portably: the panes stand greyed.
        pane->setEnabled(false);
        bar->addPermanentWidget(pane);
    }
}

QAction* AppMainFrame::action(int id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second;
}

QString AppMainFrame::statusText() const {
    return const_cast<AppMainFrame*>(this)->statusBar()->currentMessage();
}

void AppMainFrame::refreshChecks(QMenu* menu) {
    for (QAction* a : menu->actions()) {
        if (a->isCheckable()) {
            a->setChecked(view_.IsChecked(a->data().toInt()));
        }
    }
}

void AppMainFrame::requestIdle() {
    if ((view_.needsRedraw || view_.timerTick) && !idleTimer_.isActive()) {
        idleTimer_.start();
    }
}

void AppMainFrame::runIdle() {
    try {
        view_.OnIdle();
    } catch (const std::bad_alloc&) {
        // The frame keeps the last picture; the status bar says what did not fit.
        view_.needsRedraw = false;
        reportOutOfMemory();
    }
    if (!view_.needsRedraw && !view_.timerTick) {
        idleTimer_.stop();
    }
}

void AppMainFrame::reportOutOfMemory() {
    const std::string line = "Strata Viewer: " + platform::outOfMemoryMessage();
    std::fprintf(stderr, "%s\n", line.c_str());
    statusBar()->showMessage(QString::fromStdString(line));
    platform::clearFailedAllocation();
}

bool AppMainFrame::openFile(const QString& path) {
    if (app::isMeshPath(toLocalPath(path))) {
        return startMesh(path);
    }
    // The load runs on a thread of its own; the window keeps painting, and a load of over half
    // a second shows a busy bar until it ends.
    const std::string local = toLocalPath(path);
    platform::debugPrintf("Loading: %s\n", local.c_str());
    std::future<app::LoadedObjects> loading = std::async(std::launch::async, [local] {
        const platform::MemoryTask task("opening " + local);
        return app::LoadObjects(local);
    });
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> busy;
    while (loading.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) {
        if (busy == nullptr && clock.elapsed() > 500) {
            busy = std::make_unique<QProgressDialog>(
                QStringLiteral("Loading ") + QFileInfo(path).fileName() + QStringLiteral("..."),
                QString(), 0, 0, this);
            busy->setObjectName(QStringLiteral("loadProgress"));
            busy->setWindowTitle(QStringLiteral("Open"));
            busy->setWindowModality(Qt::WindowModal);
            busy->setMinimumDuration(0);
            busy->show();
        }
        QCoreApplication::processEvents(busy != nullptr ? QEventLoop::AllEvents
                                                        : QEventLoop::ExcludeUserInputEvents);
    }
    busy.reset();
    bool opened = false;
    try {
        const platform::MemoryTask task("opening " + local);
        opened = view_.OpenLoaded(local, loading.get());
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
        return false;
    }
    requestIdle();
    finishOpen(path, opened);
    return opened;
}

void AppMainFrame::finishOpen(const QString& path, bool opened) {
    if (opened) {
        recent_.add(path);
        refreshRecent();
    } else {
        // The whole reason, which the status bar would cut off; the window keeps what it shows.
        if (openFailure_ != nullptr) {
            openFailure_->close();
        }
        openFailure_ =
            new QMessageBox(QMessageBox::Warning, QStringLiteral("Open"),
                            QString::fromStdString(view_.statusNote), QMessageBox::Ok, this);
        openFailure_->setObjectName(QStringLiteral("openFailure"));
        openFailure_->setAttribute(Qt::WA_DeleteOnClose);
        openFailure_->open();
    }
}

bool AppMainFrame::startMesh(const QString& path) {
    if (!view_.StartMeshOpen(toLocalPath(path))) {
        finishOpen(path, false);
        return false;
    }
    meshPath_ = path;
    if (meshProgress_ == nullptr) {
        meshProgress_ = new QProgressDialog(this);
        meshProgress_->setObjectName(QStringLiteral("meshProgress"));
        meshProgress_->setWindowTitle(QStringLiteral("Open"));
        meshProgress_->setRange(0, 1000);
        // Work of over half a second shows it.
        meshProgress_->setMinimumDuration(500);
        meshProgress_->setAutoReset(false);
        meshProgress_->setAutoClose(false);
        connect(meshProgress_, &QProgressDialog::canceled, this, &AppMainFrame::cancelMesh);
    }
    meshProgress_->setLabelText(QStringLiteral("Making an LDI of ") + QFileInfo(path).fileName() +
                                QStringLiteral("..."));
    meshProgress_->reset();
    meshProgress_->setValue(0);
    meshTimer_.start(50);
    return true;
}

void AppMainFrame::pollMesh() {
    if (!view_.meshJob) {
        meshTimer_.stop();
        return;
    }
    if (meshProgress_ != nullptr) {
        meshProgress_->setValue(static_cast<int>(1000.0 * view_.meshJob->progress()));
    }
    const int state = view_.PollMeshOpen();
    if (state == 0) {
        return;
    }
    meshTimer_.stop();
    if (meshProgress_ != nullptr) {
        meshProgress_->reset();
        meshProgress_->hide();
    }
    requestIdle();
    finishOpen(meshPath_, state > 0);
}

void AppMainFrame::cancelMesh() {
    meshTimer_.stop();
    view_.CancelMeshOpen();
    if (meshProgress_ != nullptr) {
        meshProgress_->reset();
        meshProgress_->hide();
    }
    statusBar()->showMessage(QStringLiteral("Open: making an LDI of ") +
                             QFileInfo(meshPath_).fileName() + QStringLiteral(" cancelled"));
}

void AppMainFrame::saveLdiAs() {
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("Save LDI As"), QStringLiteral("view.ldibrtqp"),
        QStringLiteral("LDI files (*.ldibrtcp *.ldibrtqp *.ldibrtmrqp)"));
    if (path.isEmpty()) {
        return;
    }
    std::string error;
    if (!view_.SaveLdi(toLocalPath(path), error)) {
        QMessageBox::warning(this, QStringLiteral("Save LDI As"), QString::fromStdString(error));
    }
}

bool AppMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        return true;
    }
    return QMainWindow::event(event);
}

void AppMainFrame::refreshRecent() {
    const QStringList gone = recent_.dropMissing();
    if (!gone.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("Open Recent: no longer there, removed: ") +
                                 gone.join(QStringLiteral(", ")));
    }
    recentMenu_->clear();
    const QStringList files = recent_.files();
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString path = files[i];
        // Numbered 1..9, then 0, for the keyboard.
        QAction* a = recentMenu_->addAction(QStringLiteral("&%1 %2").arg((i + 1) % 10).arg(path));
        a->setData(path);
        connect(a, &QAction::triggered, this, [this, path] {
            if (!QFileInfo::exists(path)) {
                recent_.remove(path);
                statusBar()->showMessage(QStringLiteral("Open Recent: no longer there, removed: ") +
                                         path);
                refreshRecent();
                return;
            }
            openFile(path);
        });
    }
    if (files.isEmpty()) {
        recentMenu_->addAction(QStringLiteral("(none)"))->setEnabled(false);
    }
}

QStringList AppMainFrame::openFilters() {
    return QString::fromStdString(app::openFilters()).split(QStringLiteral(";;"));
}

void AppMainFrame::fileOpen() {
    QFileDialog dialog(this, QStringLiteral("Open"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(QStringLiteral("ldi"));
    dialog.setNameFilters(openFilters());
    const QString folder = recent_.lastFolder();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) {
        dialog.setDirectory(folder);
    }
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        openFile(dialog.selectedFiles().front());
    } else {
        // A cancelled open still hands the open-time settings to the current LDI.
        view_.HandSettingsToLdi();
    }
}

bool AppMainFrame::saveFrame(const QString& path, QString& error) const {
    std::string reason;
    if (!imageutil::writeImageFile(toLocalPath(path), view_.frameImage, &reason)) {
        error = QString::fromStdString(reason);
        return false;
    }
    return true;
}

void AppMainFrame::saveFrameAs() {
    const QString png = QStringLiteral("PNG image (*.png)");
    const QString bmp = QStringLiteral("BMP image (*.bmp)");
    QString filter = png;
    QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Frame As"),
                                     QStringLiteral("frame.png"), png + ";;" + bmp, &filter);
    if (path.isEmpty()) {
        return;
    }
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix != QStringLiteral("png") && suffix != QStringLiteral("bmp")) {
        path += filter == bmp ? QStringLiteral(".bmp") : QStringLiteral(".png");
    }
    QString error;
    if (!saveFrame(path, error)) {
        QMessageBox::warning(this, QStringLiteral("Save Frame As"), error);
    } else {
        view_.lastSavedFrame = toLocalPath(path);  // F12 numbers on beside it
    }
}

std::unique_ptr<QDialog> AppMainFrame::createAboutDialog() {
    auto dialog = std::make_unique<QDialog>(this);
    dialog->setObjectName(QStringLiteral("about"));
    dialog->setWindowTitle(fromView(app::kAboutCaption));
    auto* layout = new QVBoxLayout(dialog.get());
    auto* version = new QLabel(fromView(app::kAboutVersion), dialog.get());
    version->setObjectName(QStringLiteral("version"));
    auto* help = new QLabel(fromView(app::kHelpText), dialog.get());
    help->setObjectName(QStringLiteral("help"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, dialog.get());
    connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
    layout->addWidget(version);
    layout->addWidget(help);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    return dialog;
}

std::unique_ptr<QDialog> AppMainFrame::createKeysDialog() {
    auto dialog = std::make_unique<QDialog>(this);
    dialog->setObjectName(QStringLiteral("keys"));
    dialog->setWindowTitle(QStringLiteral("Keys and Mouse"));
    auto* layout = new QVBoxLayout(dialog.get());
    auto* grid = new QGridLayout;
    int row = 0;
    for (const std::string& line : view_.HelpLines()) {
        const QString text = QString::fromStdString(line);
        grid->addWidget(new QLabel(text.section(u'\t', 0, 0), dialog.get()), row, 0);
        grid->addWidget(new QLabel(text.section(u'\t', 1), dialog.get()), row, 1);
        ++row;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, dialog.get());
    connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
    layout->addLayout(grid);
    layout->addWidget(buttons);
    return dialog;
}

void AppMainFrame::about() {
    createAboutDialog()->exec();
}

namespace {

// The first local file of a drag, or "".
QString droppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) {
        return {};
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            return url.toLocalFile();
        }
    }
    return {};
}

}  // namespace

void AppMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void AppMainFrame::dropEvent(QDropEvent* event) {
    const QString path = droppedFile(event->mimeData());
    if (!path.isEmpty()) {
        event->acceptProposedAction();
        openFile(path);
    }
}

std::unique_ptr<AppMainFrame> createMainFrame(const ViewerOptions& options) {
    auto frame = std::make_unique<AppMainFrame>(options.frameWidth, options.frameHeight,
                                                options.frameSizeGiven);
    frame->show();
    if (!options.file.empty()) {
        frame->openFile(QString::fromLocal8Bit(options.file.c_str()));
    }
    return frame;
}

}  // namespace strata::viewer
