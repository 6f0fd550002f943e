#pragma once

// The editor's main window: every parameter control of one preset slot at a time on
// the tab strip, the menu, and the serial port the Device commands use.

#include "ConfigRecord.h"
#include "DeviceLink.h"
#include "Dialogs.h"
#include "Parameters.h"
#include "PresetDocument.h"
#include "RuntimeState.h"
#include "SerialDevices.h"
#include "SingleInstance.h"

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class QComboBox;
class QDialog;
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
    QFileDialog& OpenDialog1();
    QFileDialog& SaveDialog1();
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
    void Save1Click();
    void SaveAs1Click();
    void Close1Click();
    void About1Click();
    // The preset sheet on a printer the print dialog chooses, or in a PDF file.
    void Print1Click();
    void ExportPdf1Click();
    QFileDialog& ExportDialog1();

    // Edit menu.
    void Undo1Click();
    void Redo1Click();

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
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormClose();
    // A settings file that cannot be read or written: a message box and a line on
    // standard error. text holds %1 for the settings path.
    void reportSettingsProblem(const QString& text, const QString& reason);

    // Parameter change handlers.
    void TrackBar5Change();
    void TrackBar7Change();
    void TrackBar10Change();
    void TrackBar9Change();
    void TrackBar11Change();
    void TrackBar12Change();
    void TrackBar13Change();
    void TrackBar14Change();
    void TrackBar15Change();
    void TrackBar16Change();
    void TrackBar17Change();
    void TrackBar18Change();
    void UpDown2Click();
    void mKnob1Change();
    void ComboBox6Change();
    void ComboBox1Change();
    void ComboBox2Change();
    void ComboBox3Change();
    void ComboBox4Change();
    void ComboBox5Change();
    void UpDown1Click();
    void UpDown5Click();
    void UpDown4Click();
    void UpDown3Click();
    void mKnob2Change();
    void mKnob3Change();
    void COM11Click(QAction* item);
    // Lists the serial devices present below the COM items, afresh at each opening.
    void Connect1Show();

    void parameterChanged(ParameterId id);
    void documentChanged(int slot, ParameterId id, unsigned after);
    void showParameter(const Parameter& p, int slot);
    int controlValue(ParameterId id) const;
    QWidget* control(ParameterId id) const { return controls_[static_cast<std::size_t>(id)]; }

    // The tab's view without the Link-ending effect of a numbered tab.
    void showSlot(int slot);
    std::vector<QWidget*> defaultSettingControls() const;
    static void selectItem(QComboBox* list, int index);
    void setCaptionOfUpload(const QString& name);
    void CommHangup();
    void pickDuringCommand(int slot);
    // Tells the operator which slots a command ended by `cause` left unsent.
    void reportUnsent(const std::vector<int>& unsent, const QString& cause);
    void connectControls();
    void applyDesignValues();

    // Unsaved work: asks "Save changes to ...?" when the record changed; false when
    // the action that asked must not go on.
    bool maybeSave();
    // Reads a chosen file into the record and shows it; false (and said why) when
    // nothing could be read.
    bool openChosen(const QString& path);
    bool saveTo(const QString& path);
    void setCaption(const QString& caption);
    // The title and the file the record came from or went to, as Open shows it.
    static QString captionWithFile(const QString& path);
    void updateCaption();
    QString chooseFile(QFileDialog& dialog);

    // Undo and redo: the document keeps the steps; a button or key held on a
    // control makes one step of what it changes.
    void closeEditStep();
    void showStepSlot(int slot);
    void updateEditActions();
    void watchGestures(QWidget* widget);

    std::unique_ptr<Ui::TForm1> ui;
    ConfigRecord& record_;
    RuntimeState& state_;
    QString settingsPath_;
    std::unique_ptr<EditorDialogs> ownDialogs_;
    EditorDialogs* dialogs_;
    TComm* comm_;
    TXJustOne* XJustOne1;
    std::unique_ptr<DeviceLink> link_;
    // Each parameter's control and the edit that shows its value, by ParameterId.
    std::array<QWidget*, kParameterCount> controls_{};
    std::array<QLineEdit*, kParameterCount> valueEdits_{};
    QFileDialog* makeFileDialog(const QString& name);
    QFileDialog* openDialog_ = nullptr; // owned by the window once made
    QFileDialog* saveDialog_ = nullptr;
    QFileDialog* exportDialog_ = nullptr;
    QDialog* aboutBox_ = nullptr;
    bool shown_ = false;
    // The tab the operator picked while a Device command ran; applied (Link and
    // port rules included) when the command has ended. -1 for none.
    int pickedDuringCommand_ = -1;
    bool numberedPickedDuringCommand_ = false; // one of them ends Link at the end
    QString unreadSettings_; // why the settings could not be read, told once shown

    PresetDocument document_;
    QString caption_;
    QMenu* recent_ = nullptr;
    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    int showing_ = 0;      // controls being set to the record's values
    bool gesture_ = false; // a button or key held on a parameter control
    bool closePending_ = false;
    int dialogsOpen_ = 0; // our own dialogs (the seam may answer without a window)
    // Children of the window, each with a role of its own.
    HandOverQueue* handOver_ = nullptr;  // files from later starts wait for a quiet moment
    RecentFiles* recentFiles_ = nullptr; // File > Recent Files
    ComPortMenu* comPortMenu_ = nullptr; // Device > Com Port
};

} // namespace cantavel
