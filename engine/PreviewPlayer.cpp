#include "PreviewPlayer.h"

CPreviewPlayer::CPreviewPlayer(QObject* parent)
    : QObject(parent)
{
}

CPreviewPlayer::~CPreviewPlayer()
{
    // The runner's threads call OnTerminated: they end first.
    Close();
}

bool CPreviewPlayer::Start(const QString& commandLine)
{
    m_bPlaying = Open(commandLine, true);
    m_nSerial = m_bPlaying ? StartSerial() : 0;
    return m_bPlaying;
}

void CPreviewPlayer::Stop()
{
    m_bPlaying = false;
    m_nSerial = 0;
    Close();
}

void CPreviewPlayer::OnTerminated(const ChildExit& exit)
{
    {
        std::lock_guard lock(m_mutex);
        m_ends.push_back(exit.serial);
    }
    QMetaObject::invokeMethod(this, "TakeEnds", Qt::QueuedConnection);
}

void CPreviewPlayer::TakeEnds()
{
    std::vector<std::uint64_t> ends;
    {
        std::lock_guard lock(m_mutex);
        ends.swap(m_ends);
    }
    for (const std::uint64_t serial : ends) {
        if (serial == 0 || serial != m_nSerial)
            continue;
        m_bPlaying = false;
        m_nSerial = 0;
        emit Ended();
    }
}
