// The library window over snapshots made by hand (no index, no thread), and once
// over a real index of a folder of files: what it lists for a search, and what its
// slots do to the editor's record.

#include "LibraryWindow.h"
#include "ConfigFile.h"
#include "LibraryIndex.h"
#include "ParameterValues.h"
#include "SlotTransfer.h"
#include "SoundDialogs.h"
#include "WindowFixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include <cstring>
#include <memory>

namespace cantavel {
namespace {

using namespace std::chrono_literals;
using testing::pumpUntil;

const QString kFolder = QStringLiteral("/presets");

ConfigRecord freshRecord() {
    ConfigRecord r{};
    r.resetToDefaults();
    return r;
}

// A fresh record with values set as the window shows them: {slot, parameter, value}.
struct Setting {
    int slot;
    ParameterId id;
    const char* value;
};
ConfigRecord recordWith(std::initializer_list<Setting> settings) {
    ConfigRecord r = freshRecord();
    for (const Setting& s : settings) {
        EXPECT_EQ(setShownValue(r, s.slot, parameter(s.id), QLatin1String(s.value)), QString());
    }
    return r;
}

QByteArray imageOf(const ConfigRecord& record) {
    const auto image = record.image();
    return {reinterpret_cast<const char*>(image.data()), static_cast<qsizetype>(image.size())};
}

// A snapshot as the index makes one, of files in kFolder.
class SnapshotBuilder {
public:
    SnapshotBuilder& preset(const QString& name, const ConfigRecord& record) {
        snapshot_->files.push_back({.path = kFolder + QLatin1Char('/') + name,
                                    .name = name,
                                    .folder = kFolder,
                                    .size = kConfigImageSize,
                                    .preset = true,
                                    .firstSlot = static_cast<int>(snapshot_->allSlots.size())});
        for (int s = 0; s < kSlotCount; ++s) {
            LibrarySlot slot;
            slot.file = static_cast<int>(snapshot_->files.size()) - 1;
            slot.slot = s;
            std::memcpy(slot.preset.data(), &record.preset(s), kEffectPresetSize);
            std::memcpy(slot.mode.data(), &record.mode(s), kModeRecordSize);
            slot.shown = shownValues(record, s);
            slot.sound = soundOf(slot.shown);
            snapshot_->allSlots.push_back(slot);
        }
        return *this;
    }
    SnapshotBuilder& other(const QString& name) {
        snapshot_->files.push_back({.path = kFolder + QLatin1Char('/') + name,
                                    .name = name,
                                    .folder = kFolder,
                                    .size = 12});
        return *this;
    }
    LibrarySnapshotPtr done() {
        snapshot_->folders = {kFolder};
        snapshot_->finish();
        return snapshot_;
    }

private:
    std::shared_ptr<LibrarySnapshot> snapshot_ = std::make_shared<LibrarySnapshot>();
};

// What the tree lists: each top-level row's name, its rows beneath indented.
using Lines = std::vector<std::string>;
Lines lines(const QStringList& texts) {
    Lines out;
    for (const QString& text : texts) {
        out.push_back(text.toStdString());
    }
    return out;
}
Lines listing(const QAbstractItemModel& model) {
    Lines lines;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex top = model.index(row, 0);
        lines.push_back(top.data().toString().toStdString());
        for (int child = 0; child < model.rowCount(top); ++child) {
            lines.push_back("  " + model.index(child, 0, top).data().toString().toStdString());
        }
    }
    return lines;
}

class Library : public testing::WindowTest {
protected:
    // The window without a worker: it shows the snapshots the test gives it.
    void SetUp() override {
        WindowTest::SetUp();
        window = new LibraryWindow(*form, std::nullopt, questions);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    }

