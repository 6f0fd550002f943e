// The peer of the start-up benchmark: a plain Qt window with as many controls as the
// editor's (tabs, group boxes, labels, edits, lists with their items, sliders,
// up-down pairs, dials, a menu of the same size), and nothing else: no settings, no
// single-instance guard, no record.
//
//   cantavel-bare-window

#include <QApplication>
#include <QComboBox>
#include <QDial>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QSlider>
#include <QTabBar>
#include <QToolButton>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Bare window"));

    QMenuBar* menus = window.menuBar();
    QMenu* file = menus->addMenu(QStringLiteral("&File"));
    for (const char* item : {"&New", "&Open", "&Save", "Save &As...", "E&xit"}) {
        file->addAction(QString::fromLatin1(item));
    }
    file->addMenu(QStringLiteral("Recent &Files"));
    QMenu* edit = menus->addMenu(QStringLiteral("&Edit"));
    edit->addAction(QStringLiteral("&Undo"));
    edit->addAction(QStringLiteral("&Redo"));
    QMenu* device = menus->addMenu(QStringLiteral("&Device"));
    QMenu* ports = device->addMenu(QStringLiteral("&Com Port"));
    for (int i = 1; i <= 15; ++i) {
        ports->addAction(QStringLiteral("COM%1").arg(i))->setCheckable(true);
    }
    for (const char* item : {"&Link", "&Upload Default", "Upload &All", "Disconnect"}) {
        device->addAction(QString::fromLatin1(item));
    }
    menus->addMenu(QStringLiteral("&Help"))->addAction(QStringLiteral("&About"));

    auto* area = new QWidget;
    window.setCentralWidget(area);
    auto* tabs = new QTabBar(area);
    for (const char* tab : {"Default", "1", "2", "3", "4", "Mode A", "Mode B"}) {
        tabs->addTab(QString::fromLatin1(tab));
    }
    QGroupBox* groups[4];
    for (int i = 0; i < 4; ++i) {
        groups[i] = new QGroupBox(QStringLiteral("Group %1").arg(i), area);
        groups[i]->setGeometry(8 + i * 175, 32, 170, 385);
    }
    for (int i = 0; i < 21; ++i) {
        new QLabel(QStringLiteral("Label %1:").arg(i), groups[i % 4]);
    }
    for (int i = 0; i < 20; ++i) {
        auto* e = new QLineEdit(QString::number(i), groups[i % 4]);
        e->setReadOnly(true);
        e->setGeometry(100, 20 + (i / 4) * 28, 38, 24);
    }
    for (int i = 0; i < 6; ++i) {
        auto* list = new QComboBox(groups[i % 4]);
        for (int k = 0; k < 5; ++k) {
            list->addItem(QStringLiteral("Item %1").arg(k));
        }
        list->setGeometry(10, 170 + (i / 4) * 28, 97, 24);
    }
    for (int i = 0; i < 12; ++i) {
        auto* s = new QSlider(i % 2 ? Qt::Horizontal : Qt::Vertical, groups[i % 4]);
        s->setRange(-10, 10);
        s->setTickPosition(QSlider::TicksBelow);
        s->setGeometry(10 + (i / 4) * 40, 230, 33, 110);
    }
    for (int i = 0; i < 10; ++i) { // five up-down pairs
        auto* b = new QToolButton(groups[i % 4]);
        b->setArrowType(i % 2 ? Qt::DownArrow : Qt::UpArrow);
        b->setGeometry(142, 20 + (i / 2) * 28, 17, 12);
    }
    for (int i = 0; i < 3; ++i) {
        auto* d = new QDial(groups[i]);
        d->setRange(0, 80);
        d->setGeometry(20, 300, 65, 65);
    }
    window.resize(704, 421 + menus->sizeHint().height());
    window.show();
    return QApplication::exec();
}
