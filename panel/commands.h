#pragma once

#include "transactions.h"

// Runs the two commands of the panel in turn. A command runs inside its button's click, but its
// 0.2 s wait lets window events in, and with them a click on the other button: that click waits
// its turn and runs right after the running command, so the port is never opened twice. Only one
// command can wait. Closing the window gives up the running command with its port closed.
class Commands
{
public:
    enum class Command { None, Read, Write };

    // `services` are the front-end's clock and event pump; whether the command was given up is
    // this class's business.
    Commands(Panel& panel, SerialPort& port, WaitServices services);

    // A click on TX1 (Read) or Write_command (Write).
    void Click(Command command);
    // The window closes: the running command ends at once with its port closed, without touching
    // the line or the window again, and the waiting one is dropped.
    void WindowClosing();

private:
    Panel& m_panel;
    SerialPort& m_port;
    WaitServices m_services;
    SharedValues m_values;
    Command m_running = Command::None;
    Command m_pending = Command::None;
    bool m_abandoned = false;
};