    template <typename T> T* part(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QTreeView* tree() const { return part<QTreeView>("LibraryTree"); }
    void type(const QString& text) {
        auto* box = part<QLineEdit>("LibrarySearch");
        box->clear();
        QTest::keyClicks(box, text);
    }
    // Makes a file's slot the tree's current row (and the only one selected).
    void pickSlot(const QString& name, int slot) {
        const QModelIndex row = window->model().indexOf({kFolder + QLatin1Char('/') + name, slot});
        ASSERT_TRUE(row.isValid()) << name.toStdString() << " " << slot;
        tree()->setCurrentIndex(row);
    }
    QStringList previewColumn(int column) const {
        QStringList texts;
        auto* preview = part<QTreeWidget>("LibraryPreview");
        for (int row = 0; row < preview->topLevelItemCount(); ++row) {
            texts << preview->topLevelItem(row)->text(column);
        }
        return texts;
    }
    // The parameters whose row the preview marks as differing.
    QStringList marked() const {
        QStringList names;
        const QStringList marks = previewColumn(3);
        const QStringList all = previewColumn(0);
        for (qsizetype i = 0; i < marks.size(); ++i) {
            if (!marks[i].isEmpty()) {
                names << all[i];
            }
        }
        return names;
    }

    LibraryQuestions questions = LibraryQuestions::widgets();
    LibraryWindow* window = nullptr; // the form's
};

TEST_F(Library, SearchFiltersAsOneTypesAndOneNotUnderstoodListsNothingButItsReason) {
    window->showSnapshot(SnapshotBuilder()
                             .preset(QStringLiteral("live/ballads.cfg"),
                                     recordWith({{5, ParameterId::EchoDelay, "220"},
                                                 {2, ParameterId::KeyIndex, "#+2"}}))
                             .preset(QStringLiteral("live/rock.cfg"), freshRecord())
                             .other(QStringLiteral("notes.txt"))
                             .done());
    const QStringList fresh{"  Default", "  1", "  2", "  3", "  4", "  Mode A", "  Mode B"};
    auto* error = part<QLabel>("LibraryQueryError");
    struct Case {
        const char* search;
        QStringList listed; // empty: not understood
    };
    const Case cases[] = {
        {"", QStringList{"live/ballads.cfg", "  Default", "  1", "  2: Key #+2", "  3", "  4",
                         "  Mode A: Delay 220", "  Mode B", "live/rock.cfg"} +
                 fresh + QStringList{"notes.txt (not a preset)"}},
        {"delay>=200", {"live/ballads.cfg", "  Mode A: Delay 220"}},
        {"nosuch=3", {}},
        {"key=#+2", {"live/ballads.cfg", "  2: Key #+2"}},
        {"notes", {"notes.txt (not a preset)"}},
        {"delay>=", {}},
        {"-ballads delay<200", QStringList{"live/rock.cfg"} + fresh},
        {"is:nothing", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.search);
        type(QLatin1String(c.search));
        EXPECT_EQ(listing(window->model()), lines(c.listed));
        EXPECT_EQ(error->isVisible(), c.listed.isEmpty());
        EXPECT_EQ(error->text().isEmpty(), !c.listed.isEmpty()) << "a reason in words";
    }
    type(QStringLiteral("delay>=200"));
    EXPECT_TRUE(part<QLabel>("LibraryStatus")
                    ->text()
                    .startsWith(QStringLiteral("Found 1 slot in 1 file of 3 files")))
        << part<QLabel>("LibraryStatus")->text().toStdString();
}

// The preview shows a slot as its tab would; compared with a tab it marks exactly the
// values that differ. Copying puts them on the tab as one step that Undo takes back
// to the byte, and a drag carries the slot's bytes.
TEST_F(Library, CopyToTabIsOneStepUndoTakesBackAndTheComparisonFollowsIt) {
    const ConfigRecord ballads = recordWith({{5, ParameterId::EchoDelay, "220"},
                                             {5, ParameterId::InputSource, "DVD"},
                                             {5, ParameterId::MusicVolMax, "50"}});
    window->showSnapshot(SnapshotBuilder().preset(QStringLiteral("ballads.cfg"), ballads).done());
    tree()->expandAll();
    pickSlot(QStringLiteral("ballads.cfg"), 5);

    QStringList names;
    QStringList values;
    for (const Parameter* p : slotParameters(5)) {
        names << QLatin1String(p->name);
        values << shownOrNone(shownText(ballads, 5, *p));
    }
    EXPECT_EQ(previewColumn(0), names);
    EXPECT_EQ(previewColumn(1), values);

    ASSERT_EQ(form->selectedSlot(), 0);
    part<QPushButton>("LibraryCompare")->click();
    EXPECT_EQ(lines(marked()), lines({"Delay", "Input", "Music Vol Max"}));

    const QByteArray before = imageOf(record());
    ASSERT_FALSE(form->Document().canUndo());
    part<QToolButton>("LibraryCopyToTab")->click(); // onto the tab selected: Default
    EXPECT_EQ(form->selectedSlot(), 0);
    for (const Parameter* p : slotParameters(0)) {
        EXPECT_EQ(shownText(record(), 0, *p), shownText(ballads, 5, *p)) << p->key;
    }
    EXPECT_EQ(lines(marked()), Lines()) << "the tab now holds what the slot holds";
    EXPECT_TRUE(form->IsModified());

    action("Undo1")->trigger();
    EXPECT_EQ(imageOf(record()), before);
    EXPECT_FALSE(form->Document().canUndo()) << "one step";
    EXPECT_EQ(lines(marked()), lines({"Delay", "Input", "Music Vol Max"}));

    // Another tab by the button's menu.
    part<QToolButton>("LibraryCopyToTab")->menu()->findChild<QAction*>("LibraryCopyTo6")->trigger();
    EXPECT_EQ(form->selectedSlot(), 6);
    EXPECT_EQ(shownText(record(), 6, parameter(ParameterId::EchoDelay)), QStringLiteral("220"));

    const QModelIndex row = tree()->currentIndex();
    std::unique_ptr<QMimeData> dragged(window->model().mimeData({row}));
    ASSERT_TRUE(dragged);
    const std::optional<SlotTransfer> carried = slotFromMimeData(*dragged);
    ASSERT_TRUE(carried);
    EXPECT_EQ(carried->slot, 5);
    EXPECT_EQ(carried->source, QStringLiteral("ballads.cfg, Mode A"));
    EXPECT_EQ(std::memcmp(&carried->record.preset(5), &ballads.preset(5), kEffectPresetSize), 0);
    EXPECT_EQ(std::memcmp(&carried->record.mode(5), &ballads.mode(5), kModeRecordSize), 0);
}

// Blend with Tab opens the editor's Blend dialog with the slot picked as slot B, named
// by its file; at 100 % the tab holds the library slot's values, as one step.
TEST_F(Library, BlendWithTabOffersTheSlotPickedAsSlotB) {
    const ConfigRecord ballads =
        recordWith({{5, ParameterId::EchoDelay, "220"}, {5, ParameterId::InputSource, "DVD"}});
    window->showSnapshot(SnapshotBuilder().preset(QStringLiteral("ballads.cfg"), ballads).done());
    tree()->expandAll();
    pickSlot(QStringLiteral("ballads.cfg"), 5);
    const QByteArray before = imageOf(record());
    dialogs.runDialog = [](QDialog& d) {
        auto& blend = dynamic_cast<BlendDialog&>(d);
        EXPECT_EQ(blend.source(), 0);
        EXPECT_EQ(blend.sources()[0].name, QStringLiteral("ballads.cfg, Mode A"));
        blend.setPercent(100);
        return int(QDialog::Accepted);
    };
    part<QPushButton>("LibraryBlend")->click();
    for (const Parameter* p : slotParameters(0)) {
        EXPECT_EQ(shownText(record(), 0, *p), shownText(ballads, 5, *p)) << p->key;
    }
    action("Undo1")->trigger();
    EXPECT_EQ(imageOf(record()), before);
}

TEST_F(Library, DuplicatesGroupTheSlotsThatSoundAlikeAndSameAsNamesTheFirst) {
    const LibrarySnapshotPtr snapshot =
        SnapshotBuilder()
            .preset(QStringLiteral("a.cfg"), recordWith({{5, ParameterId::EchoDelay, "220"}}))
            .preset(QStringLiteral("b.cfg"), recordWith({{5, ParameterId::EchoDelay, "220"},
                                                         {3, ParameterId::KeyIndex, "#+2"}}))
            .preset(QStringLiteral("c.cfg"), recordWith({{3, ParameterId::KeyIndex, "#+2"}}))
            .done();
    window->showSnapshot(snapshot);
    const auto sameAs = [this](const char* file, int slot) {
        const QModelIndex row = window->model().indexOf({kFolder + '/' + file, slot});
        return row.siblingAtColumn(LibraryModel::SameAsColumn).data().toString();
    };
    EXPECT_EQ(sameAs("a.cfg", 5), QString());
    EXPECT_EQ(sameAs("b.cfg", 5), QStringLiteral("same as a.cfg, Mode A"));
    EXPECT_EQ(sameAs("c.cfg", 3), QStringLiteral("same as b.cfg, slot 3"));

    part<QCheckBox>("LibraryDuplicates")->click();
    type(QStringLiteral("delay>=200"));
    EXPECT_EQ(listing(window->model()),
              lines({"2 slots sound alike: Delay 220", "  a.cfg, Mode A", "  b.cfg, Mode A"}));
    type(QStringLiteral("key=#+2"));
    EXPECT_EQ(listing(window->model()),
              lines({"2 slots sound alike: Key #+2", "  b.cfg, slot 3", "  c.cfg, slot 3"}));

    // The whole library: each slot whose values another slot has is in exactly one
    // group, with those alike and no others.
    type(QString());
    const auto& all = snapshot->allSlots;
    std::size_t alikeSomewhere = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        alikeSomewhere += std::count_if(all.begin(), all.end(), [&](const LibrarySlot& s) {
                              return s.shown == all[i].shown;
                          }) > 1;
    }
    const LibraryModel& model = window->model();
    std::size_t grouped = 0;
    for (int group = 0; group < model.rowCount(); ++group) {
        const QModelIndex top = model.index(group, 0);
        const auto& first = all[static_cast<std::size_t>(model.slotAt(model.index(0, 0, top)))];
        EXPECT_TRUE(top.data().toString().startsWith(
            QStringLiteral("%1 slots sound alike").arg(model.rowCount(top))));
        for (int child = 0; child < model.rowCount(top); ++child) {
            const int s = model.slotAt(model.index(child, 0, top));
            EXPECT_EQ(all[static_cast<std::size_t>(s)].shown, first.shown);
            ++grouped;
        }
        for (int later = group + 1; later < model.rowCount(); ++later) {
            const int s = model.slotAt(model.index(0, 0, model.index(later, 0)));
            EXPECT_NE(all[static_cast<std::size_t>(s)].shown, first.shown);
        }
    }
    EXPECT_EQ(grouped, alikeSomewhere);
}

// Of several slots selected, a drag carries the one it began on (the tree's current
// row), not the first one selected.
TEST_F(Library, ADragOfOneOfSeveralSlotsSelectedCarriesThatOne) {
    window->showSnapshot(SnapshotBuilder()
                             .preset(QStringLiteral("a.cfg"), freshRecord())
                             .preset(QStringLiteral("b.cfg"), freshRecord())
                             .done());
    tree()->expandAll();
    const QModelIndex first = window->model().indexOf({kFolder + QStringLiteral("/a.cfg"), 1});
    const QModelIndex grabbed = window->model().indexOf({kFolder + QStringLiteral("/b.cfg"), 3});
    tree()->setCurrentIndex(first);
    tree()->selectionModel()->setCurrentIndex(grabbed, QItemSelectionModel::Select |
                                                           QItemSelectionModel::Rows);
    ASSERT_EQ(window->selectedSlots().size(), 2u);
    const std::unique_ptr<QMimeData> data(
        window->model().mimeData(tree()->selectionModel()->selectedIndexes()));
    ASSERT_NE(data, nullptr);
    const std::optional<SlotTransfer> slot = slotFromMimeData(*data);
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->source, QStringLiteral("b.cfg, slot 3"));
}

