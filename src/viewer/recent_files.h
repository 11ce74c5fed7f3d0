// The files opened lately and the folder the open dialog starts in, kept across runs in the
// user's settings.
#pragma once

#include <QString>
#include <QStringList>

namespace strata::viewer {

class RecentFiles {
  public:
    static constexpr int kMost = 10;

    // The list, newest first.
    QStringList files() const;
    // Puts path first (once), keeps kMost, and remembers its folder as the last one.
    void add(const QString& path);
    void remove(const QString& path);
    // Drops the files that are no longer there; returns them.
    QStringList dropMissing();
    // The folder of the last file opened, or "" when none is known.
    QString lastFolder() const;

  private:
    void store(const QStringList& files) const;
};

}  // namespace strata::viewer
