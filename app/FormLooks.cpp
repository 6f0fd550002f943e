#include "FormLooks.h"
#include "ui_MainWindow.h"

#include "AppInfo.h"
#include "TrackBarStyle.h"

#include <QFileDialog>
#include <QGroupBox>
#include <QMainWindow>
#include <QProxyStyle>

#include <utility>

namespace cantavel {

namespace {
// A group box whose title is set a few pixels lower than its style puts it, its frame
// where it was.
class LoweredTitle final : public QProxyStyle {
public:
    explicit LoweredTitle(int pixels) : QProxyStyle(nullptr), pixels_(pixels) {}

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex* option, SubControl sub,
                         const QWidget* widget) const override {
        QRect rect = QProxyStyle::subControlRect(control, option, sub, widget);
        if (control == CC_GroupBox && (sub == SC_GroupBoxLabel || sub == SC_GroupBoxCheckBox)) {
            rect.translate(0, pixels_);
        }
        return rect;
    }

private:
    int pixels_;
};
} // namespace

void applyFormLooks(QMainWindow& window, Ui::TForm1& ui) {
    window.setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    ui.TabControl1->setFont(designFont(QStringLiteral("Arial"), 13));
    window.setFont(designFont(QStringLiteral("MS Sans Serif"), 11)); // the tab strip keeps its own
    for (QLabel* label :
         {ui.Label2, ui.Label3, ui.Label4, ui.Label5, ui.Label6, ui.Label7, ui.Label8}) {
        label->setFont(designFont(QStringLiteral("Arial"), 11));
    }
    // The column heads of the music tone sliders are 5 pixels wider than their group
    // at the stand-in font: a little less room between the letters keeps them inside.
    QFont heads = ui.Label2->font();
    heads.setLetterSpacing(QFont::AbsoluteSpacing, -0.25);
    ui.Label2->setFont(heads);
    for (QLabel* label : ui.TabControl1->findChildren<QLabel*>()) {
        label->adjustSize();
    }
    // The Mic group begins on the Effect group's frame line, where its title touched
    // that line: set a little lower, the title sits between the two lines.
    auto* lowered = new LoweredTitle(3);
    lowered->setParent(&window);
    ui.GroupBox4->setStyle(lowered);
    // "SW FREQ:" is a little wider than the room left of its edit at the stand-in font
    // and touched the Effect group's frame: its letters go a little closer.
    QFont swFreq = ui.LabeledEdit2->EditLabel()->font();
    swFreq.setLetterSpacing(QFont::AbsoluteSpacing, -0.5);
    ui.LabeledEdit2->EditLabel()->setFont(swFreq);
    ui.LabeledEdit2->SetEditLabelCaption(ui.LabeledEdit2->EditLabelCaption()); // placed anew
    // Track bars keep their channel and thumbs a few pixels inside the control.
    auto* trackBars = new TTrackBarStyle;
    trackBars->setParent(&window);
    for (QSlider* bar : ui.TabControl1->findChildren<QSlider*>()) {
        bar->setStyle(trackBars);
    }
    ui.TabControl1->SetTabs({QStringLiteral("Default"), QStringLiteral("1"), QStringLiteral("2"),
                             QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("Mode A"),
                             QStringLiteral("Mode B")});
    ui.TabControl1->TabBar()->setCurrentIndex(0);

    const std::pair<TmKnob*, int> knobs[] = {{ui.mKnob1, 80}, {ui.mKnob2, 63}, {ui.mKnob3, 42}};
    for (const auto& [knob, max] : knobs) {
        knob->SetColor(clGradientActiveCaption);
        knob->SetTickColor(clRed);
        knob->SetMarkStyle(TMarkStyle::msCircle);
        knob->SetMaxValue(max);
        knob->SetMin(0);
        knob->SetCurValue(0);
    }
    // A group is named by its title. Left to Qt, a group inside another takes the outer
    // one's title, as any unnamed control in a group does.
    for (QGroupBox* group : ui.TabControl1->findChildren<QGroupBox*>()) {
        group->setAccessibleName(group->title());
    }
}

QFileDialog* makePresetFileDialog(QWidget* parent, const QString& name) {
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(name);
    const QStringList filters = {QStringLiteral("Config Files (*.cfg)"),
                                 QStringLiteral("All Files (*.*)")};
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());
    dialog->setDefaultSuffix(QStringLiteral("cfg"));
    return dialog;
}

QFileDialog* makeExportDialog(QWidget* parent) {
    auto* dialog = new QFileDialog(parent);
    dialog->setObjectName(QStringLiteral("ExportDialog1"));
    dialog->setWindowTitle(QStringLiteral("Export PDF"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setNameFilters(
        {QStringLiteral("PDF Files (*.pdf)"), QStringLiteral("All Files (*.*)")});
    dialog->setDefaultSuffix(QStringLiteral("pdf"));
    return dialog;
}

} // namespace cantavel
