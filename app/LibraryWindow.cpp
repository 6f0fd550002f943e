#include "LibraryWindow.h"

#include "Elide.h"
#include "MainWindow.h"
#include "ParameterValues.h"
#include "SlotTransfer.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <utility>

namespace cantavel {

namespace {

// Beyond this many rows a search's result opens collapsed: the files are listed, and
// the operator opens the ones of interest.
constexpr int kExpandAtMost = 200;
// A selection larger than this is not carried over to a new snapshot.
constexpr qsizetype kKeptSelection = 1000;

// What of a slot's name and note the title above its values shows; the rest is
// left out in the middle.
constexpr qsizetype kTitleLength = 160;
constexpr qsizetype kTitleNoteLength = 400;
// A question's label is one line: the slot's name in it is shorter still.
constexpr qsizetype kQuestionNameLength = 80;

// Text that may break anywhere in a long run without spaces (a file's name deep in
// folders of long names), as a word-wrapped label otherwise cannot.
QString wrappable(const QString& text) {
    constexpr int kRun = 16;
    QString out;
    out.reserve(text.size() + text.size() / kRun);
    int run = 0;
    for (const QChar c : text) {
        out += c;
        run = c.isSpace() ? 0 : run + 1;
        if (run == kRun) {
            out += QChar(0x200B); // a zero-width space: a place to break, nothing shown
            run = 0;
        }
    }
    return out;
}

QString count(qsizetype n, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(QLocale().toString(static_cast<qlonglong>(n)),
                                       QLatin1String(n == 1 ? one : many));
}

// A window of its own, as a screen reader should hear it: Qt describes a plain
// widget that is a window as a part of one ("filler" to AT-SPI), which readers do not
// announce when it comes to the front.
QAccessibleInterface* describeWindow(const QString& className, QObject* object) {
    if (className == QLatin1String(LibraryWindow::staticMetaObject.className())) {
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    }
    return nullptr;
}

} // namespace

LibraryQuestions LibraryQuestions::widgets() {
    return {
        .folder =
            [](QWidget* parent) {
                return QFileDialog::getExistingDirectory(
                    parent, QStringLiteral("Add a Folder to the Library"));
            },
        .item = [](QWidget* parent, const QString& label,
                   const QStringList& items) -> std::optional<QString> {
            bool ok = false;
            QString chosen = QInputDialog::getItem(parent, QStringLiteral("Library"), label, items,
                                                   0, false, &ok);
            return ok ? std::optional(chosen) : std::nullopt;
        },
        .text = [](QWidget* parent, const QString& label, const QString& text,
                   bool multiLine) -> std::optional<QString> {
            bool ok = false;
            QString given = multiLine ? QInputDialog::getMultiLineText(
                                            parent, QStringLiteral("Library"), label, text, &ok)
                                      : QInputDialog::getText(parent, QStringLiteral("Library"),
                                                              label, QLineEdit::Normal, text, &ok);
            return ok ? std::optional(given) : std::nullopt;
        },
        .run = [](QDialog& dialog) { return dialog.exec() == QDialog::Accepted; },
    };
}

LibraryWindow::LibraryWindow(TForm1& form, std::optional<LibraryLocation> location,
                             LibraryQuestions questions)
    : QWidget(&form, Qt::Window), form_(form), questions_(std::move(questions)),
      model_(new LibraryModel(this)) {
    qRegisterMetaType<LibrarySnapshotPtr>();
    static const bool described = [] {
        QAccessible::installFactory(describeWindow);
        return true;
    }();
    (void)described;
    setObjectName(QStringLiteral("LibraryWindow"));
    setWindowTitle(QStringLiteral("Library - Cantavel"));
    setAccessibleName(QStringLiteral("Library"));
    buildLayout();
    buildActions();

    connect(search_, &QLineEdit::textChanged, this, [this] { search(true); });
    connect(duplicates_, &QCheckBox::toggled, this, [this] { search(true); });
    connect(model_, &LibraryModel::tagsEdited, this, &LibraryWindow::tagsEdited);
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        model_->setDragSlot(currentSlot());
        showPreview();
        updateActions();
    });
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &LibraryWindow::updateActions);
    connect(tree_, &QTreeView::activated, this, [this] { openCurrent(); });
    connect(tree_, &QTreeView::clicked, this, [this](const QModelIndex& index) {
        if (index.column() == LibraryModel::FavouriteColumn && model_->slotAt(index) >= 0) {
            toggleFavourite();
        }
    });
    // The values beside a tab follow the tab's changes.
    connect(&form_.Document(), &PresetDocument::valueChanged, this, [this] {
        if (compare_->isChecked()) {
            showPreview();
        }
    });

    if (location) {
        thread_ = std::make_unique<LibraryThread>(*location);
        LibraryWorker* worker = &thread_->worker();
        connect(worker, &LibraryWorker::snapshotReady, this, &LibraryWindow::showSnapshot);
        connect(worker, &LibraryWorker::scanning, this, &LibraryWindow::setScanning);
        connect(worker, &LibraryWorker::progress, this, [this](int done, int total) {
            progress_->setRange(0, total); // 0 of 0: still walking the folders
            progress_->setValue(done);
        });
        connect(worker, &LibraryWorker::problem, this, &LibraryWindow::showProblem);
        toWorker([](LibraryWorker& w) { w.start(); });
    }
    search(false);
    showCounts();
    updateActions();
    // Wide enough for a slot's summary beside its tags, but never beyond the screen
    // (a small one, or a large scale).
    QSize size(1100, 640);
    if (const QScreen* screen = form_.screen()) {
        size = size.boundedTo(screen->availableGeometry().size() * 0.9);
    }
    resize(size);
}

