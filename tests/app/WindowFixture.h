#pragma once

// The real main window, offscreen, with its serial port on a pseudo-terminal whose
// master the test holds, and a dialog seam that answers for the operator.

#include "CommPort.h"
#include "ConfigRecord.h"
#include "Dialogs.h"
#include "EventPump.h"
#include "FakeClock.h"
#include "MainWindow.h"
#include "Pty.h"
#include "RuntimeState.h"
#include "SerialPort.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace cantavel::testing {

// A record's bytes, to compare whole.
inline PresetDocument::Image imageOf(const ConfigRecord& record) {
    PresetDocument::Image image{};
    std::memcpy(image.data(), record.image().data(), kConfigImageSize);
    return image;
}

struct FakeDialogs : EditorDialogs {
    struct Message {
        Icon icon;
        QString text;
        QString detail;
    };
    std::vector<Message> messages;
    QStringList answers;    // what the next file dialogs return, in order
    QStringList dialogsRun; // object names of the file dialogs shown

    void message(QWidget*, Icon icon, const QString&, const QString& text,
                 const QString& detail) override {
        messages.push_back({icon, text, detail});
    }
    QString chooseFile(QFileDialog& dialog) override {
        dialogsRun << dialog.objectName();
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    // "Save changes to ...?": the questions asked, answered in order (Discard when
    // the test gave no answer). whileAsking runs once, while the next question is
    // open, as what happens before the operator answers.
    QStringList questions;
    std::vector<Answer> saveAnswers;
    std::function<void()> whileAsking;
    Answer askToSave(QWidget*, const QString&, const QString& text) override {
        questions << text;
        if (whileAsking) {
            std::exchange(whileAsking, nullptr)();
        }
        if (saveAnswers.empty()) {
            return Answer::Discard;
        }
        const Answer next = saveAnswers.front();
        saveAnswers.erase(saveAnswers.begin());
        return next;
    }
    // Yes-or-no questions: the texts asked, answered in order (No when the test gave
    // no answer).
    QStringList confirmations;
    std::vector<bool> confirmAnswers;
    bool confirm(QWidget*, const QString&, const QString& text) override {
        confirmations << text;
        if (confirmAnswers.empty()) {
            return false;
        }
        const bool next = confirmAnswers.front();
        confirmAnswers.erase(confirmAnswers.begin());
        return next;
    }
    // The window's own dialogs: what the operator does in them (cancels without).
    std::function<int(QDialog&)> runDialog;
    int run(QDialog& dialog) override { return runDialog ? runDialog(dialog) : QDialog::Rejected; }
    // The print dialog: what the operator does with the printer (cancels without).
    std::function<bool(QPrinter&)> printDialog;
    int printDialogsRun = 0;
    bool choosePrinter(QWidget*, QPrinter& printer) override {
        ++printDialogsRun;
        return printDialog && printDialog(printer);
    }
};

// The serial devices "present": what the test puts in the list.
struct FakeDevices : SerialDeviceSource {
    std::vector<SerialDevice> list;
    mutable int asked = 0;
    std::vector<SerialDevice> devices() const override {
        ++asked;
        return list;
    }
};

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.valid());
        ASSERT_TRUE(dir.isValid());
        createWindow();
    }

    // The window as the program creates it; the port then points at the pty unless
    // the test looks at the settings themselves.
    void createWindow(bool portOnPty = true) {
        form = std::make_unique<TForm1>(editorRecord, state,
                                        TForm1Options{.settingsPath = settingsPath(),
                                                      .dialogs = &dialogs,
                                                      .clock = &clock,
                                                      .devices = &devices,
                                                      .libraryDir = libraryDir()});
        // Each wait of a Device command lets the frames handed over since the port
        // opened reach the line, as they would in the time the wait stands for.
        form->Comm().SetPortOpener([this](const std::string& name) {
            handedOverAtOpen = form->Link().bytesHandedOver();
            lineAtOpen = pty.total();
            return openCommPort(name);
        });
        clock.settle = [this] {
            if (form->Comm().IsOpen()) {
                pty.catchUp(lineAtOpen +
                            static_cast<qint64>(form->Link().bytesHandedOver() - handedOverAtOpen));
            }
        };
        if (portOnPty) {
            state.comPortName = pty.slavePath();
        }
        lineAtCreation = pty.total();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }

    QString settingsPath() const { return dir.filePath(QStringLiteral("cantavel.ini")); }
    // The preset library's index and folder list: never the user's own.
    QString libraryDir() const { return dir.filePath(QStringLiteral("library")); }

    template <typename T> T* child(const char* name) const {
        T* found = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QAction* action(const char* name) const { return child<QAction>(name); }
    // The texts of the checked items of a menu, in menu order.
    QStringList checkedItems(const char* menu) const {
        QStringList texts;
        for (QAction* item : child<QMenu>(menu)->actions()) {
            if (item->isChecked()) {
                texts << item->text();
            }
        }
        return texts;
    }
    QString text(const char* edit) const { return child<QLineEdit>(edit)->text(); }
    ConfigRecord& record() { return editorRecord; }

    QTabBar* tabs() const { return form->findChild<QTabBar*>(QStringLiteral("tabs")); }
    void clickTab(int index) {
        QTest::mouseClick(tabs(), Qt::LeftButton, {}, tabs()->tabRect(index).center());
    }

    // Link on through the menu; returns the mode record frame it sent.
    QByteArray linkOn() {
        action("Link1")->trigger();
        return pty.read(27);
    }

    // Picks an item of a list the way the operator does: popup, item, Enter.
    void pick(QComboBox* list, int index) {
        list->showPopup();
        QAbstractItemView* view = list->view();
        view->setCurrentIndex(list->model()->index(index, 0));
        QTest::keyClick(view, Qt::Key_Return);
    }

    void clickUpDown(const char* name, bool up) {
        QWidget* button = child<QWidget>(name)->findChild<QWidget*>(up ? QStringLiteral("next")
                                                                       : QStringLiteral("prev"));
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Everything that reached the line since the last look. The window puts bytes on
    // the line through its link only, which counts them: as many as it has handed to
    // the port are waited for, and whatever else is there already comes with them.
    QByteArray sent() {
        const auto handed = static_cast<qint64>(form->Link().bytesHandedOver());
        EXPECT_TRUE(pty.catchUp(lineAtCreation + handed, std::chrono::seconds(5)))
            << pty.total() - lineAtCreation << " of the " << handed
            << " bytes handed to the port reached the line";
        return pty.drain(std::chrono::milliseconds(0));
    }

    static QByteArray hex(const char* text) {
        return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    }

    Pty pty;
    QTemporaryDir dir;
    FakeDialogs dialogs;
    FakeDevices devices;
    // What the editor's creator owns: the record, the run-time state, the clock.
    ConfigRecord editorRecord;
    RuntimeState state;
    FakeClock clock;
    std::uint64_t handedOverAtOpen = 0;
    qint64 lineAtOpen = 0;
    qint64 lineAtCreation = 0; // bytes the line had seen before the window
    std::unique_ptr<TForm1> form;
};

} // namespace cantavel::testing
