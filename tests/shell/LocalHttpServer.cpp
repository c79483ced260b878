#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// A TCP socket bound to 127.0.0.1 on a kernel-chosen port; -1 on failure.
int boundSocket(int* port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

} // namespace

LocalHttpServer::~LocalHttpServer()
{
    Stop();
}

bool LocalHttpServer::Start()
{
    m_nPort = m_server.bind_to_any_port("127.0.0.1");
    if (m_nPort <= 0)
        return false;
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // Connections already queue on the bound socket; waiting for the loop only
    // makes Stop() right after Start() safe.
    for (int i = 0; i < 500 && !m_server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return true;
}

void LocalHttpServer::Stop()
{
    if (!m_thread.joinable())
        return;
    m_server.stop();
    m_thread.join();
}

QString LoopbackUrl(int port, const QString& path)
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
}

namespace DeadEnds {

int ClosedPort()
{
    int port = -1;
    const int fd = boundSocket(&port);
    if (fd < 0)
        return -1;
    // Bound but never listening, and closed: nothing answers on the port.
    ::close(fd);
    return port;
}

SilentListener::SilentListener(int backlog)
{
    m_fd = boundSocket(&m_nPort);
    if (m_fd >= 0 && ::listen(m_fd, backlog) != 0) {
        ::close(m_fd);
        m_fd = -1;
        m_nPort = -1;
    }
}

SilentListener::~SilentListener()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

FullListener::FullListener()
    : SilentListener(0)
{
    if (Port() < 0)
        return;
    sockaddr_in address = loopback(Port());
    // Connections that are never accepted fill the queue of length 0 (the
    // kernel keeps one more than asked for).
    for (int i = 0; i < 3; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (filler < 0)
            continue;
        ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        m_fillers.push_back(filler);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

FullListener::~FullListener()
{
    for (const int filler : m_fillers)
        ::close(filler);
}

} // namespace DeadEnds
