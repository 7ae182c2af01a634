#include "device_server.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

DeviceServer::DeviceServer(const std::string& far)
{
    char log[] = "/tmp/vek-socat-XXXXXX";
    const int fd = mkstemp(log);
    if (fd < 0)
        throw std::runtime_error("no log file for socat");
    close(fd);
    m_log = log;
    std::vector<std::string> args{
        "socat", "-t0", "-d", "-d", "-lf", m_log, "TCP-LISTEN:0,bind=127.0.0.1,reuseaddr,fork",
        far};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&m_pid, "socat", nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start socat");
    // It logs the port it listens on; give up after ten seconds rather than hang a test.
    const std::regex listening("listening on .*:([0-9]+)");
    for (int i = 0; i < 1000 && m_address.empty(); ++i) {
        std::ostringstream text;
        text << std::ifstream(m_log).rdbuf();
        std::smatch port;
        const std::string logged = text.str();
        if (std::regex_search(logged, port, listening))
            m_address = "tcp://127.0.0.1:" + port[1].str();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_address.empty())
        throw std::runtime_error("socat did not listen");
}

DeviceServer::~DeviceServer()
{
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    unlink(m_log.c_str());
}

DeafServer::DeafServer()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    m_queued = socket(AF_INET, SOCK_STREAM, 0);
    if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(m_listener, 0) != 0 ||
        getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
        connect(m_queued, reinterpret_cast<sockaddr*>(&address), size) != 0)
        throw std::runtime_error("no deaf server");
    m_address = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

DeafServer::~DeafServer()
{
    close(m_queued);
    close(m_listener);
}
