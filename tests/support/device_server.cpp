#include "device_server.h"

#include <stdexcept>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

DeafServer::DeafServer()
    : m_listener(socket(AF_INET, SOCK_STREAM, 0)), m_queued(socket(AF_INET, SOCK_STREAM, 0))
{
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    const auto at = reinterpret_cast<sockaddr*>(&address);
    if (bind(m_listener, at, size) != 0 || listen(m_listener, 0) != 0 ||
        getsockname(m_listener, at, &size) != 0 || connect(m_queued, at, size) != 0)
        throw std::runtime_error("no deaf server");
    m_address = "tcp://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

DeafServer::~DeafServer()
{
    close(m_queued);
    close(m_listener);
}
