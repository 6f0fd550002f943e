#include "Application.h"

#include "AppInfo.h"

#include <QMessageBox>

namespace cantavel {

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv), ShowException(&TApplication::showStandardError) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        const QString message = messageOf(std::current_exception());
        if (ShowException) {
            ShowException(message);
        }
    }
    return false;
}

QString TApplication::messageOf(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return {};
    }
}

void TApplication::showStandardError(const QString& message) {
    QMessageBox box(QMessageBox::Critical, applicationTitle(), message, QMessageBox::Ok);
    box.exec();
}

} // namespace cantavel
