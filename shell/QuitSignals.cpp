#include "QuitSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

const int CaughtSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's write end for the handler; -1 when no object is active.
volatile sig_atomic_t g_writeFd = -1;

void RestoreDefaults()
{
    for (int sig : CaughtSignals)
        ::signal(sig, SIG_DFL);
}

// Only async-signal-safe calls: the handler may run on any thread, at any time.
void OnQuitSignal(int sig)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(sig);
    if (g_writeFd >= 0)
        (void)!::write(g_writeFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

CQuitSignals::CQuitSignals(QObject* parent)
    : QObject(parent)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_readFd = fds[0];
    m_writeFd = fds[1];
    g_writeFd = m_writeFd;
    m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CQuitSignals::OnSignalled);

    struct sigaction action = {};
    action.sa_handler = OnQuitSignal;
    ::sigemptyset(&action.sa_mask);
    // A second signal of the same kind takes its default action again.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int sig : CaughtSignals)
        ::sigaction(sig, &action, nullptr);
}

CQuitSignals::~CQuitSignals()
{
    RestoreDefaults();
    g_writeFd = -1;
    if (m_readFd >= 0)
        ::close(m_readFd);
    if (m_writeFd >= 0)
        ::close(m_writeFd);
}

void CQuitSignals::OnSignalled()
{
    unsigned char byte = 0;
    int received = 0;
    while (::read(m_readFd, &byte, 1) == 1)
        received = byte;
    if (received == 0)
        return;
    // The program now ends in order; a further signal of any kind ends it at once.
    RestoreDefaults();
    emit QuitRequested(received);
}