// A new snapshot (a scan, a tag changed) keeps the slot picked where it is still listed.
TEST_F(Library, ANewSnapshotKeepsTheSlotPicked) {
    const ConfigRecord ballads = recordWith({{5, ParameterId::EchoDelay, "220"}});
    window->showSnapshot(SnapshotBuilder().preset(QStringLiteral("ballads.cfg"), ballads).done());
    tree()->expandAll();
    pickSlot(QStringLiteral("ballads.cfg"), 5);
    window->showSnapshot(SnapshotBuilder()
                             .preset(QStringLiteral("a.cfg"), freshRecord())
                             .preset(QStringLiteral("ballads.cfg"), ballads)
                             .done());
    EXPECT_EQ(window->model().keyAt(tree()->currentIndex()),
              (LibraryModel::RowKey{kFolder + QStringLiteral("/ballads.cfg"), 5}));
    EXPECT_TRUE(tree()->isExpanded(tree()->currentIndex().parent()));
    EXPECT_EQ(window->selectedSlots().size(), 1u);
    EXPECT_FALSE(previewColumn(1).isEmpty());
}

// However large the scale and small the screen, the window opens on it whole.
TEST_F(Library, TheWindowOpensWithinTheScreen) {
    const QRect screen = window->screen()->availableGeometry();
    EXPECT_LE(window->width(), screen.width());
    EXPECT_LE(window->height(), screen.height());
}

