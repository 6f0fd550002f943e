#pragma once

// File > Recent Files: the files last opened or saved, newest first, one item each.
// The list itself is the runtime state's, which the settings keep.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QMenu;

namespace cantavel {

class RecentFiles : public QObject {
    Q_OBJECT

public:
    // What the window does for the menu.
    struct Window {
        // Opens a file the operator picked that is still there.
        std::function<void(const QString& path)> open;
        // A message box: its text and a detail line.
        std::function<void(const QString& text, const QString& detail)> showMessage;
    };

    // The menu ("RecentFiles") is made a child of `fileMenu`, for the window to place
    // in it. `files` outlives this object.
    RecentFiles(QStringList& files, QMenu* fileMenu, Window window, QObject* parent = nullptr);

    QMenu* menu() const { return menu_; }
    // A file just opened or saved goes to the top, once; the oldest beyond the
    // list's length are forgotten.
    void remember(const QString& path);
    // The items anew from the list.
    void update();

private:
    void pick(const QString& path);

    QStringList& files_;
    QMenu* menu_;
    Window window_;
};

} // namespace cantavel
