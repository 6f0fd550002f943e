#pragma once

// The About dialog: product name, version and a few words, closed with OK.

#include <QDialog>

#include <memory>

namespace Ui {
class TAboutBox;
}

namespace cantavel {

class TAboutBox : public QDialog {
    Q_OBJECT

public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

private:
    std::unique_ptr<Ui::TAboutBox> ui;
};

} // namespace cantavel
