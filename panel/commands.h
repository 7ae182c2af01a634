#pragma once

#include "panel/transactions.h"

// Runs the two commands of the panel in turn. A command runs inside its button's click, but its
// 0.2 s wait lets window events in, and with them a click on the other button: that click waits
// its turn and runs right after the running command, so the port is never opened twice. Only one
// command can wait. Closing the window gives up the running command with its port closed.
class Commands
{
public:
    // `services` are the front-end's event pump (and, in tests, clock); whether the command was
    // given up is this class's business.
    Commands(Panel& panel, SerialPort& port, WaitServices services);

    // A click on TX1 (Row::Read) or Write_command (Row::Write).
    void Click(Row command);
    // The window closes: the running command ends at once with its port closed, without touching
    // the line or the window again, and the waiting one is dropped.
    void WindowClosing();
    // Whether a command is under way (in its wait, when window events run).
    bool Running() const { return m_running.has_value(); }

private:
    Panel& m_panel;
    Line m_line;
    std::optional<Row> m_running;
    std::optional<Row> m_pending;
    bool m_abandoned = false;
};
