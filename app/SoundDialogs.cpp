#include "SoundDialogs.h"

#include "ParameterValues.h"
#include "SlotKind.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <utility>

namespace cantavel {

namespace {

QDialogButtonBox* okCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QLabel* wrappedLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

BlendDialog::BlendDialog(QWidget* parent, int slotA, const QString& nameA,
                         std::vector<Source> sources, int initial)
    : QDialog(parent), slotA_(slotA), nameA_(nameA), sources_(std::move(sources)),
      source_(new QComboBox(this)), slider_(new QSlider(Qt::Horizontal, this)),
      percent_(new QSpinBox(this)), note_(wrappedLabel(this, "BlendNote")),
      link_(wrappedLabel(this, "BlendLink")) {
    setObjectName(QStringLiteral("BlendDialog"));
    setWindowTitle(QStringLiteral("Blend"));
    auto* a = new QLabel(QStringLiteral("%1 (the tab)").arg(nameA_), this);
    a->setObjectName(QStringLiteral("BlendSlotA"));
    source_->setObjectName(QStringLiteral("BlendSource"));
    source_->setAccessibleName(QStringLiteral("Slot B"));
    for (const Source& s : sources_) {
        source_->addItem(s.name);
    }
    slider_->setObjectName(QStringLiteral("BlendSlider"));
    slider_->setAccessibleName(QStringLiteral("Blend towards B"));
    slider_->setRange(kBlendMin, kBlendMax);
    slider_->setPageStep(10);
    slider_->setMinimumWidth(240);
    percent_->setObjectName(QStringLiteral("BlendPercent"));
    percent_->setAccessibleName(QStringLiteral("Blend towards B, percent"));
    percent_->setRange(kBlendMin, kBlendMax);
    percent_->setSuffix(QStringLiteral(" %"));
    percent_->setToolTip(
        QStringLiteral("0 % is A as it was, 100 % is B; %1 to %2 %").arg(kBlendMin).arg(kBlendMax));
    auto* row = new QHBoxLayout;
    row->addWidget(slider_, 1);
    row->addWidget(percent_);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Slot A:"), a);
    form->addRow(QStringLiteral("Slot &B:"), source_);
    auto* towards =
        new QLabel(QStringLiteral("&Towards B (%1 to %2 %):").arg(kBlendMin).arg(kBlendMax), this);
    towards->setBuddy(slider_);
    form->addRow(towards, row);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note_);
    layout->addWidget(link_);
    layout->addWidget(okCancel(this));