// A screen reader names every control it can reach, the search box's clear button
// among them, and hears the window as a window (it was a nameless "filler").
TEST_F(Library, EveryControlHasANameForAScreenReader) {
    QAccessibleInterface* self = QAccessible::queryAccessibleInterface(window);
    ASSERT_NE(self, nullptr);
    EXPECT_EQ(self->role(), QAccessible::Window);
    EXPECT_EQ(self->text(QAccessible::Name), QStringLiteral("Library"));
    window->showSnapshot(SnapshotBuilder().preset(QStringLiteral("a.cfg"), freshRecord()).done());
    type(QStringLiteral("a"));
    QCoreApplication::processEvents();
    int checked = 0;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisible() ||
            (w->focusPolicy() == Qt::NoFocus && !qobject_cast<QAbstractButton*>(w))) {
            continue;
        }
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        if (a->role() == QAccessible::Client || a->role() == QAccessible::ScrollBar) {
            continue; // a view's inner parts, named by the view
        }
        ++checked;
        EXPECT_FALSE(a->text(QAccessible::Name).isEmpty())
            << w->metaObject()->className() << " " << w->objectName().toStdString() << " in "
            << (w->parentWidget() ? w->parentWidget()->objectName().toStdString() : "");
    }
    EXPECT_GE(checked, 14);
}

