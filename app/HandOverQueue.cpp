#include "HandOverQueue.h"

#include "Elide.h"

#include <QApplication>
#include <QStringList>
#include <QTimer>

#include <utility>

namespace cantavel {

HandOverQueue::HandOverQueue(TXJustOne& guard, Window window, QObject* parent)
    : QObject(parent), guard_(guard), window_(std::move(window)), timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &HandOverQueue::tryOpen);
    guard_.OnHandOver = [this] { timer_->start(0); }; // out of the socket's event
}

TXJustOne::HandOverReply HandOverQueue::handOver(const QString& path, qint64 startedAt) {
    return guard_.HandOver(path, startedAt);
}

void HandOverQueue::retrySoon() {
    if (guard_.HasHandedOver()) {
        timer_->start(0);
    }
}

bool HandOverQueue::busy() const {
    return window_.busy() || QApplication::activeModalWidget() != nullptr ||
           QApplication::activePopupWidget() != nullptr;
}

// A handed-over file waits while a dialog or a Device command is open: it is looked
// at again when a command ends, and every quarter second while anything waits.
void HandOverQueue::tryOpen() {
    if (!guard_.HasHandedOver()) {
        return;
    }
    if (busy()) {
        if (!timer_->isActive()) {
            timer_->start(250);
        }
        return;
    }
    // What is open now is settled first. Files handed over while the question about
    // unsaved work is open are newer still; Cancel keeps every one of them out.
    const bool goOn = window_.maybeSave();
    const TXJustOne::HandedOver files = guard_.TakeHandedOver();
    if (files.newest.isEmpty()) {
        return;
    }
    const bool opened = goOn && window_.open(files.newest);
    if (files.others > 0 || !goOn) {
        report(files, opened,
               goOn ? QString()
                    : QStringLiteral("The question about unsaved changes was cancelled."));
    }
}

void HandOverQueue::drop(const QString& why) {
    if (guard_.HasHandedOver()) {
        report(guard_.TakeHandedOver(), false, why);
    }
}

void HandOverQueue::report(const TXJustOne::HandedOver& files, bool newestOpened,
                           const QString& why) {
    QStringList detail;
    if (!why.isEmpty()) {
        detail << why;
    }
    if (newestOpened) {
        detail << QStringLiteral("Opened: %1").arg(elideMiddle(files.newest, 160))
               << QStringLiteral("Not opened:");
    } else {
        detail << QStringLiteral("Not opened:") << elideMiddle(files.newest, 160);
    }
    for (const QString& other : files.othersNamed) {
        detail << elideMiddle(other, 160);
    }
    if (files.others > files.othersNamed.size()) {
        detail << QStringLiteral("and %1 more").arg(files.others - files.othersNamed.size());
    }
    const qint64 all = files.others + 1;
    const QString text =
        newestOpened
            ? QStringLiteral("Only the newest of %1 files handed over was opened.").arg(all)
        : all == 1 ? QStringLiteral("The file handed over was not opened.")
                   : QStringLiteral("None of the %1 files handed over was opened.").arg(all);
    window_.showMessage(text, detail.join(QLatin1Char('\n')));
}

} // namespace cantavel
