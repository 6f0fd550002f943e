#pragma once

// The application object: a QApplication whose event delivery shows an exception
// that reaches the event loop in the standard error box and goes on.

#include <QApplication>

#include <exception>
#include <functional>

namespace cantavel {

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);

    // Shows the standard error box: the message, the application title, a stop
    // icon and OK. Tests replace it.
    std::function<void(const QString& message)> ShowException;

    bool notify(QObject* receiver, QEvent* event) override;

    // The message of whatever was thrown: its text for a standard exception; any
    // other thrown object counts as an exception with an empty message.
    static QString messageOf(const std::exception_ptr& thrown);
    static void showStandardError(const QString& message);
};

} // namespace cantavel