LibraryWindow::~LibraryWindow() {
    if (thread_) {
        thread_->worker().requestStop(); // a scan under way ends at its next file
        thread_.reset();
    }
}

void LibraryWindow::buildLayout() {
    auto* searchLabel = new QLabel(QStringLiteral("&Search:"), this);
    search_ = new QLineEdit(this);
    search_->setObjectName(QStringLiteral("LibrarySearch"));
    search_->setPlaceholderText(
        QStringLiteral("Search: words, delay>=200, key=#+2, tag:ballad, is:fav, -word"));
    search_->setClearButtonEnabled(true);
    // The clear button is named by its action's text; Qt gives it none.
    if (auto* clear = search_->findChild<QAction*>(QStringLiteral("_q_qlineeditclearaction"))) {
        clear->setText(QStringLiteral("Clear the search"));
    }
    search_->setAccessibleName(QStringLiteral("Search the library"));
    search_->setAccessibleDescription(
        QStringLiteral("Words of a file's name, tags or note; conditions on values such as "
                       "delay>=200 or key=#+2; tag:name, is:fav, is:dup; a minus sign turns a "
                       "term round"));
    searchLabel->setBuddy(search_);
    duplicates_ = new QCheckBox(QStringLiteral("&Duplicates"), this);
    duplicates_->setObjectName(QStringLiteral("LibraryDuplicates"));
    duplicates_->setAccessibleName(QStringLiteral("Duplicates"));
    duplicates_->setToolTip(QStringLiteral("List the slots that sound alike, in groups"));
    queryError_ = new QLabel(this);
    queryError_->setObjectName(QStringLiteral("LibraryQueryError"));
    queryError_->setAccessibleName(QStringLiteral("Search problem"));
    queryError_->setWordWrap(true);
    queryError_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    queryError_->setStyleSheet(QStringLiteral("color: #b00020;"));
    queryError_->hide();

    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("LibraryTree"));
    tree_->setAccessibleName(QStringLiteral("Library"));
    tree_->setModel(model_);
    tree_->setUniformRowHeights(true);
    tree_->setAllColumnsShowFocus(true);
    tree_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);
    tree_->setDragEnabled(true);
    tree_->setDragDropMode(QAbstractItemView::DragOnly);
    tree_->setDefaultDropAction(Qt::CopyAction);
    tree_->setContextMenuPolicy(Qt::CustomContextMenu);
    QHeaderView* header = tree_->header();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(LibraryModel::NameColumn, QHeaderView::Stretch);
    header->setSectionResizeMode(LibraryModel::FavouriteColumn, QHeaderView::Fixed);
    header->resizeSection(LibraryModel::TagsColumn, 110);
    header->resizeSection(LibraryModel::FavouriteColumn, 28);
    header->resizeSection(LibraryModel::SameAsColumn, 170);

    previewTitle_ = new QLabel(this);
    previewTitle_->setObjectName(QStringLiteral("LibraryPreviewTitle"));
    previewTitle_->setWordWrap(true);
    previewTitle_->setTextFormat(Qt::RichText);
    // A name from the disk never decides the window's width: the title takes the width
    // the values below it leave.
    QSizePolicy titlePolicy = previewTitle_->sizePolicy();
    titlePolicy.setHorizontalPolicy(QSizePolicy::Ignored);
    previewTitle_->setSizePolicy(titlePolicy);
    preview_ = new QTreeWidget(this);
    preview_->setObjectName(QStringLiteral("LibraryPreview"));
    preview_->setAccessibleName(QStringLiteral("Values of the selected slot"));
    preview_->setRootIsDecorated(false);
    preview_->setUniformRowHeights(true);
    preview_->setSelectionMode(QAbstractItemView::NoSelection);

    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(previewTitle_);
    rightLayout->addWidget(preview_, 1);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("LibrarySplitter"));
    splitter->setChildrenCollapsible(false);
    splitter->addWidget(tree_);
    splitter->addWidget(right);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({720, 360});

    const auto button = [this](const char* name, const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(QString(text).remove(QLatin1Char('&')).remove(QStringLiteral("...")));
        b->setToolTip(tip);
        return b;
    };
    copyToTab_ = new QToolButton(this);
    copyToTab_->setObjectName(QStringLiteral("LibraryCopyToTab"));
    copyToTab_->setText(QStringLiteral("&Copy to Tab"));
    copyToTab_->setAccessibleName(QStringLiteral("Copy to Tab"));
    copyToTab_->setToolTip(
        QStringLiteral("Puts the slot's values on the editor's tab; the arrow picks another tab"));
    copyToTab_->setPopupMode(QToolButton::MenuButtonPopup);
    copyToTab_->setFocusPolicy(Qt::StrongFocus);
    copyToTab_->setMinimumHeight(copyToTab_->sizeHint().height());
    compare_ = button("LibraryCompare", QStringLiteral("Co&mpare with Tab"),
                      QStringLiteral("Shows the slot's values beside those of the editor's tab"));
    compare_->setCheckable(true);
    blend_ = button("LibraryBlend", QStringLiteral("&Blend with Tab..."),
                    QStringLiteral("Moves the editor's tab towards the slot, as far as a slider "
                                   "says"));
    newSet_ = button("LibraryNewSet", QStringLiteral("&New Set from Slots..."),
                     QStringLiteral("A new record made of the slots selected"));
    favourite_ = button("LibraryFavouriteButton", QStringLiteral("&Favourite"),
                        QStringLiteral("Marks the slots selected as favourites, or unmarks them "
                                       "(Ctrl+D)"));
    tags_ = button("LibraryTagsButton", QStringLiteral("&Tags..."),
                   QStringLiteral("The slot's tags, separated by commas or spaces"));
    note_ = button("LibraryNoteButton", QStringLiteral("N&ote..."),
                   QStringLiteral("A note on the slot"));
    addFolder_ = button("LibraryAddFolder", QStringLiteral("&Add Folder..."),
                        QStringLiteral("Adds a folder of preset files to the library"));
    removeFolder_ = button("LibraryRemoveFolder", QStringLiteral("&Remove Folder..."),
                           QStringLiteral("Removes a folder from the library; its files stay"));
    rescan_ = button("LibraryRescan", QStringLiteral("R&escan"),
                     QStringLiteral("Reads the library's folders again"));

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("LibraryStatus"));
    status_->setAccessibleName(QStringLiteral("Library status"));
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setWordWrap(true);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("LibraryProgress"));
    progress_->setAccessibleName(QStringLiteral("Scan progress"));
    progress_->setFormat(QStringLiteral("%v of %m files"));
    progress_->setMaximumWidth(200);
    progress_->hide();

    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(search_, 1);
    searchRow->addWidget(duplicates_);
    auto* slotRow = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{copyToTab_, compare_, blend_, newSet_,
                                                      favourite_, tags_, note_}) {
        slotRow->addWidget(w);
    }
    slotRow->addStretch(1);
    auto* statusRow = new QHBoxLayout;
    statusRow->addWidget(status_, 1);
    statusRow->addWidget(progress_);
    statusRow->addWidget(addFolder_);
    statusRow->addWidget(removeFolder_);
    statusRow->addWidget(rescan_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(searchRow);
    layout->addWidget(queryError_);
    layout->addWidget(splitter, 1);
    layout->addLayout(slotRow);
    layout->addLayout(statusRow);

    // The keyboard goes from the search to what it found, its values, then the buttons.
    const std::array<QWidget*, 14> order{
        search_, duplicates_, tree_, preview_, copyToTab_, compare_,      blend_,
        newSet_, favourite_,  tags_, note_,    addFolder_, removeFolder_, rescan_};
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }
}

