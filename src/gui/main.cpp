// zembra-gui: the main window over the same controller as the command line.
#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return 0;
}
