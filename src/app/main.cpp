#include "mainwindow.h"

#include <QApplication>
#include <QFont>

int main(int argc, char* argv[])
{
    // The windows are laid out in fixed pixels; on a high-density screen they scale as a whole.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);

    // The forms were drawn for an 8-point interface font; the larger default of many
    // Linux desktops clips their captions.
    QFont font = QApplication::font();
    if (font.pointSizeF() > 8) {
        font.setPointSize(8);
        QApplication::setFont(font);
    }

    MainWindow window;
    window.show();
    return app.exec();
}