void LibraryWindow::buildActions() {
    copyMenu_ = new QMenu(QStringLiteral("&Copy to Tab"), this);
    copyMenu_->setObjectName(QStringLiteral("LibraryCopyMenu"));
    for (int slot = 0; slot < kSlotCount; ++slot) {
        QAction* item = copyMenu_->addAction(slotTitle(slot));
        item->setObjectName(QStringLiteral("LibraryCopyTo%1").arg(slot));
        connect(item, &QAction::triggered, this, [this, slot] { copyToTab(slot); });
    }
    // The tab selected in the editor is the one a plain click copies to.
    connect(copyMenu_, &QMenu::aboutToShow, this, [this] {
        copyMenu_->setDefaultAction(copyMenu_->actions().value(form_.selectedSlot()));
    });
    copyToTab_->setMenu(copyMenu_);
    connect(copyToTab_, &QToolButton::clicked, this, [this] { copyToTab(form_.selectedSlot()); });
    connect(blend_, &QPushButton::clicked, this, &LibraryWindow::blendWithTab);

    const auto action = [this](const char* name, const QString& text, const QKeySequence& keys,
                               void (LibraryWindow::*slot)()) {
        auto* a = new QAction(text, this);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, this, slot);
        addAction(a);
        return a;
    };
    favouriteAction_ = action("LibraryFavourite", QStringLiteral("&Favourite"),
                              QKeySequence(Qt::CTRL | Qt::Key_D), &LibraryWindow::toggleFavourite);
    QAction* find = new QAction(QStringLiteral("&Find"), this);
    find->setObjectName(QStringLiteral("LibraryFind"));
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        search_->setFocus(Qt::ShortcutFocusReason);
        search_->selectAll();
    });
    addAction(find);

    connect(compare_, &QPushButton::toggled, this, &LibraryWindow::showPreview);
    connect(newSet_, &QPushButton::clicked, this, &LibraryWindow::newSetFromSlots);
    connect(favourite_, &QPushButton::clicked, this, &LibraryWindow::toggleFavourite);
    connect(tags_, &QPushButton::clicked, this, &LibraryWindow::editTags);
    connect(note_, &QPushButton::clicked, this, &LibraryWindow::editNote);
    connect(addFolder_, &QPushButton::clicked, this, &LibraryWindow::addFolder);
    connect(removeFolder_, &QPushButton::clicked, this, &LibraryWindow::removeFolder);
    connect(rescan_, &QPushButton::clicked, this, &LibraryWindow::rescan);

    connect(tree_, &QTreeView::customContextMenuRequested, this, [this](const QPoint& at) {
        if (currentSlot() < 0 && model_->fileAt(tree_->currentIndex()) < 0) {
            return;
        }
        QMenu menu(this);
        menu.addAction(QStringLiteral("&Open"), this, &LibraryWindow::openCurrent);
        if (currentSlot() >= 0) {
            copyMenu_->setDefaultAction(copyMenu_->actions().value(form_.selectedSlot()));
            menu.addMenu(copyMenu_);
            menu.addAction(QStringLiteral("Co&mpare with Tab"), this,
                           [this] { compare_->setChecked(true); });
            menu.addAction(QStringLiteral("&New Set from Slots..."), this,
                           &LibraryWindow::newSetFromSlots);
            menu.addSeparator();
            menu.addAction(favouriteAction_);
            menu.addAction(QStringLiteral("&Tags..."), this, &LibraryWindow::editTags);
            menu.addAction(QStringLiteral("N&ote..."), this, &LibraryWindow::editNote);
        }
        menu.exec(tree_->viewport()->mapToGlobal(at));
    });
}

