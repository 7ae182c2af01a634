#pragma once

#include "commands.h"
#include "qt_serial_port.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QCloseEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The operator's panel on Qt: every control built from the layout table, in twips; the commands
// and the option groups follow the panel's rules.
class Main final : public QWidget, public Panel
{
public:
    explicit Main(QWidget* parent = nullptr);
    ~Main() override;

    // Panel: what the commands read and write.
    Selectors SelectorState() const override;
    std::string StationText(int row) const override;
    void SetStationText(int row, const std::string& text) override;
    std::string AddressText(int row) const override;
    std::string WriteDataText() const override;
    std::string RxDataText() const override;
    void SetRxData(const std::string& text) override;
    void SetRxDetail(const std::string& detail) override;
    void SetCommandEnabled(int row, bool enabled) override;

    // The serial port the commands run on; closed whenever no command runs.
    const SerialPort& Port() const { return m_port; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // Each COM option's tooltip names its device.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    QRadioButton* Option(std::string_view name) const;
    QPushButton* CommandButton(int row) const;

    QtSerialPort m_port;
    Commands m_commands;
    // Where Qt moved the keyboard focus when the running command's button went grey.
    QPointer<QWidget> m_focusMovedTo;

    std::array<QLineEdit*, 2> m_stno1{};
    std::array<QLineEdit*, 2> m_address{};
    QLineEdit* m_writeData = nullptr;
    QLabel* m_rxData = nullptr;
    QPushButton* m_tx1 = nullptr;
    QPushButton* m_writeCommand = nullptr;
};
