#include "panel/commands.h"

#include <utility>

Commands::Commands(Panel& panel, SerialPort& port, WaitServices services)
    : m_panel(panel), m_line{port, std::move(services)}
{
    m_line.wait.abandoned = [this] { return m_abandoned; };
}

void Commands::Click(Row command)
{
    if (m_running) {
        if (command != *m_running && !m_pending)
            m_pending = command;
        return;
    }
    for (std::optional<Row> next = command; next && !m_abandoned;
         next = std::exchange(m_pending, std::nullopt)) {
        m_running = next;
        if (*next == Row::Read)
            ReadTransaction(m_panel, m_line);
        else
            WriteTransaction(m_panel, m_line);
        m_running.reset();
    }
    // A close gives up the command it interrupts, not the ones after it.
    m_pending.reset();
    m_abandoned = false;
}

void Commands::WindowClosing()
{
    if (!m_running)
        return;
    m_abandoned = true;
    m_pending.reset();
    m_line.port.Close();
}
