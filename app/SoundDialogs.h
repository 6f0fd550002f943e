#pragma once

// The Edit menu's dialogs for finding a sound: Blend, which moves the tab's slot
// towards another slot while the operator listens, and Randomize, which changes it
// within bounds chosen in the dialog. They only ask; the window does the work.

#include "ConfigRecord.h"
#include "SoundTools.h"

#include <QDialog>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSlider;
class QSpinBox;

namespace cantavel {

class BlendDialog : public QDialog {
    Q_OBJECT

public:
    // A slot the tab's slot can be blended towards: another tab, or one from the
    // library.
    struct Source {
        QString name;
        ConfigRecord record;
        int slot = -1;
    };
    BlendDialog(QWidget* parent, int slotA, const QString& nameA, std::vector<Source> sources,
                int initial);

    const std::vector<Source>& sources() const { return sources_; }
    int source() const;
    int percent() const;
    void setPercent(int percent);
    void setSource(int index);
    // What the unit hears of the blend as it moves.
    void setLinkText(const QString& text);

signals:
    // The slot or the percent changed.
    void blendChanged(int source, int percent);

private:
    void sourceChanged();

    int slotA_;
    QString nameA_;
    std::vector<Source> sources_;
    QComboBox* source_;
    QSlider* slider_;
    QSpinBox* percent_;
    QLabel* note_;
    QLabel* link_;
};

class RandomizeDialog : public QDialog {
    Q_OBJECT

public:
    RandomizeDialog(QWidget* parent, const QString& slotName, std::uint32_t seed);

    int amount() const;
    RandomGroups groups() const;
    // The seed typed, null when it is not one.
    std::optional<std::uint32_t> seed() const;
    void accept() override;

private:
    QSpinBox* amount_;
    std::vector<std::pair<RandomGroup, QCheckBox*>> groups_;
    QCheckBox* unlock_;
    QLineEdit* seed_;
    QLabel* error_;
};

} // namespace cantavel
