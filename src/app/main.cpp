// The entry point: the application object and the model-430 window, which owns the rest.
#include "interface_font.h"
#include "mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // The windows are laid out in fixed pixels; on a high-density screen they scale as a
    // whole (always so from Qt 6 on).
    QApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
#endif
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