// ---------------------------------------------------------------------------------
// Listing and searching

void LibraryWindow::showSnapshot(LibrarySnapshotPtr snapshot) {
    snapshot_ = std::move(snapshot);
    search(true);
}

void LibraryWindow::search(bool keepView) {
    const LibraryQuery query = parseLibraryQuery(search_->text());
    queryError_->setText(query.ok() ? QString() : query.error);
    queryError_->setVisible(!query.ok());

    // What the operator looked at, by what the rows show.
    using Key = LibraryModel::RowKey;
    Key current;
    Key top;
    std::vector<Key> selected;
    std::vector<Key> expanded;
    if (keepView) {
        current = model_->keyAt(tree_->currentIndex());
        top = model_->keyAt(tree_->indexAt(QPoint(0, 0)));
        const QModelIndexList rows = tree_->selectionModel()->selectedRows();
        if (rows.size() <= kKeptSelection) {
            for (const QModelIndex& row : rows) {
                selected.push_back(model_->keyAt(row));
            }
        }
        if (model_->grouping() == LibraryModel::Grouping::Files) {
            for (int row = 0; row < model_->rowCount(); ++row) {
                const QModelIndex file = model_->index(row, 0);
                if (tree_->isExpanded(file)) {
                    expanded.push_back(model_->keyAt(file));
                }
            }
        }
    }

    const auto grouping = duplicates_->isChecked() ? LibraryModel::Grouping::Duplicates
                                                   : LibraryModel::Grouping::Files;
    model_->show(snapshot_, snapshot_ && query.ok() ? snapshot_->search(query) : LibraryMatches{},
                 grouping);

    const bool searching = !query.terms.empty();
    filtered_ = query.ok() && searching;
    if ((searching || grouping == LibraryModel::Grouping::Duplicates) &&
        model_->slotCount() <= kExpandAtMost) {
        tree_->expandAll();
    } else {
        for (const Key& key : expanded) {
            tree_->expand(model_->indexOf(key));
        }
    }
    QItemSelection selection;
    for (const Key& key : selected) {
        const QModelIndex row = model_->indexOf(key);
        if (row.isValid()) {
            selection.select(row, row.siblingAtColumn(LibraryModel::ColumnCount - 1));
        }
    }
    QModelIndex again = model_->indexOf(current);
    if (!again.isValid() && current.slot >= 0) {
        again = model_->indexOf({current.path, -1}); // the slot left the list, its file not
    }
    if (again.isValid()) {
        tree_->selectionModel()->setCurrentIndex(again, QItemSelectionModel::NoUpdate);
    }
    tree_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
    if (const QModelIndex first = model_->indexOf(top); first.isValid()) {
        tree_->scrollTo(first, QAbstractItemView::PositionAtTop);
    }
    showPreview();
    showCounts();
    updateActions();
}

