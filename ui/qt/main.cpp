// VEK Sample program: a Modbus RTU master test panel on one serial port.
#include "main_window.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Main window;
    window.show();
    return app.exec();
}
