// VEK Sample program: a Modbus RTU master test panel on one serial port.
#include "main_window.h"
#include "win32_wait.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    MainWindow window(instance);
    if (!window.Window())
        return 1;
    window.Show(show);
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchOne(msg);
    return static_cast<int>(msg.wParam);
}
