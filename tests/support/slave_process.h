#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// Runs the libmodbus demo slave (or another slave program that prints its device first) as a
// child process on a fresh pseudo-terminal for as long as the object lives. Device() is the path a
// master opens.
class SlaveProcess
{
public:
    explicit SlaveProcess(std::vector<std::string> arguments = {},
                          std::string program = VEK_DEMO_SLAVE);
    ~SlaveProcess();
    SlaveProcess(const SlaveProcess&) = delete;
    SlaveProcess& operator=(const SlaveProcess&) = delete;

    const std::string& Device() const { return m_device; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    std::string m_device;
};
