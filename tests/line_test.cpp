// The real Qt serial port over a pseudo-terminal, against the libmodbus demo slave.
#include "fake_panel.h"
#include "qt_serial_port.h"
#include "slave_process.h"
#include "transactions.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

struct Bench
{
    SlaveProcess slave;
    QtSerialPort port;
    Line line{port, RealWaitServices()};
    SharedValues values;
    FakePanel panel;

    Bench() { qputenv("VEK_COM1", slave.Device().c_str()); }
    ~Bench() { qunsetenv("VEK_COM1"); }
};

TEST(Line, ReadsTheSlavesRegistersAndWritesBack)
{
    Bench b;
    struct Case
    {
        const char* station;
        const char* address;
        const char* shown;
    } cases[] = {
        {"1", "30002", " 42"},    {"1", "40002", " 4660"}, {"1", "30003", "-2"},
        {"1", "30100", "CMDErr"}, {"9", "30002", "Noans"},
    };
    for (const Case& c : cases) {
        b.panel.station[0] = c.station;
        b.panel.address[0] = c.address;
        ReadTransaction(b.panel, b.line, b.values);
        EXPECT_EQ(b.panel.rxData, c.shown) << c.address << "\n" << b.panel.rxDetail;
        EXPECT_FALSE(b.port.IsOpen());
    }

    b.panel.writeData = "1234";
    WriteTransaction(b.panel, b.line, b.values);
    b.panel.address[0] = "41001";
    b.panel.station[0] = "1";
    ReadTransaction(b.panel, b.line, b.values);
    EXPECT_EQ(b.panel.rxData, " 1234");
}

} // namespace
