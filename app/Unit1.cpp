#include "Unit1.h"
#include "ui_Unit1.h"

#include "AppInfo.h"
#include "CommPort.h"
#include "ConfigFile.h"
#include "Elide.h"
#include "Justone.h"
#include "Serialcomm.h"
#include "Settings.h"
#include "TrackBarStyle.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>

#include <utility>

namespace cantavel {

TForm1::TForm1(const TForm1Options& options, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TForm1>()), record_(configRecord()),
      state_(runtimeState()),
      settingsPath_(options.settingsPath.isEmpty() ? settingsPath() : options.settingsPath),
      ownDialogs_(options.dialogs ? nullptr : std::make_unique<WidgetDialogs>()),
      dialogs_(options.dialogs ? options.dialogs : ownDialogs_.get()), comm_(new TComm(this)),
      XJustOne1(new TXJustOne(this)) {
    // The tab strip's font, given before the controls exist so that they are made in
    // it rather than told of it one by one afterwards (which doubles the start-up
    // work). The window's own font, for the menu, follows below.
    setFont(designFont(QStringLiteral("Arial"), 13));
    ui->setupUi(this);
    applyDesignValues();
    link_ = std::make_unique<DeviceLink>(record_, state_, *comm_, *this);
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

void TForm1::connectControls() {
    const auto onSlider = [this](QSlider* bar, void (TForm1::*handler)()) {
        connect(bar, &QSlider::valueChanged, this, [this, handler] { (this->*handler)(); });
    };
    onSlider(ui->TrackBar5, &TForm1::TrackBar5Change);
    onSlider(ui->TrackBar7, &TForm1::TrackBar7Change);
    onSlider(ui->TrackBar10, &TForm1::TrackBar10Change);
    onSlider(ui->TrackBar9, &TForm1::TrackBar9Change);
    onSlider(ui->TrackBar11, &TForm1::TrackBar11Change);
    onSlider(ui->TrackBar12, &TForm1::TrackBar12Change);
    onSlider(ui->TrackBar13, &TForm1::TrackBar13Change);
    onSlider(ui->TrackBar14, &TForm1::TrackBar14Change);
    onSlider(ui->TrackBar15, &TForm1::TrackBar15Change);
    onSlider(ui->TrackBar16, &TForm1::TrackBar16Change);
    onSlider(ui->TrackBar17, &TForm1::TrackBar17Change);
    onSlider(ui->TrackBar18, &TForm1::TrackBar18Change);

    // Lists report only the operator's picks.
    const auto onList = [this](QComboBox* list, void (TForm1::*handler)()) {
        connect(list, &QComboBox::activated, this, [this, handler] { (this->*handler)(); });
    };
    onList(ui->ComboBox6, &TForm1::ComboBox6Change);
    onList(ui->ComboBox1, &TForm1::ComboBox1Change);
    onList(ui->ComboBox2, &TForm1::ComboBox2Change);
    onList(ui->ComboBox3, &TForm1::ComboBox3Change);
    onList(ui->ComboBox4, &TForm1::ComboBox4Change);
    onList(ui->ComboBox5, &TForm1::ComboBox5Change);

    ui->UpDown2->OnClick = [this](QObject*, TUpDown::TUDBtnType) { UpDown2Click(); };
    ui->UpDown1->OnClick = [this](QObject*, TUpDown::TUDBtnType) { UpDown1Click(); };
    ui->UpDown5->OnClick = [this](QObject*, TUpDown::TUDBtnType) { UpDown5Click(); };
    ui->UpDown4->OnClick = [this](QObject*, TUpDown::TUDBtnType) { UpDown4Click(); };
    ui->UpDown3->OnClick = [this](QObject*, TUpDown::TUDBtnType) { UpDown3Click(); };
    ui->mKnob1->OnChange = [this](QObject*, int) { mKnob1Change(); };
    ui->mKnob2->OnChange = [this](QObject*, int) { mKnob2Change(); };
    ui->mKnob3->OnChange = [this](QObject*, int) { mKnob3Change(); };

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
    if (slot >= 1 && slot <= 4) {
        ui->Link1->setChecked(false);
        comm_->StopComm();
    }
    showSlot(slot);
}

void TForm1::showSlot(int slot) {
    if (slot >= 1 && slot <= 4) {
        setCaptionOfUpload(QString::number(slot));
        LoadPresetControls(slot);
        DisableDefaultSetting();
        return;
    }
    if (slot != 0 && slot != 5 && slot != 6) {
        return; // no tab selected
    }
    setCaptionOfUpload(ui->TabControl1->TabBar()->tabText(slot));
    EnableDefaultSetting();
    const ModeRecord& m = record_.mode(slot);
    selectItem(ui->ComboBox2, m.inputSource());
    selectItem(ui->ComboBox3, m.center());
    selectItem(ui->ComboBox4, m.aux());
    selectItem(ui->ComboBox5, m.musicIn());
    ui->UpDown4->SetPosition(m.musicVolMax);
    ui->LabeledEdit4->setText(QString::number(ui->UpDown4->Position()));
    ui->UpDown3->SetPosition(m.micVolMax);
    ui->LabeledEdit3->setText(QString::number(ui->UpDown3->Position()));
    // The knobs take this slot's own maxima first, so that a volume within them is
    // never cut to a maximum another slot left behind. A knob given another value
    // reports it, and its handler shows and compares it.
    ui->mKnob2->SetMaxValue(ui->UpDown4->Position());
    ui->mKnob3->SetMaxValue(ui->UpDown3->Position());
    ui->mKnob2->SetCurValue(record_.mode(slot).musicVolume);
    ui->mKnob3->SetCurValue(record_.mode(slot).micVolume);
    ui->UpDown1->SetPosition(record_.mode(slot).swVol1);
    ui->UpDown5->SetPosition(record_.mode(slot).swVol2);
    ui->LabeledEdit5->setText(QString::number(ui->UpDown1->Position()));
    ui->LabeledEdit1->setText(QString::number(ui->UpDown5->Position()));
    LoadPresetControls(slot);
}

void TForm1::LoadPresetControls(int slot) {
    const EffectPreset& p = record_.preset(slot);
    selectItem(ui->ComboBox6, p.fbEx);
    selectItem(ui->ComboBox1, p.keyIndex);
    ui->UpDown2->SetPosition(p.swFreq);
    ui->LabeledEdit2->setText(QString::number(ui->UpDown2->Position()));

    // Each slider reports a changed position by itself; the direct call writes its
    // display even when the position stayed. Read the record afresh each time: a
    // handler may just have brought a value into range.
    const auto tone = [this, slot](QSlider* bar, PresetField field, void (TForm1::*handler)()) {
        bar->setValue(10 - static_cast<int>(record_.preset(slot).*field));
        (this->*handler)();
    };
    const auto raw = [this, slot](QSlider* bar, PresetField field, void (TForm1::*handler)()) {
        bar->setValue(record_.preset(slot).*field);
        (this->*handler)();
    };
    tone(ui->TrackBar5, &EffectPreset::musicBass, &TForm1::TrackBar5Change);
    tone(ui->TrackBar7, &EffectPreset::musicMiddle, &TForm1::TrackBar7Change);
    tone(ui->TrackBar10, &EffectPreset::musicTreble, &TForm1::TrackBar10Change);
    tone(ui->TrackBar9, &EffectPreset::musicBalance, &TForm1::TrackBar9Change);
    raw(ui->TrackBar11, &EffectPreset::echoDelay, &TForm1::TrackBar11Change);
    raw(ui->TrackBar12, &EffectPreset::echoRepeat, &TForm1::TrackBar12Change);
    raw(ui->TrackBar13, &EffectPreset::echoLevel, &TForm1::TrackBar13Change);
    raw(ui->TrackBar14, &EffectPreset::reverbTime, &TForm1::TrackBar14Change);
    raw(ui->TrackBar15, &EffectPreset::reverbLevel, &TForm1::TrackBar15Change);
    tone(ui->TrackBar16, &EffectPreset::micBass, &TForm1::TrackBar16Change);
    tone(ui->TrackBar17, &EffectPreset::micMiddle, &TForm1::TrackBar17Change);
    tone(ui->TrackBar18, &EffectPreset::micTreble, &TForm1::TrackBar18Change);
    ui->mKnob1->SetCurValue(record_.preset(slot).effectVolume);
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

void TForm1::toneSliderChanged(QSlider* bar, QLineEdit* display, PresetField field,
                               std::uint8_t live) {
    display->setText(QString::number(-bar->value()));
    presetValueChanged(10 - bar->value(), field, live);
}

void TForm1::sliderChanged(QSlider* bar, QLineEdit* display, PresetField field, std::uint8_t live) {
    display->setText(QString::number(bar->value()));
    presetValueChanged(bar->value(), field, live);
}

void TForm1::presetValueChanged(int value, PresetField field, std::uint8_t live) {
    const int slot = selectedSlot();
    if (slot < 0 || slot >= kSlotCount) {
        return;
    }
    EffectPreset& p = record_.preset(slot);
    if (p.*field == value) {
        return;
    }
    p.*field = static_cast<std::uint8_t>(value);
    link_->sendLiveParameter(live, p.*field);
}

void TForm1::modeValueChanged(int value, ModeField field, std::uint8_t live) {
    const int slot = selectedSlot();
    if (slot < 0 || slot >= kSlotCount) {
        return;
    }
    ModeRecord& m = record_.mode(slot);
    if (m.*field == value) {
        return;
    }
    m.*field = static_cast<std::uint8_t>(value);
    link_->sendLiveParameter(live, m.*field);
}

void TForm1::modeBitsChanged(QComboBox* list, std::uint8_t (ModeRecord::*get)() const,
                             void (ModeRecord::*set)(unsigned), unsigned widthMask,
                             std::uint8_t live) {
    const int slot = selectedSlot();
    if (slot < 0 || slot >= kSlotCount || list->currentIndex() < 0) {
        return;
    }
    ModeRecord& m = record_.mode(slot);
    const unsigned value = static_cast<unsigned>(list->currentIndex()) & widthMask;
    if ((m.*get)() == value) {
        return;
    }
    (m.*set)(value);
    link_->sendLiveParameter(live, (m.*get)()); // the field alone, never the whole byte
}

void TForm1::TrackBar5Change() {
    toneSliderChanged(ui->TrackBar5, ui->Edit2, &EffectPreset::musicBass, LiveMusicBass);
}
void TForm1::TrackBar7Change() {
    toneSliderChanged(ui->TrackBar7, ui->Edit3, &EffectPreset::musicMiddle, LiveMusicMiddle);
}
void TForm1::TrackBar10Change() {
    toneSliderChanged(ui->TrackBar10, ui->Edit4, &EffectPreset::musicTreble, LiveMusicTreble);
}
void TForm1::TrackBar9Change() {
    toneSliderChanged(ui->TrackBar9, ui->Edit5, &EffectPreset::musicBalance, LiveMusicBalance);
}
void TForm1::TrackBar11Change() {
    sliderChanged(ui->TrackBar11, ui->Edit6, &EffectPreset::echoDelay, LiveEchoDelay);
}
void TForm1::TrackBar12Change() {
    sliderChanged(ui->TrackBar12, ui->Edit7, &EffectPreset::echoRepeat, LiveEchoRepeat);
}
void TForm1::TrackBar13Change() {
    sliderChanged(ui->TrackBar13, ui->Edit8, &EffectPreset::echoLevel, LiveEchoLevel);
}
void TForm1::TrackBar14Change() {
    sliderChanged(ui->TrackBar14, ui->Edit9, &EffectPreset::reverbTime, LiveReverbTime);
}
void TForm1::TrackBar15Change() {
    sliderChanged(ui->TrackBar15, ui->Edit10, &EffectPreset::reverbLevel, LiveReverbLevel);
}
void TForm1::TrackBar16Change() {
    toneSliderChanged(ui->TrackBar16, ui->Edit11, &EffectPreset::micBass, LiveMicBass);
}
void TForm1::TrackBar17Change() {
    toneSliderChanged(ui->TrackBar17, ui->Edit12, &EffectPreset::micMiddle, LiveMicMiddle);
}
void TForm1::TrackBar18Change() {
    toneSliderChanged(ui->TrackBar18, ui->Edit13, &EffectPreset::micTreble, LiveMicTreble);
}

void TForm1::UpDown2Click() {
    ui->LabeledEdit2->setText(QString::number(ui->UpDown2->Position()));
    presetValueChanged(ui->UpDown2->Position(), &EffectPreset::swFreq, LiveSwFreq);
}

void TForm1::mKnob1Change() {
    ui->Edit14->setText(QString::number(ui->mKnob1->Position()));
    presetValueChanged(ui->mKnob1->Position(), &EffectPreset::effectVolume, LiveEffectVolume);
}

void TForm1::ComboBox6Change() {
    const int index = ui->ComboBox6->currentIndex();
    if (index >= 0) {
        presetValueChanged(index, &EffectPreset::fbEx, LiveFbEx);
    }
}

void TForm1::ComboBox1Change() {
    const int index = ui->ComboBox1->currentIndex();
    if (index >= 0) {
        presetValueChanged(index, &EffectPreset::keyIndex, LiveKeyIndex);
    }
}

void TForm1::ComboBox2Change() {
    modeBitsChanged(ui->ComboBox2, &ModeRecord::inputSource, &ModeRecord::setInputSource, 7,
                    LiveInputSource);
}
void TForm1::ComboBox3Change() {
    modeBitsChanged(ui->ComboBox3, &ModeRecord::center, &ModeRecord::setCenter, 1, LiveCenter);
}
void TForm1::ComboBox4Change() {
    modeBitsChanged(ui->ComboBox4, &ModeRecord::aux, &ModeRecord::setAux, 3, LiveAux);
}
void TForm1::ComboBox5Change() {
    modeBitsChanged(ui->ComboBox5, &ModeRecord::musicIn, &ModeRecord::setMusicIn, 7, LiveMusicIn);
}

void TForm1::UpDown1Click() {
    ui->LabeledEdit5->setText(QString::number(ui->UpDown1->Position()));
    // SW VOL 2 may not exceed SW VOL 1; its record value follows at its next click.
    ui->UpDown5->SetMax(ui->UpDown1->Position());
    ui->LabeledEdit1->setText(QString::number(ui->UpDown5->Position()));
    modeValueChanged(ui->UpDown1->Position(), &ModeRecord::swVol1, LiveSwVol1);
}

void TForm1::UpDown5Click() {
    ui->LabeledEdit1->setText(QString::number(ui->UpDown5->Position()));
    modeValueChanged(ui->UpDown5->Position(), &ModeRecord::swVol2, LiveSwVol2);
}

void TForm1::UpDown4Click() {
    ui->LabeledEdit4->setText(QString::number(ui->UpDown4->Position()));
    modeValueChanged(ui->UpDown4->Position(), &ModeRecord::musicVolMax, LiveMusicVolMax);
    ui->mKnob2->SetMaxValue(ui->UpDown4->Position());
    if (ui->mKnob2->Position() > ui->mKnob2->Max()) {
        ui->mKnob2->SetCurValue(ui->mKnob2->Max()); // reported: mKnob2Change sends 19
    }
}

void TForm1::UpDown3Click() {
    ui->LabeledEdit3->setText(QString::number(ui->UpDown3->Position()));
    modeValueChanged(ui->UpDown3->Position(), &ModeRecord::micVolMax, LiveMicVolMax);
    ui->mKnob3->SetMaxValue(ui->UpDown3->Position());
    if (ui->mKnob3->Position() > ui->mKnob3->Max()) {
        ui->mKnob3->SetCurValue(ui->mKnob3->Max());
    }
}

void TForm1::mKnob2Change() {
    ui->Edit15->setText(QString::number(ui->mKnob2->Position()));
    modeValueChanged(ui->mKnob2->Position(), &ModeRecord::musicVolume, LiveMusicVolume);
}

void TForm1::mKnob3Change() {
    ui->Edit16->setText(QString::number(ui->mKnob3->Position()));
    modeValueChanged(ui->mKnob3->Position(), &ModeRecord::micVolume, LiveMicVolume);
}

// ---------------------------------------------------------------------------------
// Device menu

void TForm1::COM11Click(QAction* item) {
    link_->COM11Click(item->property("Tag").toInt());
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
        item->setChecked(item->property("Tag").toInt() == tag);
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
