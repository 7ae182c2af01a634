#pragma once

#include "qt_serial_port.h"
#include "transactions.h"

#include <QPointer>
#include <QWidget>

#include <array>
#include <vector>

class QCloseEvent;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The operator's panel: port, speed and parity groups, the read row with its result label, the
// write row, and the two command buttons. Every control sits where the layout table in
// main_window.cpp puts it, in twips.
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
    void SetRxData(const std::string& text) override;
    void SetRxDetail(const std::string& detail) override;
    void SetCommandEnabled(int row, bool enabled) override;

    // The serial port the commands run on; closed whenever no command runs.
    const SerialPort& Port() const { return m_port; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class Command { None, Read, Write };

    void BuildControls();
    void WireOptionGroup(const std::vector<QRadioButton*>& group);
    void Run(Command command);
    QPushButton* CommandButton(int row) const;

    QtSerialPort m_port;
    SharedValues m_values;

    // Which command runs (its wait may be letting window events in), which one waits for it
    // to end, and whether the window was closed under the running one.
    Command m_running = Command::None;
    Command m_pending = Command::None;
    bool m_abandoned = false;
    // Where Qt moved the keyboard focus when the running command's button went grey.
    QPointer<QWidget> m_focusMovedTo;

    std::vector<QRadioButton*> m_portGroup;   // Com1..Com5
    std::vector<QRadioButton*> m_speedGroup;  // SD384, SPD192, SPD96
    std::vector<QRadioButton*> m_parityGroup; // None1, Odd1, Even1
    std::array<QLineEdit*, 2> m_stno1{};
    std::array<QLineEdit*, 2> m_address{};
    std::array<QLabel*, 4> m_label1{};
    std::array<QLabel*, 2> m_label2{};
    std::array<QLabel*, 2> m_label4{};
    QLineEdit* m_writeData = nullptr;
    QLabel* m_rxData = nullptr;
    QPushButton* m_tx1 = nullptr;
    QPushButton* m_writeCommand = nullptr;
};