void LibraryWindow::showCounts() {
    QString text;
    if (snapshot_) {
        text = count(static_cast<qsizetype>(snapshot_->files.size()), "file", "files") +
               QStringLiteral(", ") +
               count(static_cast<qsizetype>(snapshot_->allSlots.size()), "slot", "slots");
        if (filtered_) {
            text = QStringLiteral("Found %1 in %2 of %3")
                       .arg(count(model_->slotCount(), "slot", "slots"),
                            count(model_->fileCount(), "file", "files"), text);
        }
    } else if (thread_ && problem_.isEmpty()) {
        // A message before any snapshot is either followed by one at once (an index
        // moved aside) or is all there is (an index that cannot be used).
        text = QStringLiteral("Reading the library...");
    }
    // The worker's message stays until the next scan: what is listed is what the index
    // held before it.
    if (!problem_.isEmpty()) {
        text =
            text.isEmpty() ? problem_ : problem_ + QStringLiteral(" (") + text + QLatin1Char(')');
    }
    status_->setText(text);
    status_->setToolTip(text);
}

void LibraryWindow::showProblem(const QString& text) {
    problem_ = text;
    showCounts();
}

void LibraryWindow::setScanning(bool running) {
    progress_->setVisible(running);
    if (running) {
        progress_->setRange(0, 0);
        problem_.clear();
        showCounts();
    }
    rescan_->setEnabled(thread_ && !running);
}

