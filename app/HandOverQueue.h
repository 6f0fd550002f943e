#pragma once

// Files a later start of the program hands to this one: they wait until the window is
// free to open them. A burst of starts opens only the latest one's file (each would
// replace the last), and one message names the others, so that none is dropped
// without a word.

#include "SingleInstance.h"

#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace cantavel {

class HandOverQueue : public QObject {
    Q_OBJECT

public:
    // What the queue asks of the window it opens the files in.
    struct Window {
        // The window's own dialogs are open or a Device command runs.
        std::function<bool()> busy;
        // Settles unsaved work first; false when the action must not go on.
        std::function<bool()> maybeSave;
        // Reads a file into the window (unsaved work already settled); false when
        // nothing could be read, which it has said.
        std::function<bool(const QString& path)> open;
        // A message box: its text and a detail line.
        std::function<void(const QString& text, const QString& detail)> showMessage;
    };

    // Takes the files `guard` receives; the guard outlives this object.
    HandOverQueue(TXJustOne& guard, Window window, QObject* parent = nullptr);

    // A file from a later start begun at `startedAt` (steady clock), as the guard's
    // socket would deliver it.
    TXJustOne::HandOverReply handOver(const QString& path, qint64 startedAt);
    // Something that kept the files waiting has ended: they are looked at again once
    // the present event has unwound.
    void retrySoon();
    // The operator's own Open or New, or closing, leaves the waiting files unopened:
    // one message says why and names them.
    void drop(const QString& why);

private:
    bool busy() const;
    void tryOpen();
    // One message for files handed over that were not opened (all, or all but the
    // newest): why, and their names.
    void report(const TXJustOne::HandedOver& files, bool newestOpened, const QString& why);

    TXJustOne& guard_;
    Window window_;
    QTimer* timer_;
};

} // namespace cantavel
