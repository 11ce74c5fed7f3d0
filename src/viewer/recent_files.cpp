#include "viewer/recent_files.h"

#include <QFileInfo>
#include <QSettings>

namespace strata::viewer {
namespace {

constexpr auto kFilesKey = "recentFiles";
constexpr auto kFolderKey = "lastFolder";

QSettings settings() {
    return QSettings(QStringLiteral("Strata"), QStringLiteral("Strata Viewer"));
}

}  // namespace

QStringList RecentFiles::files() const {
    return settings().value(QLatin1String(kFilesKey)).toStringList();
}

void RecentFiles::store(const QStringList& files) const {
    settings().setValue(QLatin1String(kFilesKey), files);
}

void RecentFiles::add(const QString& path) {
    const QFileInfo info(path);
    const QString full = info.absoluteFilePath();
    QStringList list = files();
    list.removeAll(full);
    list.prepend(full);
    while (list.size() > kMost) {
        list.removeLast();
    }
    store(list);
    settings().setValue(QLatin1String(kFolderKey), info.absolutePath());
}

void RecentFiles::remove(const QString& path) {
    QStringList list = files();
    list.removeAll(QFileInfo(path).absoluteFilePath());
    store(list);
}

QStringList RecentFiles::dropMissing() {
    QStringList kept;
    QStringList gone;
    for (const QString& f : files()) {
        (QFileInfo::exists(f) ? kept : gone).append(f);
    }
    if (!gone.isEmpty()) {
        store(kept);
    }
    return gone;
}

QString RecentFiles::lastFolder() const {
    return settings().value(QLatin1String(kFolderKey)).toString();
}

}  // namespace strata::viewer
