#pragma once

// The editor's main window: every parameter control of one preset slot at a time on
// the tab strip, the menu, and the serial port the Device commands use.

#include "ConfigRecord.h"
#include "DeviceLink.h"
#include "Dialogs.h"
#include "DocumentFiles.h"
#include "ParameterControls.h"
#include "Parameters.h"
#include "PresetDocument.h"
#include "RuntimeState.h"
#include "SerialDevices.h"
#include "SingleInstance.h"
#include "SlotKind.h"
#include "SlotTransfer.h"

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class QComboBox;
class QDialog;
class QDropEvent;
class QFileDialog;
class QLineEdit;
class QMenu;
class QSlider;

namespace Ui {
class TForm1;
}

namespace cantavel {

class ComPortMenu;
class HandOverQueue;
class LibraryWindow;
class RecentFiles;
class TComm;
class TLabeledEdit;
class TUpDown;

struct TForm1Options {
    // Where the settings live; empty means where settingsPath() puts them (beside a
    // build or portable copy of the program, otherwise the user's configuration folder).
    QString settingsPath = {};
    // Message boxes and file dialogs; none means the real ones.
    EditorDialogs* dialogs = nullptr;
    // The Device commands' time; none means the event loop's.
    CommandClock* clock = nullptr;
    // The serial devices the Com Port menu lists; none means the system's.
    const SerialDeviceSource* devices = nullptr;
    // A later start hands this file to the running editor (an absolute path).
    QString fileToHandOver = {};
    // The folder that holds the preset library's index and folder list; empty means
    // the user's application data folder.
    QString libraryDir = {};
};

class TForm1 : public QMainWindow, public DeviceCommandHost {
    Q_OBJECT

public:
    // The window edits `record` and `state`, which its creator owns and keeps for
    // as long as the window lives.
    TForm1(ConfigRecord& record, RuntimeState& state, const TForm1Options& options = {},
           QWidget* parent = nullptr);
    ~TForm1() override;

    TComm& Comm() { return *comm_; }
    // The record being edited, its file and the changes that can be taken back.
    PresetDocument& Document() { return document_; }
    DeviceLink& Link() { return *link_; }
    QFileDialog& OpenDialog1() { return files_->openDialog(); }
    QFileDialog& SaveDialog1() { return files_->saveDialog(); }
    // The About dialog the application created for Help > About.
    void SetAboutBox(QDialog* box) { aboutBox_ = box; }
    // Another instance runs: this one must not be shown and ends at once.
    bool IsSecondInstance() const;
    // How the single-instance check went, for the start to report.
    const TXJustOne& Guard() const { return *XJustOne1; }

    // Opens a file as File > Open does with it chosen, asking first about unsaved
    // changes; false when it was not opened.
    bool OpenFile(const QString& path);
    // A file a later start (begun at `startedAt`, steady clock) handed over: of the
    // files handed over while a dialog or a Device command is open, the latest
    // start's is opened once none is; the others are named in one message.
    TXJustOne::HandOverReply HandOverFile(const QString& path, qint64 startedAt);
    // The record differs from what was last loaded, saved or made new.
    bool IsModified() const;

    // File menu.
    void New1Click();
    void Open1Click();
    void Save1Click() { files_->save(); }
    void SaveAs1Click() { files_->saveAs(); }
    void Close1Click();
    void About1Click();
    // A new record, asking first about unsaved changes as New does, with each slot
    // given on its tab (`byTab[i]` on tab i; a tab given none keeps the new record's
    // values), each as one step; false when the record was not replaced.
    bool NewFromSlots(const std::array<std::optional<SlotTransfer>, kSlotCount>& byTab);
    // The preset sheet on a printer the print dialog chooses, or in a PDF file.
    void Print1Click() {
        endComparison(); // the sheet shows the operator's own values
        files_->print();
    }
    void ExportPdf1Click() {
        endComparison();
        files_->exportPdf();
    }
    QFileDialog& ExportDialog1() { return files_->exportDialog(); }

