#pragma once

#include "serial/device.h"
#include "serial/serial_port.h"

// The port of a command, chosen by its device at every open: a device server's address
// (tcp://HOST:PORT) goes to the network port, any other device to the serial port. Above it,
// nothing knows which one runs.
class DevicePort final : public SerialPort
{
public:
    DevicePort(SerialPort& serial, SerialPort& network) : m_serial(serial), m_network(network) {}

    bool Open(const std::string& device, const LineSettings& settings) override
    {
        return Chosen(device).Open(device, settings);
    }
    bool OpenWithEvents(const std::string& device, const LineSettings& settings,
                        const WaitServices& wait) override
    {
        return Chosen(device).OpenWithEvents(device, settings, wait);
    }
    void Close() override { m_active->Close(); }
    bool IsOpen() const override { return m_active->IsOpen(); }
    bool Send(std::span<const std::uint8_t> bytes) override { return m_active->Send(bytes); }
    std::optional<std::size_t> BytesWaiting() override { return m_active->BytesWaiting(); }
    std::optional<Bytes> TakeAll() override { return m_active->TakeAll(); }
    bool Discard() override { return m_active->Discard(); }
    std::vector<Arrival> Arrivals() const override { return m_active->Arrivals(); }
    void ForgetArrivals(std::size_t total) override { m_active->ForgetArrivals(total); }
    PortError Error() const override { return m_active->Error(); }

private:
    SerialPort& Chosen(const std::string& device)
    {
        m_active->Close();
        m_active = IsNetworkDevice(device) ? &m_network : &m_serial;
        return *m_active;
    }

    SerialPort& m_serial;
    SerialPort& m_network;
    SerialPort* m_active = &m_serial;
};