int LibraryWindow::currentSlot() const {
    return model_->slotAt(tree_->currentIndex());
}

std::vector<int> LibraryWindow::selectedSlots() const {
    std::vector<int> chosen;
    QModelIndexList rows = tree_->selectionModel()->selectedRows();
    // In the tree's order: by the file or group, then by the slot beneath it.
    const auto place = [](const QModelIndex& row) {
        return row.parent().isValid() ? std::pair(row.parent().row(), row.row())
                                      : std::pair(row.row(), -1);
    };
    std::sort(rows.begin(), rows.end(),
              [&](const QModelIndex& a, const QModelIndex& b) { return place(a) < place(b); });
    for (const QModelIndex& row : rows) {
        if (const int slot = model_->slotAt(row); slot >= 0) {
            chosen.push_back(slot);
        }
    }
    return chosen;
}

void LibraryWindow::updateActions() {
    const bool onSlot = currentSlot() >= 0;
    for (QWidget* w : std::initializer_list<QWidget*>{copyToTab_, compare_, blend_, tags_, note_}) {
        w->setEnabled(onSlot);
    }
    const bool anySlot = onSlot || !selectedSlots().empty();
    newSet_->setEnabled(anySlot);
    favourite_->setEnabled(anySlot && thread_);
    favouriteAction_->setEnabled(anySlot && thread_);
    tags_->setEnabled(onSlot && thread_);
    note_->setEnabled(onSlot && thread_);
    addFolder_->setEnabled(bool(thread_));
    removeFolder_->setEnabled(thread_ && snapshot_ && !snapshot_->folders.isEmpty());
    rescan_->setEnabled(thread_ && !progress_->isVisible());
}

// ---------------------------------------------------------------------------------
// The values of the slot picked

void LibraryWindow::showPreview() {
    preview_->clear();
    const int s = currentSlot();
    if (s < 0) {
        preview_->setHeaderLabels({QStringLiteral("Parameter"), QStringLiteral("Value")});
        previewTitle_->setText(QStringLiteral("Pick a slot to see its values."));
        return;
    }
    const LibrarySlot& slot = snapshot_->allSlots[static_cast<std::size_t>(s)];
    const ConfigRecord record = slot.record();
    const bool comparing = compare_->isChecked();
    const int tab = form_.selectedSlot();
    if (comparing && tab >= 0) {
        preview_->setHeaderLabels({QStringLiteral("Parameter"), QStringLiteral("Library"),
                                   QStringLiteral("Tab \"%1\"").arg(slotTitle(tab)), QString()});
    } else {
        preview_->setHeaderLabels({QStringLiteral("Parameter"), QStringLiteral("Value")});
    }
    int differences = 0;
    for (const Parameter* p : slotParameters(slot.slot)) {
        if (comparing && tab >= 0 && !slotHas(tab, *p)) {
            continue; // only the values both show are compared
        }
        auto* item = new QTreeWidgetItem(
            preview_, {QLatin1String(p->name), shownOrNone(shownText(record, slot.slot, *p))});
        if (comparing && tab >= 0) {
            const QString theirs = shownOrNone(shownText(form_.Document().record(), tab, *p));
            item->setText(2, theirs);
            if (theirs != item->text(1)) {
                ++differences;
                QFont bold = item->font(0);
                bold.setBold(true);
                for (int column = 0; column < 4; ++column) {
                    item->setFont(column, bold);
                }
                item->setText(3, QStringLiteral("\u2260"));
                item->setData(3, Qt::AccessibleTextRole, QStringLiteral("differs"));
            }
        }
    }
    for (int column = 0; column < preview_->columnCount(); ++column) {
        preview_->resizeColumnToContents(column);
    }
    QString title = wrappable(elideMiddle(snapshot_->slotName(s), kTitleLength)).toHtmlEscaped();
    if (comparing && tab >= 0) {
        title = QStringLiteral("%1 beside tab \"%2\": %3")
                    .arg(title, slotTitle(tab),
                         differences == 0 ? QStringLiteral("the same")
                                          : count(differences, "value differs", "values differ"));
    }
    if (!slot.note.isEmpty()) {
        title += QStringLiteral("<br>Note: ") +
                 wrappable(elideMiddle(slot.note, kTitleNoteLength)).toHtmlEscaped();
    }
    previewTitle_->setText(title);
}

