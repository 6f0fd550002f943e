#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The guard's owners are widgets: offscreen unless told otherwise, test discovery
    // during the build included.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // Single-instance guards of this process's own.
    qputenv("CANTAVEL_INSTANCE",
            "test_instance " + QByteArray::number(QCoreApplication::applicationPid()));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