    connect(slider_, &QSlider::valueChanged, this, [this](int value) {
        const QSignalBlocker quiet(percent_);
        percent_->setValue(value);
        emit blendChanged(source(), value);
    });
    connect(percent_, &QSpinBox::valueChanged, slider_, &QSlider::setValue);
    if (initial >= 0 && initial < source_->count()) {
        source_->setCurrentIndex(initial);
    }
    connect(source_, &QComboBox::currentIndexChanged, this, [this] {
        sourceChanged();
        emit blendChanged(source(), percent());
    });
    sourceChanged();
}

int BlendDialog::source() const {
    return source_->currentIndex();
}

int BlendDialog::percent() const {
    return slider_->value();
}

void BlendDialog::setPercent(int percent) {
    slider_->setValue(percent);
}

void BlendDialog::setSource(int index) {
    source_->setCurrentIndex(index);
}

void BlendDialog::sourceChanged() {
    const int index = source();
    const bool kept = index >= 0 && blendKeepsDefaultSetting(
                                        slotA_, sources_[static_cast<std::size_t>(index)].slot);
    note_->setText(kept ? QStringLiteral("The Default Setting of %1 stays: %2 is an effect "
                                         "preset and has none.")
                              .arg(nameA_, source_->currentText())
                        : QString());
    note_->setVisible(kept);
}

void BlendDialog::setLinkText(const QString& text) {
    link_->setText(text);
}

RandomizeDialog::RandomizeDialog(QWidget* parent, const QString& slotName, std::uint32_t seed)
    : QDialog(parent), amount_(new QSpinBox(this)),
      unlock_(
          new QCheckBox(QStringLiteral("&Unlock the levels: a random level can be loud"), this)),
      seed_(new QLineEdit(this)), error_(wrappedLabel(this, "RandomizeError")) {
    setObjectName(QStringLiteral("RandomizeDialog"));
    setWindowTitle(QStringLiteral("Randomize %1").arg(slotName));
    amount_->setObjectName(QStringLiteral("RandomizeAmount"));
    amount_->setAccessibleName(QStringLiteral("Amount, percent of each range"));
    amount_->setRange(kAmountMin, kAmountMax);
    amount_->setValue(20);
    amount_->setSuffix(QStringLiteral(" %"));
    amount_->setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    auto* groupBox = new QGroupBox(QStringLiteral("Change"), this);
    auto* groupLayout = new QVBoxLayout(groupBox);
    for (int g = 0; g < kRandomGroupCount; ++g) {
        const auto group = static_cast<RandomGroup>(g);
        if (group == RandomGroup::Levels) {
            continue; // the levels have their own lock below
        }
        auto* box = new QCheckBox(randomGroupTitle(group), groupBox);
        box->setObjectName(QStringLiteral("Randomize-%1").arg(randomGroupKey(group)));
        box->setChecked(true);
        groupLayout->addWidget(box);
        groups_.emplace_back(group, box);
    }
    unlock_->setObjectName(QStringLiteral("RandomizeUnlockLevels"));
    unlock_->setToolTip(QStringLiteral("Effect, music and mic volumes, their maxima and the SW "
                                       "VOL values stay as they are unless this is ticked"));
    groupLayout->addWidget(unlock_);
    seed_->setObjectName(QStringLiteral("RandomizeSeed"));
    seed_->setAccessibleName(QStringLiteral("Seed"));
    seed_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{1,10}")), seed_));
    seed_->setText(QString::number(seed));
    seed_->setMinimumWidth(seed_->fontMetrics().horizontalAdvance(QStringLiteral("4294967295")) +
                           seed_->fontMetrics().averageCharWidth() * 2);
    seed_->setToolTip(QStringLiteral("The same seed, amount and groups give the same values"));
    auto* newSeed = new QPushButton(QStringLiteral("&New Seed"), this);
    newSeed->setObjectName(QStringLiteral("RandomizeNewSeed"));
    connect(newSeed, &QPushButton::clicked, this,
            [this] { seed_->setText(QString::number(freshSeed())); });
    auto* seedRow = new QHBoxLayout;
    seedRow->addWidget(seed_, 1);
    seedRow->addWidget(newSeed);
    auto* form = new QFormLayout;
    form->addRow(
        QStringLiteral("&Amount (%1 to %2 % of each range):").arg(kAmountMin).arg(kAmountMax),
        amount_);
    auto* seedLabel = new QLabel(QStringLiteral("&Seed:"), this);
    seedLabel->setBuddy(seed_); // a row of a layout gets no buddy of its own
    form->addRow(seedLabel, seedRow);
    error_->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(groupBox);
    layout->addWidget(error_);
    layout->addWidget(okCancel(this));
}

int RandomizeDialog::amount() const {
    return amount_->value();
}

RandomGroups RandomizeDialog::groups() const {
    RandomGroups groups = 0;
    for (const auto& [group, box] : groups_) {
        if (box->isChecked()) {
            groups |= groupBit(group);
        }
    }
    if (unlock_->isChecked()) {
        groups |= groupBit(RandomGroup::Levels);
    }
    return groups;
}

std::optional<std::uint32_t> RandomizeDialog::seed() const {
    return seedFromText(seed_->text());
}

void RandomizeDialog::accept() {
    QString why;
    if (!amount_->hasAcceptableInput()) {
        why = QStringLiteral("The amount must be %1 to %2 %.").arg(kAmountMin).arg(kAmountMax);
        amount_->setFocus();
    } else if (!seed()) {
        why = QStringLiteral("The seed is wrong: %1.").arg(seedRangeText());
        seed_->setFocus();
    } else if (groups() == 0) {
        why = QStringLiteral("Tick at least one group to change.");
    }
    error_->setText(why);
    error_->setVisible(!why.isEmpty());
    if (why.isEmpty()) {
        QDialog::accept();
    }
}

} // namespace cantavel