// A search typed with many rows selected keeps them selected by finding each again
// in the new listing: by the file's path, which was looked for through every file of
// the library, one selected row after another (seconds a keystroke with a thousand
// rows selected at the end of 100,000 files).
TEST_F(Library, TypingWithManyRowsSelectedStaysQuick) {
    SnapshotBuilder builder;
    constexpr int kFiles = 100'000;
    for (int i = 0; i < kFiles; ++i) {
        builder.other(QStringLiteral("other-%1.cfg").arg(i, 6, 10, QLatin1Char('0')));
    }
    window->showSnapshot(builder.done());
    type(QStringLiteral("other-099"));
    ASSERT_EQ(window->model().rowCount(), 1000);
    tree()->selectAll();
    ASSERT_EQ(tree()->selectionModel()->selectedRows().size(), 1000);
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(part<QLineEdit>("LibrarySearch"), Qt::Key_9);
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(tree()->selectionModel()->selectedRows().size(), 100);
    EXPECT_LT(ms, 1000) << "ms for one key";
}

// A file deep in folders of long names: picking one of its slots shows its name
// above the values without widening the window past the screen or squeezing the list,
// and the questions about the slot fit on a screen too.
TEST_F(Library, ALongNameNeitherWidensTheWindowNorItsQuestions) {
    QString name;
    for (int depth = 0; depth < 14; ++depth) {
        name += QString(240, QLatin1Char('x')) + QLatin1Char('/');
    }
    name += QString(240, QLatin1Char('n')) + QStringLiteral(".cfg");
    window->showSnapshot(SnapshotBuilder().preset(name, freshRecord()).done());
    QCoreApplication::processEvents();
    const int width = window->width();
    tree()->expandAll();
    for (const bool comparing : {false, true}) {
        SCOPED_TRACE(comparing ? "compared with a tab" : "alone");
        part<QPushButton>("LibraryCompare")->setChecked(comparing);
        pickSlot(name, 3);
        QCoreApplication::processEvents();
        EXPECT_LE(window->width(), width);
        EXPECT_GE(tree()->width(), width / 3);
        EXPECT_FALSE(previewColumn(1).isEmpty());
    }

    QStringList labels;
    int dialogWidth = 0;
    questions.text = [&labels](QWidget*, const QString& label, const QString&, bool) {
        labels << label;
        return std::optional<QString>();
    };
    questions.run = [&dialogWidth](QDialog& dialog) {
        dialogWidth = dialog.sizeHint().width();
        return false;
    };
    window->setQuestions(questions);
    window->editTags(); // their buttons need a worker, which this window has not
    window->editNote();
    part<QPushButton>("LibraryNewSet")->click();
    ASSERT_EQ(labels.size(), 2);
    for (const QString& label : labels) {
        EXPECT_LT(label.size(), 300) << label.left(300).toStdString();
    }
    EXPECT_GT(dialogWidth, 0);
    EXPECT_LT(dialogWidth, 1000);
}