// ---------------------------------------------------------------------------------
// Using a slot

void LibraryWindow::openCurrent() {
    const int file = model_->fileAt(tree_->currentIndex());
    if (file >= 0) {
        (void)form_.OpenFile(snapshot_->files[static_cast<std::size_t>(file)].path);
    }
}

void LibraryWindow::copyToTab(int target) {
    const int s = currentSlot();
    if (s < 0 || target < 0 || target >= kSlotCount) {
        return;
    }
    const LibrarySlot& slot = snapshot_->allSlots[static_cast<std::size_t>(s)];
    if (form_.PasteSlot(target, slot.record(), slot.slot)) {
        status_->setText(QStringLiteral("%1 copied to tab \"%2\".")
                             .arg(snapshot_->slotName(s), slotTitle(target)));
    } else {
        status_->setText(QStringLiteral("Nothing was copied: the editor is busy with the unit."));
    }
}

void LibraryWindow::blendWithTab() {
    const int s = currentSlot();
    if (s < 0) {
        return;
    }
    const LibrarySlot& slot = snapshot_->allSlots[static_cast<std::size_t>(s)];
    form_.BlendWith(SlotTransfer{slot.record(), slot.slot, snapshot_->slotName(s), {}});
}

void LibraryWindow::newSetFromSlots() {
    std::vector<int> chosen = selectedSlots();
    if (chosen.empty() && currentSlot() >= 0) {
        chosen.push_back(currentSlot());
    }
    if (chosen.empty()) {
        return;
    }
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("LibraryNewSetDialog"));
    dialog.setWindowTitle(QStringLiteral("New Set from Slots"));
    auto* form = new QFormLayout;
    std::array<QComboBox*, kSlotCount> targets{};
    std::vector<bool> placed(chosen.size(), false);
    for (int tab = 0; tab < kSlotCount; ++tab) {
        auto* combo = new QComboBox(&dialog);
        combo->setObjectName(QStringLiteral("LibraryNewSetTarget%1").arg(tab));
        combo->setAccessibleName(QStringLiteral("Tab \"%1\"").arg(slotTitle(tab)));
        // Wide enough for a name of a usual length; a longer one is shown by its ends.
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(40);
        combo->addItem(QStringLiteral("(new record's values)"));
        for (const int s : chosen) {
            const QString name = snapshot_->slotName(s);
            combo->addItem(elideMiddle(name, kTitleLength));
            combo->setItemData(combo->count() - 1, name, Qt::ToolTipRole);
        }
        // Each slot chosen goes to the tab of its own number at first.
        for (std::size_t i = 0; i < chosen.size(); ++i) {
            if (!placed[i] &&
                snapshot_->allSlots[static_cast<std::size_t>(chosen[i])].slot == tab) {
                placed[i] = true;
                combo->setCurrentIndex(static_cast<int>(i) + 1);
                break;
            }
        }
        form->addRow(QStringLiteral("Tab \"%1\":").arg(slotTitle(tab)), combo);
        targets[static_cast<std::size_t>(tab)] = combo;
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("&Make"));
    connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    auto* intro =
        new QLabel(QStringLiteral("A new record, unsaved, with these slots on its tabs:"), &dialog);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    layout->addLayout(form);
    layout->addWidget(buttons);
    if (!questions_.run(dialog)) {
        return;
    }
    std::array<std::optional<SlotTransfer>, kSlotCount> byTab;
    for (int tab = 0; tab < kSlotCount; ++tab) {
        const int pick = targets[static_cast<std::size_t>(tab)]->currentIndex();
        if (pick > 0) {
            const int s = chosen[static_cast<std::size_t>(pick - 1)];
            const LibrarySlot& slot = snapshot_->allSlots[static_cast<std::size_t>(s)];
            byTab[static_cast<std::size_t>(tab)] =
                SlotTransfer{slot.record(), slot.slot, snapshot_->slotName(s)};
        }
    }
    (void)form_.NewFromSlots(byTab);
}

// ---------------------------------------------------------------------------------
// The operator's notes, through the worker

