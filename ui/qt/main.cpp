// VEK Sample program: a Modbus RTU master test panel on one serial port.
#include "main_window.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The menu entry's id: desktops group the window with it and take its icon from there.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.veksample.VekSample"));
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/icon-48.png"));
    icon.addFile(QStringLiteral(":/icons/icon-256.png"));
    QApplication::setWindowIcon(icon);
    MainWindow window;
    window.show();
    return app.exec();
}
