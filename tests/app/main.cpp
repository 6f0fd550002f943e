#include "Application.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // A single-instance guard of this process's own, however many test programs run
    // at once (or an editor beside them); the editors the tests start inherit it.
    qputenv("CANTAVEL_INSTANCE",
            "test_app " + QByteArray::number(QCoreApplication::applicationPid()));
    cantavel::TApplication app(argc, argv);
    // Tests close windows; that must not make the application refuse event loops
    // for the tests that follow.
    QApplication::setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
