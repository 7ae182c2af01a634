#pragma once

#include "serial/serial_port.h"

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// A serial port that plays a script: what each call returns, and a log of every call so that
// tests can check the order of the exchange.
class FakePort : public SerialPort
{
public:
    Bytes reply; // waiting to be taken after the send
    Bytes late;  // arrives between the count and the take
    std::vector<Arrival> arrivals;
    bool failOpen = false;
    bool failSend = false;
    bool failTake = false;
    std::vector<std::string> log;
    std::vector<std::string>* journal = nullptr; // a log shared with other fakes, when set
    std::vector<Bytes> sent;
    std::function<void()> onSend; // runs inside Send, as a slow line would take its time

    bool Open(const std::string& device, const LineSettings& settings) override
    {
        Note("open " + device + " " + SettingsText(settings));
        if (failOpen)
            return false;
        m_open = true;
        return true;
    }
    void Close() override
    {
        Note("close");
        m_open = false;
    }
    bool IsOpen() const override { return m_open; }
    bool Send(std::span<const std::uint8_t> bytes) override
    {
        sent.emplace_back(bytes.begin(), bytes.end());
        if (onSend)
            onSend();
        Note("send " + Hex(sent.back()));
        return !failSend;
    }
    std::optional<std::size_t> BytesWaiting() override
    {
        Note("count");
        if (failTake)
            return std::nullopt;
        return reply.size();
    }
    std::optional<Bytes> TakeAll() override
    {
        Note("take");
        reply.insert(reply.end(), late.begin(), late.end());
        late.clear();
        return std::exchange(reply, {});
    }
    std::vector<Arrival> Arrivals() const override { return arrivals; }
    PortError Error() const override { return {PortFault::PermissionDenied, "/dev/fake", {}}; }

    static std::string Hex(const Bytes& bytes)
    {
        std::string text;
        char b[4];
        for (std::uint8_t v : bytes) {
            std::snprintf(b, sizeof b, "%s%02X", text.empty() ? "" : " ", v);
            text += b;
        }
        return text;
    }

private:
    void Note(const std::string& entry)
    {
        log.push_back(entry);
        if (journal)
            journal->push_back(entry);
    }
    bool m_open = false;
};
