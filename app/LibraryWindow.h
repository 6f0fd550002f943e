#pragma once

// The preset library in a window of its own: a search over every slot of every file
// under the library's folders, a tree of the files found (or of the slots that sound
// alike), the values of the slot picked, and what the operator does with one: open
// its file, copy it onto one of the editor's tabs, compare it with a tab, drag it
// onto a tab, build a new record of several, and note tags, a favourite mark or a
// note on it. The index lives on the worker's thread; this window only ever sees the
// snapshots it publishes.

#include "LibraryIndex.h"
#include "LibraryModel.h"
#include "LibraryWorker.h"

#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;
class QTreeView;
class QTreeWidget;

namespace cantavel {

class TForm1;

// What the window asks the operator, each through a function tests can replace.
struct LibraryQuestions {
    // A folder to add; empty when cancelled.
    std::function<QString(QWidget* parent)> folder;
    // One of `items`; nothing when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& label,
                                         const QStringList& items)>
        item;
    // A line of text (or several with `multiLine`) starting from `text`; nothing
    // when cancelled.
    std::function<std::optional<QString>(QWidget* parent, const QString& label, const QString& text,
                                         bool multiLine)>
        text;
    // Runs one of the window's dialogs; true when accepted.
    std::function<bool(QDialog& dialog)> run;

    // The real dialogs.
    static LibraryQuestions widgets();
};

class LibraryWindow : public QWidget {
    Q_OBJECT

public:
    // A window for `form`'s library, owned by `form` but a window of its own. With a
    // location, a worker on its own thread opens the index there and scans; without
    // one, the window shows only the snapshots it is given.
    LibraryWindow(TForm1& form, std::optional<LibraryLocation> location,
                  LibraryQuestions questions = LibraryQuestions::widgets());
    ~LibraryWindow() override;

    void setQuestions(LibraryQuestions questions) { questions_ = std::move(questions); }
    const LibrarySnapshotPtr& snapshot() const { return snapshot_; }
    LibraryModel& model() { return *model_; }
    // The snapshot's slots selected in the tree, in the tree's order.
    std::vector<int> selectedSlots() const;

    // Slot actions on the tree's current slot; each does nothing without one.
    void openCurrent();
    void copyToTab(int target);
    // The editor's Blend dialog for its tab, with the slot picked here as slot B.
    void blendWithTab();
    void newSetFromSlots();
    void toggleFavourite();
    void editTags();
    void editNote();
    // Folder actions, through the worker.
    void addFolder();
    void removeFolder();
    void rescan();

public slots:
    // A snapshot to list and search: from the worker, or by hand.
    void showSnapshot(cantavel::LibrarySnapshotPtr snapshot);

protected:
    bool event(QEvent* event) override;

private:
    void buildLayout();
    void buildActions();
    // The search box's text searched in the snapshot shown; `keepView` keeps the
    // selection and scroll position where the same rows are still listed.
    void search(bool keepView);
    void showPreview();
    void showCounts();
    void setScanning(bool running);
    void showProblem(const QString& text);
    void updateActions();
    // The tree's current slot; -1 for none.
    int currentSlot() const;
    // Hands a call to the worker, on its thread; nothing happens without one.
    void toWorker(std::function<void(LibraryWorker&)> call);
    void tagsEdited(int slot, const QStringList& tags);

    TForm1& form_;
    LibraryQuestions questions_;
    std::unique_ptr<LibraryThread> thread_;
    LibrarySnapshotPtr snapshot_;
    LibraryModel* model_ = nullptr;

    QLineEdit* search_ = nullptr;
    QLabel* queryError_ = nullptr;
    QCheckBox* duplicates_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLabel* previewTitle_ = nullptr;
    QTreeWidget* preview_ = nullptr;
    QToolButton* copyToTab_ = nullptr;
    QMenu* copyMenu_ = nullptr;
    QPushButton* compare_ = nullptr;
    QPushButton* blend_ = nullptr;
    QPushButton* newSet_ = nullptr;
    QPushButton* favourite_ = nullptr;
    QPushButton* tags_ = nullptr;
    QPushButton* note_ = nullptr;
    QPushButton* addFolder_ = nullptr;
    QPushButton* removeFolder_ = nullptr;
    QPushButton* rescan_ = nullptr;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QAction* favouriteAction_ = nullptr;
    QString problem_;       // the worker's last message, until the next snapshot
    bool filtered_ = false; // the list shows what a search it understood found
};

} // namespace cantavel
