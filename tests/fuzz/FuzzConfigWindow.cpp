// A configuration file of any length and content, opened in the real main window
// (offscreen), every tab shown, and saved again: nothing crashes, and the saved file
// differs from what was read only where showing a value clamped it into its control.

#include "ConfigRecord.h"
#include "Dialogs.h"
#include "MainWindow.h"

#include <QApplication>
#include <QFile>
#include <QTabBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

using cantavel::ConfigRecord;

struct Answers : cantavel::EditorDialogs {
    QString next;
    void message(QWidget*, Icon, const QString&, const QString& text, const QString&) override {
        // A readable file and a writable folder need no message but the warning that
        // a file of another length is no preset file.
        if (!text.endsWith(QLatin1String(" bytes, not a preset file."))) {
            std::abort();
        }
    }
    QString chooseFile(QFileDialog&) override { return next; }
    Answer askToSave(QWidget*, const QString&, const QString&) override { return Answer::Discard; }
    bool choosePrinter(QWidget*, QPrinter&) override { return false; }
    bool confirm(QWidget*, const QString&, const QString&) override { return true; }
};

// Made once and kept to the end of the process: fuzzing runs have no orderly end,
// and a QApplication torn down among the static destructors would crash there.
struct Harness {
    std::unique_ptr<QApplication> app;
    QTemporaryDir dir;
    Answers answers;
    ConfigRecord record;
    cantavel::RuntimeState state;
    std::unique_ptr<cantavel::TForm1> form;
};
Harness* harness = nullptr;

std::uint8_t clamp(std::uint8_t value, int low, int high) {
    return static_cast<std::uint8_t>(std::clamp<int>(value, low, high));
}

// What showing every tab does to a record: sliders and knobs take the nearest end of
// their range and write it back; lists and up-downs leave the record alone.
ConfigRecord clampedForDisplay(ConfigRecord r) {
    for (int slot = 0; slot < cantavel::kSlotCount; ++slot) {
        cantavel::EffectPreset& p = r.preset(slot);
        for (std::uint8_t* tone : {&p.musicBass, &p.musicMiddle, &p.musicTreble, &p.musicBalance,
                                   &p.micBass, &p.micMiddle, &p.micTreble}) {
            *tone = clamp(*tone, 0, 20);
        }
        p.echoDelay = clamp(p.echoDelay, 2, 247);
        for (std::uint8_t* level :
             {&p.echoRepeat, &p.echoLevel, &p.reverbTime, &p.reverbLevel, &p.effectVolume}) {
            *level = clamp(*level, 0, 80);
        }
    }
    // Each mode slot's volumes are held to that slot's own maxima.
    for (int slot : cantavel::kModeSlots) {
        cantavel::ModeRecord& m = r.mode(slot);
        m.musicVolume = clamp(m.musicVolume, 0, clamp(m.musicVolMax, 1, 63));
        m.micVolume = clamp(m.micVolume, 0, clamp(m.micVolMax, 1, 42));
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    harness = new Harness;
    harness->app = std::make_unique<QApplication>(*argc, *argv);
    qputenv("CANTAVEL_INSTANCE", "fuzz " + QByteArray::number(QCoreApplication::applicationPid()));
    // The window is never destroyed, so its guard never removes its lock file: it
    // keeps that in the harness's folder rather than in the user's home.
    cantavel::TXJustOne::setPlacesForTesting(cantavel::TXJustOne::Places{harness->dir.path(), {}});
    harness->form = std::make_unique<cantavel::TForm1>(
        harness->record, harness->state,
        cantavel::TForm1Options{.settingsPath =
                                    harness->dir.filePath(QStringLiteral("cantavel.ini")),
                                .dialogs = &harness->answers});
    harness->form->show();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    cantavel::TForm1& form = *harness->form;
    auto* tabs = form.findChild<QTabBar*>(QStringLiteral("tabs"));
    form.New1Click();

    ConfigRecord expected = harness->record;
    std::memcpy(expected.image().data(), data, std::min(size, cantavel::kConfigImageSize));
    expected = clampedForDisplay(expected);

    const QString in = harness->dir.filePath(QStringLiteral("in.cfg"));
    QFile file(in);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size)) {
        std::abort();
    }
    file.close();
    harness->answers.next = in;
    form.Open1Click();
    for (int tab : {1, 2, 3, 4, 5, 6, 0}) {
        tabs->setCurrentIndex(tab); // as the operator selects it
    }
    const QString out = harness->dir.filePath(QStringLiteral("out.cfg"));
    harness->answers.next = out;
    form.SaveAs1Click();

    QFile saved(out);
    if (!saved.open(QIODevice::ReadOnly)) {
        std::abort();
    }
    const QByteArray bytes = saved.readAll();
    if (bytes.size() != static_cast<qsizetype>(cantavel::kConfigImageSize) ||
        std::memcmp(bytes.constData(), expected.image().data(), cantavel::kConfigImageSize) != 0) {
        std::abort();
    }
    return 0;
}