    // Edit menu.
    void Undo1Click();
    void Redo1Click();
    // The selected tab's slot onto the clipboard, and the clipboard's slot onto it.
    void CopySlot1Click();
    void PasteSlot1Click();
    // Every value the target tab shows takes the value `fromSlot` of `from` has,
    // as one step to take back; the tab is shown first, as a step of undo shows its
    // tab. An effect preset put on a mode slot, or a mode slot's values on an effect
    // preset, changes the effect values only. False (nothing changed) while a Device
    // command runs, or for a slot that is not there. `only`, when not empty, names
    // the parameters that change (a text that gives some of them).
    bool PasteSlot(int target, const ConfigRecord& from, int fromSlot,
                   std::span<const ParameterId> only = {});
    // The selected tab between its values and those it had when last loaded, saved
    // or made new; the unit hears (in Link mode on "Default") what differs.
    void Compare1Click();
    bool IsComparing() const { return comparing_; }
    // The selected tab's slot blended towards another slot, tried as the slider
    // moves (and heard, in Link mode on "Default"); OK keeps it as one step. With
    // `library`, that slot is offered first.
    void Blend1Click() { BlendWith(std::nullopt); }
    void BlendWith(const std::optional<SlotTransfer>& library);
    // The selected tab's values changed at random within the dialog's bounds.
    void Randomize1Click();

    // View menu: the preset library's window, made when first asked for.
    void Library1Click();
    // Preset tabs.
    void TabControl1Change(QObject* Sender);
    void LoadPresetControls(int slot);
    void DisableDefaultSetting();
    void EnableDefaultSetting();

    // DeviceCommandHost
    bool isLinkChecked() const override;
    void setLinkChecked(bool checked) override;
    int selectedSlot() const override;
    int tabCount() const override;
    void selectTabQuietly(int slot) override;
    void setBusyPointer(bool busy) override;
    void showMessage(const QString& text, const QString& detail) override;
    void checkComPortItem(int tag) override;
    QString slotName(int slot) const override;
    void commandsEnded() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // Slot data dragged onto a tab of the tab strip.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormClose();
    // A settings file that cannot be read or written: a message box and a line on
    // standard error. text holds %1 for the settings path.
    void reportSettingsProblem(const QString& text, const QString& reason);

    // Parameter change handlers: each hands its control's change to the document.
    // SW VOL 2 shows at most SW VOL 1, and a volume at most its maximum; a maximum
    // lowered below its volume brings the volume down, and both are sent.
    void TrackBar5Change() { parameters_->changed(ParameterId::MusicBass); }
    void TrackBar7Change() { parameters_->changed(ParameterId::MusicMiddle); }
    void TrackBar10Change() { parameters_->changed(ParameterId::MusicTreble); }
    void TrackBar9Change() { parameters_->changed(ParameterId::MusicBalance); }
    void TrackBar11Change() { parameters_->changed(ParameterId::EchoDelay); }
    void TrackBar12Change() { parameters_->changed(ParameterId::EchoRepeat); }
    void TrackBar13Change() { parameters_->changed(ParameterId::EchoLevel); }
    void TrackBar14Change() { parameters_->changed(ParameterId::ReverbTime); }
    void TrackBar15Change() { parameters_->changed(ParameterId::ReverbLevel); }
    void TrackBar16Change() { parameters_->changed(ParameterId::MicBass); }
    void TrackBar17Change() { parameters_->changed(ParameterId::MicMiddle); }
    void TrackBar18Change() { parameters_->changed(ParameterId::MicTreble); }
    void UpDown2Click() { parameters_->changed(ParameterId::SwFreq); }
    void mKnob1Change() { parameters_->changed(ParameterId::EffectVolume); }
    void ComboBox6Change() { parameters_->changed(ParameterId::FbEx); }
    void ComboBox1Change() { parameters_->changed(ParameterId::KeyIndex); }
    void ComboBox2Change() { parameters_->changed(ParameterId::InputSource); }
    void ComboBox3Change() { parameters_->changed(ParameterId::Center); }
    void ComboBox4Change() { parameters_->changed(ParameterId::Aux); }
    void ComboBox5Change() { parameters_->changed(ParameterId::MusicIn); }
    void UpDown1Click() { parameters_->changed(ParameterId::SwVol1); }
    void UpDown5Click() { parameters_->changed(ParameterId::SwVol2); }
    void UpDown4Click() { parameters_->changed(ParameterId::MusicVolMax); }
    void UpDown3Click() { parameters_->changed(ParameterId::MicVolMax); }
    void mKnob2Change() { parameters_->changed(ParameterId::MusicVolume); }
    void mKnob3Change() { parameters_->changed(ParameterId::MicVolume); }
    void COM11Click(QAction* item);
    // Lists the serial devices present below the COM items, afresh at each opening.
    void Connect1Show();

