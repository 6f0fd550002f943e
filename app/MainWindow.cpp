#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "Accessibility.h"
#include "AppInfo.h"
#include "ComPortMenu.h"
#include "Counted.h"
#include "Elide.h"
#include "FormLooks.h"
#include "HandOverQueue.h"
#include "LibraryWindow.h"
#include "ParameterValues.h"
#include "RecentFiles.h"
#include "SerialPort.h"
#include "Settings.h"
#include "SingleInstance.h"
#include "SlotTransfer.h"
#include "SoundDialogs.h"
#include "SoundTools.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMimeData>
#include <QScreen>
#include <QSlider>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <optional>
#include <utility>
#include <variant>

namespace cantavel {

TForm1::TForm1(ConfigRecord& record, RuntimeState& state, const TForm1Options& options,
               QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>()), record_(record), state_(state),
      settingsPath_(options.settingsPath.isEmpty() ? settingsPath() : options.settingsPath),
      ownDialogs_(options.dialogs ? nullptr : std::make_unique<WidgetDialogs>()),
      dialogs_(options.dialogs ? options.dialogs : ownDialogs_.get()), comm_(new TComm(this)),
      XJustOne1(new TXJustOne(this)), document_(record, &state.currentFileName),
      libraryDir_(options.libraryDir) {
    // Screen readers learn of the controls from our own descriptions, which must be in
    // place before the controls are made: a reader that listens from the start asks
    // for a control's description as soon as its value is first set.
    installControlAccessibility();
    // The tab strip's font, given before the controls exist so that they are made in
    // it rather than told of it one by one afterwards (which doubles the start-up
    // work). The window's own font, for the menu, follows below.
    setFont(designFont(QStringLiteral("Arial"), 13));
    ui->setupUi(this);
    applyDesignValues();
    link_ = std::make_unique<DeviceLink>(record_, state_, *comm_, *this, options.clock);
    comPortMenu_ =
        new ComPortMenu(*ui->Connect1, state_, options.devices, *link_, *comm_, *this, this);
    parameters_ = new ParameterControls(
        document_, [this] { return selectedSlot(); }, this);
    connectControls();
    connect(&document_, &PresetDocument::valueChanged, this,
            [this](int, ParameterId id, unsigned, unsigned after) { documentChanged(id, after); });
    connect(&document_, &PresetDocument::historyChanged, this, &TForm1::updateEditActions);
    connect(&document_, &PresetDocument::trialEnded, this,
            [this](bool, bool byEdit) { trialEnded(byEdit); });
    // With the form's values in place, the guard looks for a running instance.
    XJustOne1->setObjectName(QStringLiteral("XJustOne1"));
    XJustOne1->SetSwitchToPrevious(true);
    XJustOne1->SetFileToOpen(options.fileToHandOver);
    handOver_ = new HandOverQueue(
        *XJustOne1,
        {.busy = [this] { return dialogsOpen_ > 0 || link_->runningCommands() > 0; },
         .maybeSave = std::bind_front(&DocumentFiles::maybeSave, files_),
         .open = std::bind_front(&DocumentFiles::open, files_),
         .showMessage = std::bind_front(&TForm1::showMessage, this)},
        this);
    XJustOne1->Loaded();
    FormCreate();
}

bool TForm1::IsSecondInstance() const {
    return XJustOne1->IsSecondInstance();
}

TForm1::~TForm1() {
    // The library's window (and its worker's thread) ends before what it works with.
    delete std::exchange(library_, nullptr);
    (void)link_->CancelCommands();
    comm_->StopComm();
    // The controls go after the document (they are the form's children): the focus
    // they lose on the way must not reach a step of a document that is gone.
    delete std::exchange(parameters_, nullptr);
}

// What the form carries besides its layout: its looks, the serial port's line
// settings, and the menu items the form does not hold.
void TForm1::applyDesignValues() {
    applyFormLooks(*this, *ui);

    // The port the Device commands open, with the unit's line settings.
    comm_->setObjectName(QStringLiteral("Comm"));
    comm_->SetCommName(QStringLiteral("COM1"));
    useUnitLine(*comm_);

    // Edit, between File and Device: undo and redo of the operator's changes.
    auto* edit = new QMenu(QStringLiteral("&Edit"), ui->MainMenu1);
    edit->setObjectName(QStringLiteral("EditMenu"));
    ui->MainMenu1->insertMenu(ui->Device1->menuAction(), edit);
    undo_ = edit->addAction(QStringLiteral("&Undo"));
    undo_->setObjectName(QStringLiteral("Undo1"));
    undo_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    redo_ = edit->addAction(QStringLiteral("&Redo"));
    redo_->setObjectName(QStringLiteral("Redo1"));
    redo_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    // A whole slot to and from the clipboard; Ctrl+C and Ctrl+V stay with text.
    edit->addSeparator()->setObjectName(QStringLiteral("N7"));
    copySlot_ = edit->addAction(QStringLiteral("Copy &Slot"));
    copySlot_->setObjectName(QStringLiteral("CopySlot1"));
    copySlot_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C));
    pasteSlot_ = edit->addAction(QStringLiteral("&Paste Slot"));
    pasteSlot_->setObjectName(QStringLiteral("PasteSlot1"));
    pasteSlot_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));
    // Finding a sound: the saved values for comparison, a blend, random changes.
    edit->addSeparator()->setObjectName(QStringLiteral("N8"));
    compare_ = edit->addAction(QStringLiteral("Co&mpare"));
    compare_->setObjectName(QStringLiteral("Compare1"));
    compare_->setCheckable(true);
    compare_->setShortcut(QKeySequence(Qt::Key_F5));
    compare_->setToolTip(QStringLiteral("Swaps the tab between its values and the saved ones"));
    blend_ = edit->addAction(QStringLiteral("&Blend..."));
    blend_->setObjectName(QStringLiteral("Blend1"));
    randomize_ = edit->addAction(QStringLiteral("Ran&domize..."));
    randomize_->setObjectName(QStringLiteral("Randomize1"));
    updateEditActions();

    // View, between Edit and Device: the preset library.
    auto* view = new QMenu(QStringLiteral("&View"), ui->MainMenu1);
    view->setObjectName(QStringLiteral("View1"));
    ui->MainMenu1->insertMenu(ui->Device1->menuAction(), view);
    QAction* library = view->addAction(QStringLiteral("&Library..."));
    library->setObjectName(QStringLiteral("Library1"));
    library->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    connect(library, &QAction::triggered, this, &TForm1::Library1Click);

    // Named separators, as the menu has them.
    ui->File1->insertSeparator(ui->Save1)->setObjectName(QStringLiteral("N2"));
    QAction* n1 = ui->File1->insertSeparator(ui->Close1);
    n1->setObjectName(QStringLiteral("N1"));
    // The files last opened or saved, newest first.
    recentFiles_ = new RecentFiles(state_.recentFiles, ui->File1,
                                   {.open =
                                        [this](const QString& path) {
                                            if (OpenFile(path)) {
                                                dropHandedOverFor(path);
                                            }
                                        },
                                    .showMessage = std::bind_front(&TForm1::showMessage, this)},
                                   this);
    files_ = new DocumentFiles(document_, *recentFiles_,
                               {.widget = this,
                                .dialogs = dialogs_,
                                .dialogsOpen = &dialogsOpen_,
                                .release = std::bind_front(&TForm1::releaseDevice, this),
                                .replaced =
                                    [this](const std::vector<int>& unsent, const QString& cause) {
                                        TabControl1Change(nullptr);
                                        reportUnsent(unsent, cause);
                                    },
                                .setCaption = std::bind_front(&TForm1::setCaption, this),
                                .updateCaption = std::bind_front(&TForm1::updateCaption, this),
                                .showMessage = std::bind_front(&TForm1::showMessage, this)},
                               this);
    QMenu* recent = recentFiles_->menu();
    ui->File1->insertMenu(n1, recent);
    // The preset sheet, on paper or as a PDF.
    QAction* n5 = ui->File1->insertSeparator(recent->menuAction());
    n5->setObjectName(QStringLiteral("N5"));
    auto* print = new QAction(QStringLiteral("&Print..."), this);
    print->setObjectName(QStringLiteral("Print1"));
    print->setShortcut(QKeySequence::Print);
    connect(print, &QAction::triggered, this, &TForm1::Print1Click);
    auto* exportPdf = new QAction(QStringLiteral("&Export PDF..."), this);
    exportPdf->setObjectName(QStringLiteral("ExportPdf1"));
    connect(exportPdf, &QAction::triggered, this, &TForm1::ExportPdf1Click);
    ui->File1->insertActions(n5, {print, exportPdf});
    ui->File1->insertSeparator(print)->setObjectName(QStringLiteral("N6"));
    ui->Device1->insertSeparator(ui->Upload1)->setObjectName(QStringLiteral("N3"));

    // 712 x 467 with a usual frame and title bar: a client area of 704 x 421 under
    // the menu bar, centred on the screen.
    resize(704, 421 + ui->MainMenu1->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

// Each parameter's control on the form and its handler, by their documented names.
// One row per parameter in the table's order; a row missing, out of order, without
// a handler or with a control of another kind than its parameter's does not compile.
namespace {
using Form = Ui::TForm1;
using Binding = ControlBinding<Form, TForm1>;
} // namespace

void TForm1::connectControls() {
    using enum ParameterId;
    static constexpr std::array<Binding, kParameterCount> kBindings{{
        {MusicBass, &Form::TrackBar5, &TForm1::TrackBar5Change},
        {MusicMiddle, &Form::TrackBar7, &TForm1::TrackBar7Change},
        {MusicTreble, &Form::TrackBar10, &TForm1::TrackBar10Change},
        {MusicBalance, &Form::TrackBar9, &TForm1::TrackBar9Change},
        {EchoDelay, &Form::TrackBar11, &TForm1::TrackBar11Change},
        {EchoRepeat, &Form::TrackBar12, &TForm1::TrackBar12Change},
        {EchoLevel, &Form::TrackBar13, &TForm1::TrackBar13Change},
        {ReverbTime, &Form::TrackBar14, &TForm1::TrackBar14Change},
        {ReverbLevel, &Form::TrackBar15, &TForm1::TrackBar15Change},
        {MicBass, &Form::TrackBar16, &TForm1::TrackBar16Change},
        {MicMiddle, &Form::TrackBar17, &TForm1::TrackBar17Change},
        {MicTreble, &Form::TrackBar18, &TForm1::TrackBar18Change},
        {SwFreq, &Form::UpDown2, &TForm1::UpDown2Click},
        {EffectVolume, &Form::mKnob1, &TForm1::mKnob1Change},
        {FbEx, &Form::ComboBox6, &TForm1::ComboBox6Change},
        {KeyIndex, &Form::ComboBox1, &TForm1::ComboBox1Change},
        {InputSource, &Form::ComboBox2, &TForm1::ComboBox2Change},
        {Center, &Form::ComboBox3, &TForm1::ComboBox3Change},
        {Aux, &Form::ComboBox4, &TForm1::ComboBox4Change},
        {MusicIn, &Form::ComboBox5, &TForm1::ComboBox5Change},
        {SwVol1, &Form::UpDown1, &TForm1::UpDown1Click},
        {SwVol2, &Form::UpDown5, &TForm1::UpDown5Click},
        {MusicVolMax, &Form::UpDown4, &TForm1::UpDown4Click},
        {MicVolMax, &Form::UpDown3, &TForm1::UpDown3Click},
        {MusicVolume, &Form::mKnob2, &TForm1::mKnob2Change},
        {MicVolume, &Form::mKnob3, &TForm1::mKnob3Change},
    }};
    static_assert(everyParameterBound(kBindings),
                  "every parameter needs one binding, in the table's order, to a control of "
                  "its kind and a handler");
    for (const Binding& binding : kBindings) {
        const Parameter& p = parameter(binding.id);
        QWidget* widget = std::visit([this](auto member) -> QWidget* { return ui.get()->*member; },
                                     binding.control);
        parameters_->bind(binding.id, widget,
                          p.valueEdit
                              ? ui->TabControl1->findChild<QLineEdit*>(QLatin1String(p.valueEdit))
                              : nullptr,
                          [this, h = binding.handler.member()] { (this->*h)(); });
    }
    ui->TabControl1->StepWithCtrlTab(this);
    connect(undo_, &QAction::triggered, this, &TForm1::Undo1Click);
    connect(redo_, &QAction::triggered, this, &TForm1::Redo1Click);
    connect(copySlot_, &QAction::triggered, this, &TForm1::CopySlot1Click);
    connect(pasteSlot_, &QAction::triggered, this, &TForm1::PasteSlot1Click);
    connect(compare_, &QAction::triggered, this, [this] {
        compare_->setChecked(comparing_); // the command sets the mark itself
        Compare1Click();
    });
    connect(blend_, &QAction::triggered, this, &TForm1::Blend1Click);
    connect(randomize_, &QAction::triggered, this, &TForm1::Randomize1Click);
    // A slot dragged from elsewhere lands on the tab it is dropped on.
    ui->TabControl1->TabBar()->setAcceptDrops(true);
    ui->TabControl1->TabBar()->installEventFilter(this);

    ui->TabControl1->OnChange = [this](QObject* sender) { TabControl1Change(sender); };
    // A click on the tab a running command has just selected changes no tab, but it
    // is the operator's pick all the same and wins when the command ends.
    connect(ui->TabControl1->TabBar(), &QTabBar::tabBarClicked, this, [this](int index) {
        if (index >= 0 && link_->runningCommands() > 0) {
            pickDuringCommand(index);
        }
    });

    connect(ui->New1, &QAction::triggered, this, &TForm1::New1Click);
    connect(ui->Open1, &QAction::triggered, this, &TForm1::Open1Click);
    connect(ui->Save1, &QAction::triggered, this, &TForm1::Save1Click);
    connect(ui->SaveAs1, &QAction::triggered, this, &TForm1::SaveAs1Click);
    connect(ui->Close1, &QAction::triggered, this, &TForm1::Close1Click);
    connect(ui->About1, &QAction::triggered, this, &TForm1::About1Click);
    // The unit is sent the operator's own values, not the saved ones being compared.
    connect(ui->Upload1, &QAction::triggered, this, [this] {
        endComparison();
        link_->Upload1Click();
    });
    connect(ui->Configuator1, &QAction::triggered, this, [this] {
        endComparison();
        link_->Configuator1Click();
    });
    connect(ui->Link1, &QAction::triggered, this, [this] {
        // The menu has already flipped the check mark; the command flips it itself.
        ui->Link1->setChecked(!ui->Link1->isChecked());
        const bool putBack = endComparison();
        if (ui->Link1->isChecked()) {
            // Link ends with the unit holding what the record holds.
            link_->letFramesOut(putBack);
        }
        link_->Link1Click();
    });
    for (QAction* item : ui->Connect1->actions()) {
        connect(item, &QAction::triggered, this, [this, item] { COM11Click(item); });
    }
    connect(ui->Connect1, &QMenu::aboutToShow, this, &TForm1::Connect1Show);

    comm_->OnRequestHangup = [this](QObject*) { CommHangup(); };
}

// ---------------------------------------------------------------------------------
// Start, show, close

void TForm1::FormCreate() {
    if (const FileResult read = readSettings(settingsPath_, state_); !read) {
        // The defaults hold; the operator learns why the port and files they chose
        // are gone, over the window once it is shown.
        unreadSettings_ = read.reason;
    }
    usePortPaths(state_.portPaths);
    recentFiles_->update();
    setCaption(applicationTitle());
    New1Click();
}

void TForm1::FormShow() {
    checkComPortItem(state_.comPortNumber); // none when outside 1..15
    if (!unreadSettings_.isEmpty()) {
        QTimer::singleShot(0, this, [this] {
            reportSettingsProblem(QStringLiteral("Cannot read the settings %1"),
                                  std::exchange(unreadSettings_, {}));
        });
    }
}

void TForm1::FormClose() {
    pickedDuringCommand_ = -1;
    numberedPickedDuringCommand_ = false;
    (void)link_->CancelCommands(); // a waiting upload ends here, sending nothing more
    comm_->StopComm();
    if (const FileResult written = writeSettings(settingsPath_, state_); !written) {
        // Told before the window goes: the port and recent files are not kept.
        reportSettingsProblem(QStringLiteral("Cannot save the settings %1"), written.reason);
    }
}

void TForm1::reportSettingsProblem(const QString& text, const QString& reason) {
    const QString line = text.arg(settingsPath_);
    std::fprintf(stderr, "cantavel: %s: %s\n", qPrintable(line), qPrintable(reason));
    showMessage(text.arg(elideMiddle(settingsPath_)), reason);
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A file handed over from now on would never be opened: its start is told so.
    XJustOne1->SetClosing(true);
    if (!files_->maybeSave()) {
        XJustOne1->SetClosing(false);
        event->ignore();
        return;
    }
    handOver_->drop(QStringLiteral("The editor closed first."));
    FormClose();
    event->accept();
}

// ---------------------------------------------------------------------------------
// File menu

void TForm1::New1Click() {
    if (files_->maybeSave()) {
        files_->makeNew();
        handOver_->drop(QStringLiteral("You made a new record meanwhile."));
    }
}

bool TForm1::NewFromSlots(const std::array<std::optional<SlotTransfer>, kSlotCount>& byTab) {
    if (!files_->maybeSave()) {
        return false;
    }
    files_->makeNew();
    handOver_->drop(QStringLiteral("You made a new record meanwhile."));
    for (int tab = 0; tab < kSlotCount; ++tab) {
        if (const auto& slot = byTab[static_cast<std::size_t>(tab)]) {
            (void)PasteSlot(tab, slot->record, slot->slot);
        }
    }
    return true;
}

void TForm1::Open1Click() {
    if (!files_->maybeSave()) {
        return;
    }
    const QString path = files_->choose(OpenDialog1());
    if (!path.isEmpty() && files_->open(path)) {
        dropHandedOverFor(path);
    }
}

// The operator's own choice is newer than any file handed over before it.
void TForm1::dropHandedOverFor(const QString& opened) {
    handOver_->drop(
        QStringLiteral("You opened %1 meanwhile.").arg(elideMiddle(QFileInfo(opened).fileName())));
}

bool TForm1::OpenFile(const QString& path) {
    return files_->maybeSave() && files_->open(path);
}

std::vector<int> TForm1::releaseDevice() {
    std::vector<int> unsent = link_->CancelCommands();
    ui->Link1->setChecked(false);
    comm_->StopComm();
    return unsent;
}

bool TForm1::IsModified() const {
    return document_.isModified();
}

// The desktop's mark for unsaved work: an asterisk before the caption.
void TForm1::setCaption(const QString& caption) {
    caption_ = caption;
    updateCaption();
}

void TForm1::updateCaption() {
    const QString caption =
        comparing_ ? caption_ + QStringLiteral("  (comparing with saved)") : caption_;
    setWindowTitle(IsModified() ? QStringLiteral("*") + caption : caption);
}

TXJustOne::HandOverReply TForm1::HandOverFile(const QString& path, qint64 startedAt) {
    return handOver_->handOver(path, startedAt);
}

void TForm1::Close1Click() {
    close();
}

void TForm1::About1Click() {
    if (aboutBox_) {
        aboutBox_->exec();
    }
}

// ---------------------------------------------------------------------------------
// Preset tabs

void TForm1::TabControl1Change(QObject* Sender) {
    const int slot = ui->TabControl1->TabIndex();
    const bool putBack = putBackTrialLeaving(slot);
    if (Sender != nullptr && link_->runningCommands() > 0) {
        // A running command selects each slot it sends and must not be cut short:
        // the pick is shown now, and its Link and port rules wait for the end.
        pickDuringCommand(slot);
        showSlot(slot);
        return;
    }
    // The unit is left holding what the record holds: values put back or still
    // waiting for the line go out while it listens.
    if (isPresetSlot(slot)) {
        if (ui->Link1->isChecked()) {
            link_->letFramesOut(putBack);
        }
        ui->Link1->setChecked(false);
        comm_->StopComm();
    } else if (slot != 0) {
        link_->sendWaitingLive();
    }
    showSlot(slot);
}

bool TForm1::putBackTrialLeaving(int slot) {
    if (document_.inTrial() && document_.trialSlot() != slot) {
        // Values tried on the tab left come back while it is still the tab the unit
        // hears, so that in Link mode the unit has them too.
        ui->TabControl1->SetTabIndexQuietly(document_.trialSlot());
        document_.putBackTrial();
        ui->TabControl1->SetTabIndexQuietly(slot);
        return true;
    }
    return false;
}

void TForm1::showSlot(int slot) {
    const SlotKind kind = slotKind(slot);
    if (kind == SlotKind::None) {
        return; // no tab selected
    }
    putBackTrialLeaving(slot);
    setCaptionOfUpload(ui->TabControl1->TabBar()->tabText(slot));
    // What the controls cannot show is stored as they show it, and in Link mode on
    // "Default" sent, before the controls show the slot.
    document_.bringIntoRange(slot);
    if (kind == SlotKind::Preset) {
        // Greyed, the Default Setting of the mode slot shown last, as the record
        // holds it now (New or Open may have replaced it).
        parameters_->show(greyedSlot_, RecordPart::Mode);
        LoadPresetControls(slot);
        DisableDefaultSetting();
        return;
    }
    greyedSlot_ = slot;
    EnableDefaultSetting();
    parameters_->show(slot, RecordPart::Mode);
    LoadPresetControls(slot);
}

void TForm1::LoadPresetControls(int slot) {
    parameters_->show(slot, RecordPart::Preset);
}

// The Default Setting controls, in the order they are switched.
std::vector<QWidget*> TForm1::defaultSettingControls() const {
    return {ui->GroupBox2,    ui->ComboBox2,    ui->ComboBox3,    ui->ComboBox4, ui->ComboBox5,
            ui->LabeledEdit3, ui->LabeledEdit1, ui->LabeledEdit5, ui->UpDown3,   ui->UpDown4,
            ui->LabeledEdit4, ui->mKnob2,       ui->mKnob3,       ui->Edit15,    ui->Edit16,
            ui->Label10,      ui->Label11,      ui->Label12,      ui->Label13,   ui->Label14,
            ui->Label15};
}

void TForm1::DisableDefaultSetting() {
    for (QWidget* w : defaultSettingControls()) {
        w->setEnabled(false);
    }
}

void TForm1::EnableDefaultSetting() {
    for (QWidget* w : defaultSettingControls()) {
        w->setEnabled(true);
    }
}

void TForm1::setCaptionOfUpload(const QString& name) {
    ui->Upload1->setText(QStringLiteral("&Upload ") + name);
}

// ---------------------------------------------------------------------------------
// Changes

// A value the document changed is sent live (in Link mode on "Default" only), and
// the caption marks unsaved work.
void TForm1::documentChanged(ParameterId id, unsigned after) {
    const auto value = static_cast<std::uint8_t>(after); // the field alone
    if (pacedLive_) {
        link_->queueLiveParameter(parameter(id).live, value);
    } else {
        link_->sendLiveParameter(parameter(id).live, value);
    }
    updateCaption();
}

// ---------------------------------------------------------------------------------
// Finding a sound

bool TForm1::refusedDuringCommand(const QString& what) {
    if (link_->runningCommands() == 0) {
        return false;
    }
    showMessage(QStringLiteral("%1 must wait.").arg(what),
                QStringLiteral("A Device command is sending the record; try again once it has "
                               "ended."));
    return true;
}

void TForm1::Compare1Click() {
    if (comparing_) {
        endComparison();
        return;
    }
    const int slot = selectedSlot();
    if (slotKind(slot) == SlotKind::None || refusedDuringCommand(QStringLiteral("Compare"))) {
        return;
    }
    parameters_->endGesture();
    document_.closeStep();
    ConfigRecord saved;
    std::copy(document_.savedImage().begin(), document_.savedImage().end(), saved.image().begin());
    document_.beginTrial(slot);
    comparing_ = true;
    compare_->setChecked(true);
    document_.tryValues(saved, slot);
    updateCaption();
}

bool TForm1::endComparison() {
    if (!comparing_) {
        return false;
    }
    document_.putBackTrial();
    return true;
}

void TForm1::trialEnded(bool byEdit) {
    if (!std::exchange(comparing_, false)) {
        return; // a blend's trial: the dialog ends it
    }
    compare_->setChecked(false);
    updateCaption();
    if (byEdit && !std::exchange(comparisonExplained_, true)) {
        explainComparisonEnded();
    }
}

void TForm1::explainComparisonEnded() {
    // Not in the middle of a drag: the box would take the mouse from the control.
    if (QGuiApplication::mouseButtons() != Qt::NoButton) {
        QTimer::singleShot(100, this, &TForm1::explainComparisonEnded);
        return;
    }
    QTimer::singleShot(0, this, [this] {
        showMessage(QStringLiteral("Comparing has ended."),
                    QStringLiteral("Your change was made to the saved values you were hearing. "
                                   "Edit > Undo brings back the values you had before."));
    });
}

void TForm1::BlendWith(const std::optional<SlotTransfer>& library) {
    const int slot = selectedSlot();
    if (slotKind(slot) == SlotKind::None || refusedDuringCommand(QStringLiteral("Blend"))) {
        return;
    }
    parameters_->endGesture();
    endComparison(); // the blend starts from the operator's own values
    document_.closeStep();
    const ConfigRecord a = record_;
    std::vector<BlendDialog::Source> sources;
    if (library) {
        sources.push_back({library->source, library->record, library->slot});
    }
    for (int tab = 0; tab < tabCount(); ++tab) {
        if (tab != slot) {
            sources.push_back({slotName(tab), a, tab});
        }
    }
    BlendDialog dialog(this, slot, slotName(slot), std::move(sources), 0);
    const auto linked = [this, &dialog](bool on) {
        dialog.setLinkText(!on ? QStringLiteral("Link is off: the blend is tried here only.")
                           : selectedSlot() == 0
                               ? QStringLiteral("Link is on: the unit follows the blend.")
                               : QStringLiteral("Link is on, but only \"Default\" is sent "
                                                "live: the blend is tried here only."));
    };
    linked(ui->Link1->isChecked());
    connect(ui->Link1, &QAction::toggled, &dialog, linked);
    connect(&dialog, &BlendDialog::blendChanged, &dialog, [&](int source, int percent) {
        if (source < 0) {
            return;
        }
        const BlendDialog::Source& b = dialog.sources()[static_cast<std::size_t>(source)];
        document_.tryValues(blendSlots(a, slot, b.record, b.slot, percent).record, slot);
    });
    document_.beginTrial(slot);
    pacedLive_ = true;
    const Counted open(dialogsOpen_);
    const bool kept = dialogs_->run(dialog) == QDialog::Accepted;
    if (kept) {
        document_.keepTrial();
    } else {
        document_.putBackTrial(); // A again, and the unit hears it
    }
    pacedLive_ = false;
}

void TForm1::Randomize1Click() {
    const int slot = selectedSlot();
    if (slotKind(slot) == SlotKind::None || refusedDuringCommand(QStringLiteral("Randomize"))) {
        return;
    }
    parameters_->endGesture();
    RandomizeDialog dialog(this, slotName(slot), freshSeed());
    {
        const Counted open(dialogsOpen_);
        if (dialogs_->run(dialog) != QDialog::Accepted || link_->runningCommands() > 0) {
            return;
        }
    }
    // The values shown, compared or not: a change made while comparing is made to them.
    const SlotChange change =
        randomizeSlot(record_, slot, dialog.amount(), dialog.groups(), *dialog.seed());
    if (!change.changed.empty()) { // none named would be every value
        document_.replaceSlot(slot, change.record, slot, change.changed);
    }
}

// ---------------------------------------------------------------------------------
// Undo and redo

void TForm1::closeEditStep() {
    document_.closeStep();
}

void TForm1::updateEditActions() {
    if (undo_) {
        undo_->setEnabled(document_.canUndo());
        redo_->setEnabled(document_.canRedo());
    }
}

// A step of another tab shows that tab first, as the operator's tab change would;
// the document then puts the values back, and the controls and (in Link mode on
// "Default") the unit follow.
void TForm1::Undo1Click() {
    if (link_->runningCommands() > 0) {
        return; // a command sends the record as it is; it is not changed under it
    }
    parameters_->endGesture();
    showStepSlot(document_.undoSlot());
    document_.undo();
}

void TForm1::Redo1Click() {
    if (link_->runningCommands() > 0) {
        return;
    }
    closeEditStep();
    showStepSlot(document_.redoSlot());
    document_.redo();
}

void TForm1::showStepSlot(int slot) {
    if (slot >= 0 && selectedSlot() != slot) {
        ui->TabControl1->SetTabIndexQuietly(slot);
        TabControl1Change(ui->TabControl1);
    }
}

// ---------------------------------------------------------------------------------
// A slot to and from the clipboard, or dropped on a tab

QString TForm1::slotSource(int slot) const {
    const QString file = document_.fileName().isEmpty()
                             ? QStringLiteral("Untitled")
                             : QFileInfo(document_.fileName()).fileName();
    return slotOfFile(file, slot);
}

void TForm1::CopySlot1Click() {
    const int slot = selectedSlot();
    if (slotKind(slot) == SlotKind::None) {
        return;
    }
    // A drag or held key in progress ends here, so the copy holds what is shown.
    parameters_->endGesture();
    QGuiApplication::clipboard()->setMimeData(
        slotMimeData(record_, slot, slotSource(slot)).release()); // the clipboard owns it
}

void TForm1::PasteSlot1Click() {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    QString why;
    const std::optional<SlotTransfer> slot =
        data ? slotFromMimeData(*data, &why) : std::optional<SlotTransfer>();
    if (!slot) {
        showMessage(QStringLiteral("The clipboard holds no slot to paste."),
                    why.isEmpty() ? QStringLiteral("The clipboard is empty.") : why);
        return;
    }
    if (!PasteSlot(selectedSlot(), slot->record, slot->slot, slot->given)) {
        showMessage(QStringLiteral("The slot was not pasted."),
                    QStringLiteral("A Device command is sending the record; paste once it "
                                   "has ended."));
    }
}

bool TForm1::PasteSlot(int target, const ConfigRecord& from, int fromSlot,
                       std::span<const ParameterId> only) {
    if (link_->runningCommands() > 0 || slotKind(fromSlot) == SlotKind::None || target < 0 ||
        target >= tabCount()) {
        return false; // a command sends the record as it is; it is not changed under it
    }
    // `from` may be the record itself, which showing the tab brings into range.
    const ConfigRecord source = from;
    parameters_->endGesture();
    showStepSlot(target);
    document_.replaceSlot(target, source, fromSlot, only);
    return true;
}

int TForm1::dropTarget(const QDropEvent& event) const {
    const int tab = ui->TabControl1->TabBar()->tabAt(event.position().toPoint());
    // While a Device command sends the record, nothing lands on it (the pointer says so).
    if (tab < 0 || link_->runningCommands() > 0 || !(event.possibleActions() & Qt::CopyAction) ||
        !event.mimeData() || !slotFromMimeData(*event.mimeData())) {
        return -1;
    }
    return tab;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui->TabControl1->TabBar()) {
        return QMainWindow::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // Every move is judged again: over a tab, or between and beside them.
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (dropTarget(*drag) >= 0) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const int tab = dropTarget(*drop);
        const std::optional<SlotTransfer> slot =
            tab >= 0 ? slotFromMimeData(*drop->mimeData()) : std::nullopt;
        if (slot && PasteSlot(tab, slot->record, slot->slot, slot->given)) {
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        return QMainWindow::eventFilter(watched, event);
    }
}

// ---------------------------------------------------------------------------------
// View menu

// The library opens its index only now: a start of the editor never touches it.
void TForm1::Library1Click() {
    if (!library_) {
        library_ =
            new LibraryWindow(*this, libraryDir_.isEmpty() ? LibraryLocation::standard()
                                                           : LibraryLocation::in(libraryDir_));
    }
    library_->show();
    library_->raise();
    library_->activateWindow();
}

// ---------------------------------------------------------------------------------
// Device menu

void TForm1::COM11Click(QAction* item) {
    comPortMenu_->comItemClicked(item);
}

void TForm1::Connect1Show() {
    comPortMenu_->listDevices();
}

bool TForm1::isLinkChecked() const {
    return ui->Link1->isChecked();
}

void TForm1::setLinkChecked(bool checked) {
    ui->Link1->setChecked(checked);
}

int TForm1::selectedSlot() const {
    return ui->TabControl1->TabIndex();
}

int TForm1::tabCount() const {
    return ui->TabControl1->TabBar()->count();
}

// The window always shows the slot that edits write to: a selection made by a
// command reloads the controls, without the Link-ending effect of a tab change.
void TForm1::selectTabQuietly(int slot) {
    ui->TabControl1->SetTabIndexQuietly(slot);
    showSlot(slot);
}

void TForm1::setBusyPointer(bool busy) {
    if (busy) {
        ui->TabControl1->setCursor(Qt::WaitCursor);
    } else {
        ui->TabControl1->unsetCursor();
    }
}

void TForm1::showMessage(const QString& text, const QString& detail) {
    const Counted open(dialogsOpen_);
    dialogs_->message(this, EditorDialogs::Icon::Warning, applicationTitle(), text, detail);
}

QString TForm1::slotName(int slot) const {
    return ui->TabControl1->TabBar()->tabText(slot);
}

void TForm1::pickDuringCommand(int slot) {
    pickedDuringCommand_ = slot;
    numberedPickedDuringCommand_ = numberedPickedDuringCommand_ || isPresetSlot(slot);
}

void TForm1::commandsEnded() {
    handOver_->retrySoon(); // once the command has unwound
    // Sending a mode slot brought the record's copies of its effect values up to date.
    updateCaption();
    const int picked = std::exchange(pickedDuringCommand_, -1);
    if (std::exchange(numberedPickedDuringCommand_, false)) {
        // A numbered tab ends Link when it is picked; a later pick does not bring
        // it back.
        ui->Link1->setChecked(false);
        comm_->StopComm();
    }
    if (picked >= 0 && picked < tabCount()) {
        ui->TabControl1->SetTabIndexQuietly(picked);
        TabControl1Change(ui->TabControl1);
    }
}

void TForm1::reportUnsent(const std::vector<int>& unsent, const QString& cause) {
    if (unsent.empty()) {
        return;
    }
    showMessage(QStringLiteral("Not every slot reached the unit."),
                QStringLiteral("%1 ended the upload before %2 reached the unit.")
                    .arg(cause, link_->slotList(unsent)));
}

void TForm1::checkComPortItem(int tag) {
    comPortMenu_->checkComItem(tag);
}

// The device went away while the port was open: Link goes off, and the operator
// is told once.
void TForm1::CommHangup() {
    comPortMenu_->hangUp();
}

} // namespace cantavel
