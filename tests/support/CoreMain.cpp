#include <QCoreApplication>

#include <gtest/gtest.h>

#include <exception>

namespace {

// As in the editor: an exception thrown by an event handler is caught where the
// event loop delivers it, and the loop goes on.
class CatchingApplication final : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QCoreApplication::notify(receiver, event);
        } catch (const std::exception&) {
            return false;
        }
    }
};

} // namespace

int main(int argc, char** argv) {
    CatchingApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
