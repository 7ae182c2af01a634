#include "slave_process.h"

#include <chrono>
#include <csignal>
#include <stdexcept>
#include <thread>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

SlaveProcess::SlaveProcess(std::vector<std::string> arguments, std::string program)
{
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);

    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        throw std::runtime_error("cannot start " + program);
    }

    // The first line is the device path; give up after ten seconds rather than hang a test.
    char c = 0;
    pollfd pfd{out[0], POLLIN, 0};
    while (poll(&pfd, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
        m_device += c;
    close(out[0]);
    if (m_device.empty() || c != '\n')
        throw std::runtime_error(program + " printed no device");
}

SlaveProcess::~SlaveProcess()
{
    if (m_pid <= 0)
        return;
    kill(m_pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
}
