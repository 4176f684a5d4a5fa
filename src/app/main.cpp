#include "interface_font.h"
#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    // The windows are laid out in fixed pixels; on a high-density screen they scale as a whole.
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QApplication app(argc, argv);
    // Installed with the tool into the icon theme; absent when run from the build tree.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("tavolink")));

    // The forms were drawn in fixed pixels for a small, narrow interface font; the wider
    // and larger defaults of Linux desktops clip their captions.
    QApplication::setFont(interface_font());

    MainWindow window;
    window.show();
    return app.exec();
}
