#pragma once

#include "panel/commands.h"
#include "qt_serial_port.h"
#include "qt_tcp_port.h"
#include "serial/device_port.h"

#include <QPointer>
#include <QWidget>


class QCloseEvent;
class QContextMenuEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The operator's panel on Qt: every control built from the layout table, in twips; the commands
// and the option groups follow the panel's rules.
class MainWindow final : public QWidget, public Panel
{
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Panel: what the commands read and write.
    Selectors SelectorState() const override;
    std::string StationText(Row row) const override;
    void SetStationText(Row row, const std::string& text) override;
    std::string AddressText(Row row) const override;
    std::string WriteDataText() const override;
    std::string RxDataText() const override;
    void SetRxData(const std::string& text) override;
    void SetRxDetail(const std::string& detail) override;
    void SetCommandEnabled(Row row, bool enabled) override;

    // The port the commands run on (a serial port or a device server's connection); closed whenever
    // no command runs.
    const SerialPort& Port() const { return m_port; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Each COM option's tooltip and accessible description name its device.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // "Copy details" of the result.
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControls();
    QRadioButton* Option(std::string_view name) const;
    QPushButton* CommandButton(Row row) const;
    QLineEdit* Field(const char* family, Row row) const;

    QtSerialPort m_serialPort;
    QtTcpPort m_networkPort;
    DevicePort m_port{m_serialPort, m_networkPort};
    Commands m_commands;
    // Where Qt moved the keyboard focus when the running command's button went grey.
    QPointer<QWidget> m_focusMovedTo;

    QLineEdit* m_writeData = nullptr;
    QLabel* m_rxData = nullptr;
    QPushButton* m_tx1 = nullptr;
    QPushButton* m_writeCommand = nullptr;
};
