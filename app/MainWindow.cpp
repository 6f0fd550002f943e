#include "MainWindow.h"
#include "ui_MainWindow.h"

#include "AppInfo.h"
#include "CommPort.h"
#include "ConfigFile.h"
#include "Elide.h"
#include "SerialPort.h"
#include "Settings.h"
#include "SingleInstance.h"
#include "TrackBarStyle.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>

#include <utility>

namespace cantavel {

TForm1::TForm1(ConfigRecord& record, RuntimeState& state, const TForm1Options& options,
               QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>()), record_(record), state_(state),
      settingsPath_(options.settingsPath.isEmpty() ? settingsPath() : options.settingsPath),
      ownDialogs_(options.dialogs ? nullptr : std::make_unique<WidgetDialogs>()),
      dialogs_(options.dialogs ? options.dialogs : ownDialogs_.get()), comm_(new TComm(this)),

      XJustOne1(new TXJustOne(this)),
      ownDevices_(options.devices ? nullptr : std::make_unique<SystemSerialDevices>()),
      devices_(options.devices ? options.devices : ownDevices_.get()) {
    // The tab strip's font, given before the controls exist so that they are made in
    // it rather than told of it one by one afterwards (which doubles the start-up
    // work). The window's own font, for the menu, follows below.
    setFont(designFont(QStringLiteral("Arial"), 13));
    ui->setupUi(this);
    applyDesignValues();
    link_ = std::make_unique<DeviceLink>(record_, state_, *comm_, *this, options.clock);
    connectControls();
    // With the form's values in place, the guard looks for a running instance.
    XJustOne1->setObjectName(QStringLiteral("XJustOne1"));
    XJustOne1->SetSwitchToPrevious(true);
    XJustOne1->Loaded();
    FormCreate();
}

bool TForm1::IsSecondInstance() const {
    return XJustOne1->IsSecondInstance();
}

TForm1::~TForm1() {
    (void)link_->CancelCommands();
    comm_->StopComm();
}

// What the form carries besides its layout: fonts, window frame and size, knob
// looks, the tab captions, the serial port's line settings and the file dialogs.
void TForm1::applyDesignValues() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ui->TabControl1->setFont(designFont(QStringLiteral("Arial"), 13));
    setFont(designFont(QStringLiteral("MS Sans Serif"), 11)); // the tab strip keeps its own
    for (QLabel* label :
         {ui->Label2, ui->Label3, ui->Label4, ui->Label5, ui->Label6, ui->Label7, ui->Label8}) {
        label->setFont(designFont(QStringLiteral("Arial"), 11));
    }
    // The column heads of the music tone sliders are 5 pixels wider than their group
    // at the stand-in font: a little less room between the letters keeps them inside.
    QFont heads = ui->Label2->font();
    heads.setLetterSpacing(QFont::AbsoluteSpacing, -0.25);
    ui->Label2->setFont(heads);
    for (QLabel* label : ui->TabControl1->findChildren<QLabel*>()) {
        label->adjustSize();
    }
    // Track bars keep their channel and thumbs a few pixels inside the control.
    auto* trackBars = new TTrackBarStyle;
    trackBars->setParent(this);
    for (QSlider* bar : ui->TabControl1->findChildren<QSlider*>()) {
        bar->setStyle(trackBars);
    }
    ui->TabControl1->SetTabs({QStringLiteral("Default"), QStringLiteral("1"), QStringLiteral("2"),
                              QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("Mode A"),
                              QStringLiteral("Mode B")});
    ui->TabControl1->TabBar()->setCurrentIndex(0);

    const std::pair<TmKnob*, int> knobs[] = {{ui->mKnob1, 80}, {ui->mKnob2, 63}, {ui->mKnob3, 42}};
    for (const auto& [knob, max] : knobs) {
        knob->SetColor(clGradientActiveCaption);
        knob->SetTickColor(clRed);
        knob->SetMarkStyle(TMarkStyle::msCircle);
        knob->SetMaxValue(max);
        knob->SetMin(0);
        knob->SetCurValue(0);
    }

    // The port the Device commands open: 9600 8N1, no flow control, DTR and RTS off.
    comm_->setObjectName(QStringLiteral("Comm"));
    comm_->SetCommName(QStringLiteral("COM1"));
    comm_->SetDtrControl(TDtrControl::DtrDisable);
    comm_->SetTxContinueOnXoff(false);
    comm_->SetOutx_XonXoffFlow(false);
    comm_->SetInx_XonXoffFlow(false);
    comm_->SetRtsControl(TRtsControl::RtsDisable);

