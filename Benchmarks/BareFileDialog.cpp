// The least a Qt Widgets program does to show a folder chooser: the yardstick for the save panel's
// time to screen. Usage: BareFileDialog TITLE [FOLDER]

#include <QApplication>
#include <QFileDialog>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QFileDialog dialog(nullptr, argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString(),
                       argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.exec();
    return 0;
}
