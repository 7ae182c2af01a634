#include "commands.h"

#include <utility>

Commands::Commands(Panel& panel, SerialPort& port, WaitServices services)
    : m_panel(panel), m_port(port), m_services(std::move(services))
{
    m_services.abandoned = [this] { return m_abandoned; };
}

void Commands::Click(Command command)
{
    if (command == Command::None)
        return;
    if (m_running != Command::None) {
        if (command != m_running && m_pending == Command::None)
            m_pending = command;
        return;
    }
    for (Command next = command; next != Command::None && !m_abandoned;
         next = std::exchange(m_pending, Command::None)) {
        m_running = next;
        Line line{m_port, m_services};
        if (next == Command::Read)
            ReadTransaction(m_panel, line, m_values);
        else
            WriteTransaction(m_panel, line, m_values);
        m_running = Command::None;
    }
    m_pending = Command::None;
    m_abandoned = false;
}

void Commands::WindowClosing()
{
    if (m_running == Command::None)
        return;
    m_abandoned = true;
    m_pending = Command::None;
    m_port.Close();
}