    // Named separators, as the menu has them.
    ui->File1->insertSeparator(ui->Save1)->setObjectName(QStringLiteral("N2"));
    ui->File1->insertSeparator(ui->Close1)->setObjectName(QStringLiteral("N1"));
    ui->Device1->insertSeparator(ui->Upload1)->setObjectName(QStringLiteral("N3"));

    // 712 x 467 with a usual frame and title bar: a client area of 704 x 421 under
    // the menu bar, centred on the screen.
    resize(704, 421 + ui->MainMenu1->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

// The file dialogs are made when first needed: building one costs more than the
// rest of the window, and many sessions never open a file.
QFileDialog& TForm1::OpenDialog1() {
    if (!openDialog_) {
        openDialog_ = makeFileDialog(QStringLiteral("OpenDialog1"));
        openDialog_->setAcceptMode(QFileDialog::AcceptOpen);
        openDialog_->setFileMode(QFileDialog::AnyFile); // a name that does not exist is taken
    }
    return *openDialog_;
}

QFileDialog& TForm1::SaveDialog1() {
    if (!saveDialog_) {
        saveDialog_ = makeFileDialog(QStringLiteral("SaveDialog1"));
        saveDialog_->setAcceptMode(QFileDialog::AcceptSave);
        saveDialog_->setOption(QFileDialog::DontConfirmOverwrite);
    }
    return *saveDialog_;
}

QFileDialog* TForm1::makeFileDialog(const QString& name) {
    auto* dialog = new QFileDialog(this);
    dialog->setObjectName(name);
    const QStringList filters = {QStringLiteral("Config Files (*.cfg)"),
                                 QStringLiteral("All Files (*.*)")};
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());
    dialog->setDefaultSuffix(QStringLiteral("cfg"));
    return dialog;
}

// Each parameter's handler, by its documented name.
namespace {
using Handler = void (TForm1::*)();
} // namespace

void TForm1::connectControls() {
    static const std::array<std::pair<ParameterId, Handler>, kParameterCount> kHandlers{{
        {ParameterId::MusicBass, &TForm1::TrackBar5Change},
        {ParameterId::MusicMiddle, &TForm1::TrackBar7Change},
        {ParameterId::MusicTreble, &TForm1::TrackBar10Change},
        {ParameterId::MusicBalance, &TForm1::TrackBar9Change},
        {ParameterId::EchoDelay, &TForm1::TrackBar11Change},
        {ParameterId::EchoRepeat, &TForm1::TrackBar12Change},
        {ParameterId::EchoLevel, &TForm1::TrackBar13Change},
        {ParameterId::ReverbTime, &TForm1::TrackBar14Change},
        {ParameterId::ReverbLevel, &TForm1::TrackBar15Change},
        {ParameterId::MicBass, &TForm1::TrackBar16Change},
        {ParameterId::MicMiddle, &TForm1::TrackBar17Change},
        {ParameterId::MicTreble, &TForm1::TrackBar18Change},
        {ParameterId::SwFreq, &TForm1::UpDown2Click},
        {ParameterId::EffectVolume, &TForm1::mKnob1Change},
        {ParameterId::FbEx, &TForm1::ComboBox6Change},
        {ParameterId::KeyIndex, &TForm1::ComboBox1Change},
        {ParameterId::InputSource, &TForm1::ComboBox2Change},
        {ParameterId::Center, &TForm1::ComboBox3Change},
        {ParameterId::Aux, &TForm1::ComboBox4Change},
        {ParameterId::MusicIn, &TForm1::ComboBox5Change},
        {ParameterId::SwVol1, &TForm1::UpDown1Click},
        {ParameterId::SwVol2, &TForm1::UpDown5Click},
        {ParameterId::MusicVolMax, &TForm1::UpDown4Click},
        {ParameterId::MicVolMax, &TForm1::UpDown3Click},
        {ParameterId::MusicVolume, &TForm1::mKnob2Change},
        {ParameterId::MicVolume, &TForm1::mKnob3Change},
    }};
    for (const auto& [id, handler] : kHandlers) {
        const Parameter& p = parameter(id);
        QWidget* widget = ui->TabControl1->findChild<QWidget*>(QLatin1String(p.control));
        Q_ASSERT(widget);
        controls_[static_cast<std::size_t>(id)] = widget;
        if (p.valueEdit) {
            valueEdits_[static_cast<std::size_t>(id)] =
                ui->TabControl1->findChild<QLineEdit*>(QLatin1String(p.valueEdit));
        }
        const auto run = [this, h = handler] { (this->*h)(); };
        switch (p.kind) {
        case ControlKind::Slider:
            connect(static_cast<QSlider*>(widget), &QSlider::valueChanged, this, run);
            break;
        case ControlKind::List: // lists report only the operator's picks
            connect(static_cast<QComboBox*>(widget), &QComboBox::activated, this, run);
            break;
        case ControlKind::UpDown:
            static_cast<TUpDown*>(widget)->OnClick = [run](QObject*, TUpDown::TUDBtnType) {
                run();
            };
            break;
        case ControlKind::Knob:
            static_cast<TmKnob*>(widget)->OnChange = [run](QObject*, int) { run(); };
            break;
        }
    }

    ui->TabControl1->OnChange = [this](QObject* sender) { TabControl1Change(sender); };

    connect(ui->New1, &QAction::triggered, this, &TForm1::New1Click);
    connect(ui->Open1, &QAction::triggered, this, &TForm1::Open1Click);
    connect(ui->Save1, &QAction::triggered, this, &TForm1::Save1Click);
    connect(ui->SaveAs1, &QAction::triggered, this, &TForm1::SaveAs1Click);
    connect(ui->Close1, &QAction::triggered, this, &TForm1::Close1Click);
    connect(ui->About1, &QAction::triggered, this, &TForm1::About1Click);
    connect(ui->Upload1, &QAction::triggered, this, [this] { link_->Upload1Click(); });
    connect(ui->Configuator1, &QAction::triggered, this, [this] { link_->Configuator1Click(); });
    connect(ui->Link1, &QAction::triggered, this, [this] {
        // The menu has already flipped the check mark; the command flips it itself.
        ui->Link1->setChecked(!ui->Link1->isChecked());
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
    readSettings(settingsPath_, state_);
    std::map<std::string, std::string> paths;
    for (auto it = state_.portPaths.cbegin(); it != state_.portPaths.cend(); ++it) {
        paths[QFile::encodeName(it.key()).toStdString()] =
            QFile::encodeName(it.value()).toStdString();
    }
    setPortPaths(paths);
    setWindowTitle(applicationTitle());
    New1Click();
}

void TForm1::FormShow() {
    checkComPortItem(state_.comPortNumber); // none when outside 1..15
}

void TForm1::FormClose() {
    pickedDuringCommand_ = -1;
    (void)link_->CancelCommands(); // a waiting upload ends here, sending nothing more
    comm_->StopComm();
    (void)writeSettings(settingsPath_, state_); // failures are ignored
}

void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TForm1::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

// ---------------------------------------------------------------------------------
// File menu

void TForm1::New1Click() {
    // A command that waits ends here: the new record is never sent in part.
    const std::vector<int> unsent = link_->CancelCommands();
    record_.resetToDefaults();
    ui->Link1->setChecked(false);
    comm_->StopComm();
    state_.currentFileName.clear();
    setWindowTitle(applicationTitle());
    TabControl1Change(nullptr);
    reportUnsent(unsent, QStringLiteral("New"));
}

void TForm1::Open1Click() {
    const QString path = dialogs_->chooseFile(OpenDialog1());
    if (path.isEmpty()) {
        return;
    }
    const FileResult read = loadConfigFile(path, record_);
    if (!read) {
        // Nothing was read: record, file name, caption and Link stay as they were.
        showMessage(QStringLiteral("Cannot open %1").arg(elideMiddle(path)), read.reason);
        return;
    }
    const std::vector<int> unsent = link_->CancelCommands();
    ui->Link1->setChecked(false);
    comm_->StopComm();
    setWindowTitle(applicationTitle() + QStringLiteral("  [") + path + QStringLiteral("]"));
    state_.currentFileName = path;
    TabControl1Change(nullptr);
    reportUnsent(unsent, QStringLiteral("Open"));
}

void TForm1::Save1Click() {
    if (state_.currentFileName.isEmpty()) {
        SaveAs1Click();
        return;
    }
    const FileResult written = saveConfigFile(state_.currentFileName, record_);
    if (!written) {
        showMessage(QStringLiteral("Cannot save %1").arg(elideMiddle(state_.currentFileName)),
                    written.reason);
    }
}

void TForm1::SaveAs1Click() {
    const QString path = dialogs_->chooseFile(SaveDialog1());
    if (path.isEmpty()) {
        return;
    }
    const FileResult written = saveConfigFile(path, record_);
    if (!written) {
        showMessage(QStringLiteral("Cannot save %1").arg(elideMiddle(path)), written.reason);
        return;
    }
    state_.currentFileName = path; // the caption stays as it is
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
    if (Sender != nullptr && link_->runningCommands() > 0) {
        // A running command selects each slot it sends and must not be cut short:
        // the pick is shown now, and its Link and port rules wait for the end.
        pickedDuringCommand_ = slot;
        showSlot(slot);
        return;
    }
    if (isPresetSlot(slot)) {
        ui->Link1->setChecked(false);
        comm_->StopComm();
    }
    showSlot(slot);
}

void TForm1::showSlot(int slot) {
    const SlotKind kind = slotKind(slot);
    if (kind == SlotKind::None) {
        return; // no tab selected
    }
    setCaptionOfUpload(ui->TabControl1->TabBar()->tabText(slot));
    if (kind == SlotKind::Preset) {
        LoadPresetControls(slot);
        DisableDefaultSetting();
        return;
    }
    EnableDefaultSetting();
    using enum ParameterId;
    for (const ParameterId id : {InputSource, Center, Aux, MusicIn, MusicVolMax, MicVolMax}) {
        loadControl(id, slot);
    }
    // The knobs take this slot's own maxima first, so that a volume within them is
    // never cut to a maximum another slot left behind. A knob given another value
    // reports it, and its handler shows and compares it.
    ui->mKnob2->SetMaxValue(ui->UpDown4->Position());
    ui->mKnob3->SetMaxValue(ui->UpDown3->Position());
    for (const ParameterId id : {MusicVolume, MicVolume, SwVol1, SwVol2}) {
        loadControl(id, slot);
    }
    LoadPresetControls(slot);
}

// Sliders first, in the handlers' order, then the knob: of these only sliders and
// knobs report, so that is the order in which clamped values are sent.
void TForm1::LoadPresetControls(int slot) {
    for (const Parameter& p : parameterTable()) {
        if (p.field.part == RecordPart::Preset) {
            loadControl(p.id, slot);
        }
    }
}

void TForm1::loadControl(ParameterId id, int slot) {
    const Parameter& p = parameter(id);
    // Read the record afresh: a handler may just have brought a value into range.
    const int position = p.position(p.field.get(record_, slot));
    QWidget* widget = control(id);
    switch (p.kind) {
    case ControlKind::Slider:
        // The slider reports a changed position by itself; the direct call writes
        // its display even when the position stayed.
        static_cast<QSlider*>(widget)->setValue(position);
        parameterChanged(id);
        break;
    case ControlKind::List:
        selectItem(static_cast<QComboBox*>(widget), position);
        break;
    case ControlKind::UpDown: {
        auto* upDown = static_cast<TUpDown*>(widget);
        upDown->SetPosition(position);
        valueEdits_[static_cast<std::size_t>(id)]->setText(QString::number(upDown->Position()));
        break;
    }
    case ControlKind::Knob:
        static_cast<TmKnob*>(widget)->SetCurValue(position);
        break;
    }
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

void TForm1::selectItem(QComboBox* list, int index) {
    // An index beyond the items shows no selection; the record keeps its value.
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

void TForm1::setCaptionOfUpload(const QString& name) {
    ui->Upload1->setText(QStringLiteral("&Upload ") + name);
}

// ---------------------------------------------------------------------------------
// Change handlers

int TForm1::controlValue(ParameterId id) const {
    QWidget* widget = control(id);
    switch (parameter(id).kind) {
    case ControlKind::Slider:
        return static_cast<QSlider*>(widget)->value();
    case ControlKind::List:
        return static_cast<QComboBox*>(widget)->currentIndex();
    case ControlKind::UpDown:
        return static_cast<TUpDown*>(widget)->Position();
    case ControlKind::Knob:
        return static_cast<TmKnob*>(widget)->Position();
    }
    return -1;
}

void TForm1::parameterChanged(ParameterId id) {
    const Parameter& p = parameter(id);
    const int position = controlValue(id);
    if (QLineEdit* edit = valueEdits_[static_cast<std::size_t>(id)]) {
        edit->setText(QString::number(p.shown(p.storedFromPosition(position))));
    }
    const int slot = selectedSlot();
    if (slotKind(slot) == SlotKind::None || (p.kind == ControlKind::List && position < 0)) {
        return; // no tab, or a list with nothing picked
    }
    // A list stores its index cut to the field's width; the others their value.
    const int value = p.kind == ControlKind::List
                          ? static_cast<int>(static_cast<unsigned>(position) & p.field.widthMask())
                          : p.storedFromPosition(position);
    if (p.field.get(record_, slot) == value) {
        return;
    }
    p.field.set(record_, slot, static_cast<unsigned>(value));
    link_->sendLiveParameter(p.live, p.field.get(record_, slot)); // the field alone
}

void TForm1::TrackBar5Change() {
    parameterChanged(ParameterId::MusicBass);
}
void TForm1::TrackBar7Change() {
    parameterChanged(ParameterId::MusicMiddle);
}
void TForm1::TrackBar10Change() {
    parameterChanged(ParameterId::MusicTreble);
}
void TForm1::TrackBar9Change() {
    parameterChanged(ParameterId::MusicBalance);
}
void TForm1::TrackBar11Change() {
    parameterChanged(ParameterId::EchoDelay);
}
void TForm1::TrackBar12Change() {
    parameterChanged(ParameterId::EchoRepeat);
}
void TForm1::TrackBar13Change() {
    parameterChanged(ParameterId::EchoLevel);
}
void TForm1::TrackBar14Change() {
    parameterChanged(ParameterId::ReverbTime);
}
void TForm1::TrackBar15Change() {
    parameterChanged(ParameterId::ReverbLevel);
}
void TForm1::TrackBar16Change() {
    parameterChanged(ParameterId::MicBass);
}
void TForm1::TrackBar17Change() {
    parameterChanged(ParameterId::MicMiddle);
}
void TForm1::TrackBar18Change() {
    parameterChanged(ParameterId::MicTreble);
}
void TForm1::UpDown2Click() {
    parameterChanged(ParameterId::SwFreq);
}
void TForm1::mKnob1Change() {
    parameterChanged(ParameterId::EffectVolume);
}
void TForm1::ComboBox6Change() {
    parameterChanged(ParameterId::FbEx);
}
void TForm1::ComboBox1Change() {
    parameterChanged(ParameterId::KeyIndex);
}
void TForm1::ComboBox2Change() {
    parameterChanged(ParameterId::InputSource);
}
void TForm1::ComboBox3Change() {
    parameterChanged(ParameterId::Center);
}
void TForm1::ComboBox4Change() {
    parameterChanged(ParameterId::Aux);
}
void TForm1::ComboBox5Change() {
    parameterChanged(ParameterId::MusicIn);
}
void TForm1::UpDown5Click() {
    parameterChanged(ParameterId::SwVol2);
}
void TForm1::mKnob2Change() {
    parameterChanged(ParameterId::MusicVolume);
}
void TForm1::mKnob3Change() {
    parameterChanged(ParameterId::MicVolume);
}

void TForm1::UpDown1Click() {
    ui->LabeledEdit5->setText(QString::number(ui->UpDown1->Position()));
    // SW VOL 2 may not exceed SW VOL 1; its record value follows at its next click.
    ui->UpDown5->SetMax(ui->UpDown1->Position());
    ui->LabeledEdit1->setText(QString::number(ui->UpDown5->Position()));
    parameterChanged(ParameterId::SwVol1);
}

void TForm1::UpDown4Click() {
    parameterChanged(ParameterId::MusicVolMax);
    ui->mKnob2->SetMaxValue(ui->UpDown4->Position());
    if (ui->mKnob2->Position() > ui->mKnob2->Max()) {
        ui->mKnob2->SetCurValue(ui->mKnob2->Max()); // reported: mKnob2Change sends 19
    }
}

void TForm1::UpDown3Click() {
    parameterChanged(ParameterId::MicVolMax);
    ui->mKnob3->SetMaxValue(ui->UpDown3->Position());
    if (ui->mKnob3->Position() > ui->mKnob3->Max()) {
        ui->mKnob3->SetCurValue(ui->mKnob3->Max());
    }
}

// ---------------------------------------------------------------------------------
// Device menu

void TForm1::COM11Click(QAction* item) {
    link_->COM11Click(item->property("Tag").toInt());
}

namespace {
// "COM3" -> 3 for the names of the Com Port items; 0 for any other name.
int comItemNumber(const QString& name) {
    static const QRegularExpression com(QStringLiteral("^COM([1-9][0-9]?)$"),
                                        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = com.match(name);
    const int number = match.hasMatch() ? match.captured(1).toInt() : 0;
    return number <= 15 ? number : 0;
}
} // namespace

void TForm1::Connect1Show() {
    for (QAction* item : std::exchange(deviceItems_, {})) {
        delete item;
    }
    const QString current = state_.comPortName;
    const bool currentIsPath = current.startsWith(QLatin1Char('/'));
    bool currentListed = false;
    auto add = [this](const QString& text, bool checked) {
        if (deviceItems_.empty()) {
            QAction* separator = ui->Connect1->addSeparator();
            separator->setObjectName(QStringLiteral("N4"));
            deviceItems_.push_back(separator);
        }
        auto* item = new QAction(text, ui->Connect1);
        item->setObjectName(QStringLiteral("SerialDevice"));
        item->setCheckable(true);
        item->setChecked(checked);
        ui->Connect1->addAction(item);
        deviceItems_.push_back(item);
        return item;
    };
    for (const SerialDevice& device : devices_->devices()) {
        // A device the settings already give a port name is listed under that name.
        QString mapped;
        for (auto it = state_.portPaths.cbegin(); it != state_.portPaths.cend(); ++it) {
            if (sameDevice(it.value(), device.path) || sameDevice(it.value(), device.node)) {
                mapped = it.key();
                break;
            }
        }
        const bool chosen =
            (!mapped.isEmpty() && mapped.compare(current, Qt::CaseInsensitive) == 0) ||
            (currentIsPath &&
             (sameDevice(current, device.path) || sameDevice(current, device.node)));
        currentListed = currentListed || chosen;
        QAction* item = add(
            mapped.isEmpty() ? device.label : device.label + QLatin1Char('\t') + mapped, chosen);
        item->setToolTip(device.path);
        item->setProperty("DevicePath", device.path);
        connect(item, &QAction::triggered, this,
                [this, device, mapped] { chooseDevice(device, mapped); });
    }
    if (currentIsPath && !currentListed) {
        // The remembered device is not plugged in: shown, and a command on it says why.
        QAction* item = add(elideMiddle(current) + QStringLiteral(" (not connected)"), true);
        item->setToolTip(current);
        item->setProperty("DevicePath", current);
        connect(item, &QAction::triggered, this,
                [this, current] { link_->choosePort(current, 0); });
    }
    ui->Connect1->setToolTipsVisible(true);
}

void TForm1::chooseDevice(const SerialDevice& device, const QString& mappedName) {
    if (mappedName.isEmpty()) {
        link_->choosePort(device.path, 0);
    } else {
        link_->choosePort(mappedName, comItemNumber(mappedName));
    }
    for (QAction* item : deviceItems_) {
        item->setChecked(item->property("DevicePath").toString() == device.path);
    }
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
    dialogs_->message(this, EditorDialogs::Icon::Warning, applicationTitle(), text, detail);
}

QString TForm1::slotName(int slot) const {
    return ui->TabControl1->TabBar()->tabText(slot);
}

void TForm1::commandsEnded() {
    const int picked = std::exchange(pickedDuringCommand_, -1);
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
    for (QAction* item : ui->Connect1->actions()) {
        item->setChecked(item->property("Tag").toInt() == tag && tag != 0);
    }
}

// The device went away while the port was open (a USB adapter pulled out): live
// changes would be lost without a word, so Link goes off and the operator is told,
// once, however many hang-ups the threads report.
void TForm1::CommHangup() {
    if (!comm_->IsOpen() || hangupReported_) {
        return;
    }
    const QString device = QString::fromStdString(comm_->DevicePath());
    const std::vector<int> unsent = link_->CancelCommands();
    ui->Link1->setChecked(false);
    comm_->StopComm();
    hangupReported_ = true;
    QString detail = QStringLiteral("The serial port %1 (%2) went away; the adapter may have "
                                    "been unplugged. Link is off. Reconnect the cable and "
                                    "choose Device > Link again.")
                         .arg(elideMiddle(state_.comPortName), elideMiddle(device));
    if (!unsent.empty()) {
        detail += QStringLiteral("\n%1 did not reach the unit.").arg(link_->slotList(unsent));
    }
    dialogs_->message(this, EditorDialogs::Icon::Warning, applicationTitle(),
                      QStringLiteral("The connection to the unit was lost."), detail);
    hangupReported_ = false;
}

} // namespace cantavel
