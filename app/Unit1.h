#pragma once

#include <QMainWindow>

#include <memory>

namespace Ui {
class TForm1;
}

namespace cantavel {

// The editor's main window.
class TForm1 : public QMainWindow {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormClose();

    std::unique_ptr<Ui::TForm1> ui;
};

} // namespace cantavel
