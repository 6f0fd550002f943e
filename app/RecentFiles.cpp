#include "RecentFiles.h"

#include "Elide.h"
#include "RuntimeState.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QMenu>

#include <cerrno>
#include <utility>

#include <sys/stat.h>

namespace cantavel {

RecentFiles::RecentFiles(QStringList& files, QMenu* fileMenu, Window window, QObject* parent)
    : QObject(parent), files_(files), menu_(new QMenu(QStringLiteral("Recent &Files"), fileMenu)),
      window_(std::move(window)) {
    menu_->setObjectName(QStringLiteral("RecentFiles"));
}

void RecentFiles::remember(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    files_.removeAll(absolute);
    files_.prepend(absolute);
    while (files_.size() > kMaxRecentFiles) {
        files_.removeLast();
    }
    update();
}

void RecentFiles::update() {
    menu_->clear();
    for (qsizetype i = 0; i < files_.size(); ++i) {
        const QString path = files_[i];
        QAction* item = menu_->addAction(
            QStringLiteral("&%1 %2").arg(i + 1).arg(elideMiddle(QFileInfo(path).fileName())));
        item->setToolTip(path);
        connect(item, &QAction::triggered, this, [this, path] { pick(path); });
    }
    menu_->setToolTipsVisible(true);
    menu_->setEnabled(!files_.isEmpty());
}

void RecentFiles::pick(const QString& path) {
    // Only a name that leads nowhere is gone; anything else that cannot be opened
    // (a link loop, a folder the user may not enter) says why and stays listed.
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 &&
        (errno == ENOENT || errno == ENOTDIR)) {
        files_.removeAll(path);
        update();
        window_.showMessage(QStringLiteral("%1 no longer exists.").arg(elideMiddle(path)),
                            QStringLiteral("It has been taken off the list of recent files."));
        return;
    }
    window_.open(path);
}

} // namespace cantavel