void LibraryWindow::toWorker(std::function<void(LibraryWorker&)> call) {
    if (!thread_) {
        return;
    }
    LibraryWorker* worker = &thread_->worker();
    QMetaObject::invokeMethod(
        worker, [worker, call = std::move(call)] { call(*worker); }, Qt::QueuedConnection);
}

void LibraryWindow::toggleFavourite() {
    std::vector<int> marked = selectedSlots();
    const int current = currentSlot();
    if (marked.empty() && current >= 0) {
        marked.push_back(current);
    }
    if (marked.empty()) {
        return;
    }
    // All of them take the opposite of the current one's mark.
    const int lead = current >= 0 ? current : marked.front();
    const bool favourite = !snapshot_->allSlots[static_cast<std::size_t>(lead)].favourite;
    for (const int s : marked) {
        const LibrarySlot& slot = snapshot_->allSlots[static_cast<std::size_t>(s)];
        toWorker([path = snapshot_->files[static_cast<std::size_t>(slot.file)].path, n = slot.slot,
                  favourite](LibraryWorker& w) { w.setFavourite(path, n, favourite); });
    }
}

void LibraryWindow::editTags() {
    const int s = currentSlot();
    if (s < 0) {
        return;
    }
    const LibrarySlot& slot = snapshot_->allSlots[static_cast<std::size_t>(s)];
    const std::optional<QString> given =
        questions_.text(this,
                        QStringLiteral("Tags of %1, separated by commas or spaces:")
                            .arg(elideMiddle(snapshot_->slotName(s), kQuestionNameLength)),
                        joinTags(slot.tags), false);
    if (given) {
        tagsEdited(s, splitTags(*given));
    }
}

void LibraryWindow::tagsEdited(int s, const QStringList& tags) {
    const LibrarySlot& slot = snapshot_->allSlots[static_cast<std::size_t>(s)];
    QStringList add;
    QStringList remove;
    for (const QString& tag : tags) {
        if (!slot.tags.contains(tag)) {
            add << tag;
        }
    }
    for (const QString& tag : slot.tags) {
        if (!tags.contains(tag)) {
            remove << tag;
        }
    }
    if (add.isEmpty() && remove.isEmpty()) {
        return;
    }
    toWorker([path = snapshot_->files[static_cast<std::size_t>(slot.file)].path, n = slot.slot, add,
              remove](LibraryWorker& w) { w.changeTags(path, n, add, remove); });
}

void LibraryWindow::editNote() {
    const int s = currentSlot();
    if (s < 0) {
        return;
    }
    const LibrarySlot& slot = snapshot_->allSlots[static_cast<std::size_t>(s)];
    const std::optional<QString> given = questions_.text(
        this,
        QStringLiteral("Note on %1:").arg(elideMiddle(snapshot_->slotName(s), kQuestionNameLength)),
        slot.note, true);
    if (given && *given != slot.note) {
        toWorker([path = snapshot_->files[static_cast<std::size_t>(slot.file)].path, n = slot.slot,
                  note = *given](LibraryWorker& w) { w.setNote(path, n, note); });
    }
}

// ---------------------------------------------------------------------------------
// Folders

void LibraryWindow::addFolder() {
    const QString folder = questions_.folder(this);
    if (!folder.isEmpty()) {
        toWorker([folder](LibraryWorker& w) { w.addFolder(folder); });
    }
}

void LibraryWindow::removeFolder() {
    if (!snapshot_ || snapshot_->folders.isEmpty()) {
        return;
    }
    const std::optional<QString> folder =
        questions_.item(this, QStringLiteral("Folder to remove from the library (its files stay):"),
                        snapshot_->folders);
    if (folder) {
        toWorker([folder = *folder](LibraryWorker& w) { w.removeFolder(folder); });
    }
}

void LibraryWindow::rescan() {
    toWorker([](LibraryWorker& w) { w.rescan(); });
}

bool LibraryWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        // cantavel-cfg may have noted something meanwhile; the tab compared with may
        // have changed.
        toWorker([](LibraryWorker& w) { w.lookAgain(); });
        if (compare_->isChecked()) {
            showPreview();
        }
    }
    return QWidget::event(event);
}

} // namespace cantavel