    void documentChanged(ParameterId id, unsigned after);
    // A comparison ends with the operator's own values back.
    // Whether a comparison was ended.
    bool endComparison();
    void trialEnded(bool byEdit);
    // Tells once, when the operator lets go, that an edit ended a comparison.
    void explainComparisonEnded();
    // Refuses (and says why) while a Device command sends the record.
    bool refusedDuringCommand(const QString& what);

    // The tab's view without the Link-ending effect of a numbered tab.
    void showSlot(int slot);
    // A trial on another tab than `slot` ends, its own values back on the unit's tab.
    // Whether one was put back.
    bool putBackTrialLeaving(int slot);
    std::vector<QWidget*> defaultSettingControls() const;
    void setCaptionOfUpload(const QString& name);
    void CommHangup();
    void pickDuringCommand(int slot);
    // Tells the operator which slots a command ended by `cause` left unsent.
    void reportUnsent(const std::vector<int>& unsent, const QString& cause);
    void connectControls();
    void applyDesignValues();

    // Before another record takes the old one's place: Device commands, Link and the
    // port end; returns the slots a command left unsent.
    std::vector<int> releaseDevice();
    void dropHandedOverFor(const QString& opened);
    void setCaption(const QString& caption);
    void updateCaption();

    // Undo and redo: the document keeps the steps; a button or key held on a
    // control makes one step of what it changes.
    void closeEditStep();
    void showStepSlot(int slot);
    void updateEditActions();
    // What a file's slot is called where it travels: "live.cfg, Mode A".
    QString slotSource(int slot) const;
    // The tab a drag over the tab strip would land on, -1 when none or when the
    // data holds no slot.
    int dropTarget(const QDropEvent& event) const;

    std::unique_ptr<Ui::TForm1> ui;
    ConfigRecord& record_;
    RuntimeState& state_;
    QString settingsPath_;
    std::unique_ptr<EditorDialogs> ownDialogs_;
    EditorDialogs* dialogs_;
    TComm* comm_;
    TXJustOne* XJustOne1;
    std::unique_ptr<DeviceLink> link_;
    QDialog* aboutBox_ = nullptr;
    bool shown_ = false;
    // The tab the operator picked while a Device command ran; applied (Link and
    // port rules included) when the command has ended. -1 for none.
    int pickedDuringCommand_ = -1;
    bool numberedPickedDuringCommand_ = false; // one of them ends Link at the end
    QString unreadSettings_; // why the settings could not be read, told once shown

    PresetDocument document_;
    int greyedSlot_ = 0; // the mode slot whose Default Setting a numbered tab shows
    QString caption_;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    QAction* copySlot_ = nullptr;
    QAction* pasteSlot_ = nullptr;
    QAction* compare_ = nullptr;
    QAction* blend_ = nullptr;
    QAction* randomize_ = nullptr;
    bool comparing_ = false;           // the document's trial is a comparison with the saved values
    bool comparisonExplained_ = false; // an edit has ended one and the operator was told
    bool pacedLive_ = false;           // live values go out paced to the line (a blend moving)
    int dialogsOpen_ = 0;              // our own dialogs (the seam may answer without a window)
    // Children of the window, each with a role of its own.
    ParameterControls* parameters_ = nullptr; // the parameters' controls
    DocumentFiles* files_ = nullptr;          // the File menu's work on the document
    HandOverQueue* handOver_ = nullptr;       // files from later starts wait for a quiet moment
    RecentFiles* recentFiles_ = nullptr;      // File > Recent Files
    ComPortMenu* comPortMenu_ = nullptr;      // Device > Com Port
    QString libraryDir_;                      // where the library lives; empty: the usual place
    LibraryWindow* library_ = nullptr;        // View > Library, a window of its own once made
};

} // namespace cantavel