TEST_F(Library, NewSetFromSlotsMakesAnUnsavedRecordOfTheSlotsChosen) {
    const ConfigRecord a =
        recordWith({{5, ParameterId::EchoDelay, "220"}, {5, ParameterId::MusicVolMax, "50"}});
    const ConfigRecord b = recordWith({{3, ParameterId::KeyIndex, "#+2"}});
    window->showSnapshot(SnapshotBuilder()
                             .preset(QStringLiteral("a.cfg"), a)
                             .preset(QStringLiteral("b.cfg"), b)
                             .done());
    tree()->expandAll();
    pickSlot(QStringLiteral("a.cfg"), 5);
    tree()->selectionModel()->select(window->model().indexOf({kFolder + "/b.cfg", 3}),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);

    // Unsaved work is asked about first; Cancel leaves everything as it was.
    ASSERT_EQ(form->Document().setValue(1, ParameterId::EchoRepeat, 33),
              PresetDocument::SetResult::Changed);
    const QByteArray edited = imageOf(record());
    QStringList offered;
    questions.run = [&offered](QDialog& dialog) {
        offered.clear();
        for (int tab = 0; tab < kSlotCount; ++tab) {
            auto* combo =
                dialog.findChild<QComboBox*>(QStringLiteral("LibraryNewSetTarget%1").arg(tab));
            offered << combo->currentText();
        }
        // Mode A's values on Default too.
        dialog.findChild<QComboBox*>(QStringLiteral("LibraryNewSetTarget0"))->setCurrentIndex(1);
        return true;
    };
    window->setQuestions(questions);
    dialogs.saveAnswers = {EditorDialogs::Answer::Cancel};
    part<QPushButton>("LibraryNewSet")->click();
    EXPECT_EQ(dialogs.questions.size(), 1);
    EXPECT_EQ(imageOf(record()), edited);

    dialogs.saveAnswers = {EditorDialogs::Answer::Discard};
    part<QPushButton>("LibraryNewSet")->click();
    const QString none = QStringLiteral("(new record's values)");
    EXPECT_EQ(lines(offered),
              lines({none, none, none, "b.cfg, slot 3", none, "a.cfg, Mode A", none}))
        << "each slot on the tab of its own number at first";
    EXPECT_TRUE(form->IsModified());
    EXPECT_TRUE(state.currentFileName.isEmpty());
    const ConfigRecord fresh = freshRecord();
    for (int slot = 0; slot < kSlotCount; ++slot) {
        SCOPED_TRACE(slot);
        const ConfigRecord& expected = slot == 0 || slot == 5 ? a : slot == 3 ? b : fresh;
        const int from = slot == 0 ? 5 : slot;
        for (const Parameter* p : slotParameters(slot)) {
            EXPECT_EQ(shownText(record(), slot, *p), shownText(expected, from, *p)) << p->key;
        }
    }
}

