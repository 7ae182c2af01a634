#include "runner.h"

#include "main_window.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

Runner::Runner(MainWindow& window, int commands, int probeMs)
    : m_commands(commands), m_probe(probeMs)
{
    m_read = window.findChild<QPushButton*>("TX1");
    m_write = window.findChild<QPushButton*>("Write_command");
    m_rxData = window.findChild<QLabel*>("Rx_data");
    m_writeData = window.findChild<QLineEdit*>("Write_data");
    QLineEdit* readAddress = window.findChild<QLineEdit*>("Address_0");
    QLineEdit* writeAddress = window.findChild<QLineEdit*>("Address_1");
    if (!m_read || !m_write || !m_rxData || !m_writeData || !readAddress || !writeAddress) {
        m_error = "the window lacks TX1, Write_command, Rx_data, Write_data or Address_0/1";
        return;
    }
    // Each write puts a fresh value into 41001 and the read after it must bring it back.
    readAddress->setText("41001");
    writeAddress->setText("41001");
}

void Runner::Start()
{
    if (m_error.empty())
        QTimer::singleShot(0, [this] { Step(); });
    else
        QCoreApplication::exit(1);
}

void Runner::Step()
{
    const int pair = m_step / 2;
    const bool isWrite = m_step % 2 == 0;
    const bool measured = pair >= kWarmUpPairs;
    if (measured && m_step == 2 * kWarmUpPairs) {
        fdsBefore = OpenFds();
        rssBefore = VmRssKb();
        m_probe.Start();
        cpuBefore = ProcessCpu();
    }

    if (m_step == 2 * (kWarmUpPairs + m_commands / 2))
        rssHalfway = VmRssKb();

    const int value = 1 + pair % 30000;
    if (isWrite)
        m_writeData->setText(QString::number(value));
    QPushButton* button = isWrite ? m_write : m_read;

    const double sendBefore = LastSendSeconds();
    const CpuSeconds cpu0 = ProcessCpu();
    const double t0 = MonotonicSeconds();
    button->click();
    const double t1 = MonotonicSeconds();
    const CpuSeconds cpu1 = ProcessCpu();
    const double sent = LastSendSeconds();

    if (!button->isEnabled())
        return Fail("the button stayed disabled after its click returned");
    if (sent == sendBefore || sent < t0)
        return Fail("no request was seen leaving for the line");
    if (!isWrite) {
        const QString expected = " " + QString::number(value);
        if (m_rxData->text() != expected)
            return Fail("read " + m_rxData->text().toStdString() + " where the write put" +
                        expected.toStdString());
    }
    if (measured) {
        Samples& s = isWrite ? writes : reads;
        s.wall.push_back(t1 - t0);
        s.sendToEnd.push_back(t1 - sent);
        s.toSend.push_back(sent - t0);
        s.cpu += cpu1.Total() - cpu0.Total();
    }

    if (++m_step < 2 * (kWarmUpPairs + m_commands)) {
        QTimer::singleShot(0, [this] { Step(); });
        return;
    }
    cpuAfter = ProcessCpu();
    m_probe.Stop();
    lateness = m_probe.WorstLatenessSeconds();
    firings = m_probe.Firings();
    fdsAfter = OpenFds();
    rssAfter = VmRssKb();
    QCoreApplication::exit(0);
}

void Runner::Fail(const std::string& what)
{
    m_error = std::string(m_step % 2 == 0 ? "write" : "read") + " " + std::to_string(m_step / 2) +
              ": " + what;
    QCoreApplication::exit(1);
}
