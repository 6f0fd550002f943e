#pragma once

// TLabeledEdit: a one-line edit with a label of its own on its left. The label is a
// sibling in the same parent that follows the edit's place, visibility and enabled
// state.

#include <QLabel>
#include <QLineEdit>
#include <QPointer>

namespace cantavel {

class TLabeledEdit : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(QString EditLabelCaption READ EditLabelCaption WRITE SetEditLabelCaption)

public:
    static constexpr int kLabelSpacing = 3;

    explicit TLabeledEdit(QWidget* parent = nullptr);
    ~TLabeledEdit() override;

    QLabel* EditLabel() const { return label_; }
    QString EditLabelCaption() const;
    void SetEditLabelCaption(const QString& text);

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void placeLabel();

    QPointer<QLabel> label_;
};

} // namespace cantavel