// With a worker on an index of the test's own: start-up leaves the library alone;
// Ctrl+L makes the one window, which lists the folder once scanned, writes the
// operator's notes through the worker, and opens a file on Enter.
using LibraryOnDisk = testing::WindowTest;

TEST_F(LibraryOnDisk, CtrlLMakesTheWindowThatListsAScannedFolderAndNotesGoThroughTheIndex) {
    const LibraryLocation location = LibraryLocation::in(libraryDir());
    EXPECT_FALSE(QFileInfo::exists(location.database)) << "start-up opens no library";
    EXPECT_EQ(form->findChild<LibraryWindow*>(), nullptr) << "nor makes its window";

    const QString presets = dir.filePath(QStringLiteral("presets"));
    ASSERT_TRUE(QDir().mkpath(presets));
    const QString ballads = presets + QStringLiteral("/ballads.cfg");
    ASSERT_TRUE(saveConfigFile(ballads, recordWith({{5, ParameterId::EchoDelay, "220"}})));
    ASSERT_TRUE(saveConfigFile(presets + QStringLiteral("/rock.cfg"), freshRecord()));
    QFile readme(presets + QStringLiteral("/short.cfg"));
    ASSERT_TRUE(readme.open(QIODevice::WriteOnly));
    readme.write("not a preset");
    readme.close();
    ASSERT_EQ(addLibraryFolder(location.folderList, presets), QString());
    ASSERT_EQ(removeLibraryFolder(location.folderList, defaultLibraryFolder()), QString());

    QTest::keyClick(form.get(), Qt::Key_L, Qt::ControlModifier);
    auto* library = form->findChild<LibraryWindow*>();
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(library->isVisible());
    EXPECT_TRUE(library->isWindow());
    const auto topLevel = [library] {
        QStringList names;
        for (int row = 0; row < library->model().rowCount(); ++row) {
            names << library->model().index(row, 0).data().toString();
        }
        return names;
    };
    const QStringList expected{"ballads.cfg", "rock.cfg", "short.cfg (not a preset)"};
    EXPECT_TRUE(pumpUntil([&] { return topLevel() == expected; }, 10s))
        << topLevel().join(", ").toStdString();
    auto* progress = library->findChild<QProgressBar*>(QStringLiteral("LibraryProgress"));
    EXPECT_TRUE(pumpUntil([&] { return !progress->isVisible(); }));
    EXPECT_TRUE(QFileInfo::exists(location.database));
    action("Library1")->trigger();
    EXPECT_EQ(form->findChildren<LibraryWindow*>().size(), 1) << "the one window, shown again";

    auto* tree = library->findChild<QTreeView*>(QStringLiteral("LibraryTree"));
    tree->expandAll();
    tree->setCurrentIndex(library->model().indexOf({ballads, 5}));
    LibraryQuestions answers = LibraryQuestions::widgets();
    answers.text = [](QWidget*, const QString&, const QString&, bool) {
        return std::optional<QString>(QStringLiteral("live, ballad"));
    };
    library->setQuestions(answers);
    library->findChild<QPushButton*>(QStringLiteral("LibraryTagsButton"))->click();
    const auto cell = [library, &ballads](int column) {
        return library->model().indexOf({ballads, 5}).siblingAtColumn(column).data().toString();
    };
    EXPECT_TRUE(pumpUntil([&] { return cell(LibraryModel::TagsColumn) == "ballad, live"; }))
        << cell(LibraryModel::TagsColumn).toStdString();
    EXPECT_EQ(library->model().keyAt(tree->currentIndex()), (LibraryModel::RowKey{ballads, 5}))
        << "still the slot picked";
    QTest::keyClick(tree, Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(pumpUntil([&] { return cell(LibraryModel::FavouriteColumn) == "\u2605"; }));
    auto* search = library->findChild<QLineEdit*>(QStringLiteral("LibrarySearch"));
    search->setText(QStringLiteral("tag:ballad is:fav"));
    EXPECT_EQ(listing(library->model()), lines({"ballads.cfg", "  Mode A: Delay 220"}));

    tree->setCurrentIndex(library->model().indexOf({ballads, 5}));
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(state.currentFileName, ballads);
    EXPECT_EQ(shownText(record(), 5, parameter(ParameterId::EchoDelay)), QStringLiteral("220"));
}

// An index that cannot be used at all is said once, and the window does not go on
// saying that it reads the library: nothing will come until Rescan.
TEST_F(LibraryOnDisk, AnIndexThatCannotBeUsedIsSaidAndNotAwaited) {
    const QString notAFolder = dir.filePath(QStringLiteral("file"));
    QFile file(notAFolder);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    LibraryWindow library(*form, LibraryLocation::in(notAFolder));
    auto* status = library.findChild<QLabel*>(QStringLiteral("LibraryStatus"));
    EXPECT_TRUE(pumpUntil([&] {
        return status->text().contains(QStringLiteral("cannot be used"));
    })) << status->text().toStdString();
    EXPECT_FALSE(status->text().contains(QStringLiteral("Reading")))
        << status->text().toStdString();
    EXPECT_TRUE(library.findChild<QPushButton*>(QStringLiteral("LibraryRescan"))->isEnabled());
}

// Tags noted from the command line may hold a space or a comma. The window's Tags...
// and the tree's Tags cell show them so that accepting them unchanged changes nothing,
// and what the operator types is split as before.
TEST_F(LibraryOnDisk, TagsWithSpacesSurviveTheTagsQuestionAndTheTagsCell) {
    const LibraryLocation location = LibraryLocation::in(libraryDir());
    const QString presets = dir.filePath(QStringLiteral("presets"));
    ASSERT_TRUE(QDir().mkpath(presets));
    const QString live = presets + QStringLiteral("/live.cfg");
    ASSERT_TRUE(saveConfigFile(live, freshRecord()));
    ASSERT_EQ(addLibraryFolder(location.folderList, presets), QString());
    ASSERT_EQ(removeLibraryFolder(location.folderList, defaultLibraryFolder()), QString());
    const QStringList noted{"live set", "a,b", "ballad"};
    {
        LibraryIndex index(location.database);
        ASSERT_TRUE(index.open().ok);
        ASSERT_TRUE(index.scan({presets}).ok);
        ASSERT_EQ(index.changeTags(live, 0, noted, {}), QString());
    }
    LibraryWindow library(*form, location);
    const auto tags = [&] {
        const QModelIndex row = library.model().indexOf({live, 0});
        return row.isValid() && library.snapshot()
                   ? library.snapshot()->allSlots[std::size_t(library.model().slotAt(row))].tags
                   : QStringList();
    };
    ASSERT_TRUE(pumpUntil([&] { return tags().size() == 3; }, 10s));
    auto* tree = library.findChild<QTreeView*>(QStringLiteral("LibraryTree"));
    tree->expandAll();
    tree->setCurrentIndex(library.model().indexOf({live, 0}));

    struct Step {
        const char* typed; // nullptr: accepted as shown
        QStringList after;
    };
    const Step steps[] = {
        {nullptr, {"a,b", "ballad", "live set"}},
        {"\"live set\", slow  fast", {"fast", "live set", "slow"}},
        {nullptr, {"fast", "live set", "slow"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.typed ? step.typed : "as shown");
        LibraryQuestions answers = LibraryQuestions::widgets();
        answers.text = [&step](QWidget*, const QString&, const QString& shown, bool) {
            return std::optional<QString>(step.typed ? QString::fromUtf8(step.typed) : shown);
        };
        library.setQuestions(answers);
        library.editTags();
        EXPECT_TRUE(pumpUntil([&] {
            QStringList now = tags();
            now.sort(Qt::CaseInsensitive);
            return now == step.after;
        })) << tags().join(QLatin1Char('|')).toStdString();
    }
    // The cell edits what it shows, the same way.
    const QModelIndex cell =
        library.model().indexOf({live, 0}).siblingAtColumn(LibraryModel::TagsColumn);
    library.model().setData(cell, cell.data(Qt::EditRole), Qt::EditRole);
    std::this_thread::sleep_for(200ms);
    testing::handlePending();
    QStringList now = tags();
    now.sort(Qt::CaseInsensitive);
    EXPECT_EQ(now, (QStringList{"fast", "live set", "slow"}));
}

} // namespace
} // namespace cantavel
