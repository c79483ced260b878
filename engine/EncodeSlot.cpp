#include "EncodeSlot.h"

#include "shell/Numbers.h"

#include <cctype>
#include <sys/stat.h>

#include <QFile>

CEncodeSlot::CEncodeSlot(int index, EndHandler onEnd)
    : m_nIndex(index)
    , m_onEnd(std::move(onEnd))
{
    m_redir.m_pOwner = this;
}

CEncodeSlot::~CEncodeSlot()
{
    // The runner's threads call back into this object: end them first.
    m_redir.Close();
    m_redir.m_pOwner = nullptr;
}

void CEncodeSlot::ClearTail()
{
    std::lock_guard lock(m_tailMutex);
    m_tail.Clear();
}

void CEncodeSlot::Assign(const Job& job, std::uint64_t order)
{
    m_job = job;
    m_nOrder = order;
    m_nPercent = 0;
    m_nRowPercent = 0;
    ClearTail();
    m_outputBefore = FileStamp::Of(job.strOutput);
    m_timer.start();
}

bool CEncodeSlot::Start(bool normalPriority)
{
    if (!m_redir.Open(m_job.strCommandLine, normalPriority))
        return false;
    m_nChildSerial = m_redir.StartSerial();
    return true;
}

bool CEncodeSlot::StartPreview(const QString& commandLine)
{
    ClearTail();
    if (!m_redir.Open(commandLine, true))
        return false;
    m_nChildSerial = m_redir.StartSerial();
    return true;
}

bool CEncodeSlot::TakeEnd(const ChildExit& exit)
{
    if (exit.serial == 0 || exit.serial != m_nChildSerial)
        return false;
    m_nChildSerial = 0;
    return true;
}

void CEncodeSlot::Release()
{
    m_job.nIndex = -1;
    m_job.subtitle = {};
    m_nChildSerial = 0;
}

CEncodeSlot::FileStamp CEncodeSlot::FileStamp::Of(const QString& path)
{
    FileStamp stamp;
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return stamp;
    stamp.bExists = true;
    stamp.nDevice = st.st_dev;
    stamp.nInode = st.st_ino;
    stamp.nModifiedNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.nSize = st.st_size;
    return stamp;
}

bool CEncodeSlot::RemoveEncodersOutput() const
{
    // A file the encoder did not touch is not its output: a movie that lay there
    // before stays when the encoder failed before it opened the output.
    const FileStamp now = FileStamp::Of(m_job.strOutput);
    return now.bExists && !(now == m_outputBefore) && QFile::remove(m_job.strOutput);
}

std::optional<int> CEncodeSlot::ParseProgressPercent(std::string_view text)
{
    if (text.substr(0, 4) != "Pos:")
        return std::nullopt;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    const std::size_t open = text.find('(');
    if (open == std::string_view::npos)
        return std::nullopt;
    const std::size_t percent = text.find('%', open);
    if (percent == std::string_view::npos)
        return 0;
    return LeadingNumber<int>(text.substr(open + 1, percent - open - 1));
}

void CEncodeSlot::ParseEncoderOutput(std::string_view text)
{
    if (const std::optional<int> percent = ParseProgressPercent(text))
        m_nPercent.store(*percent, std::memory_order_relaxed);
    std::lock_guard lock(m_tailMutex);
    m_tail.Append(COutputTail::Stream::Out, text);
}

void CEncodeSlot::KeepEncoderErrorOutput(std::string_view text)
{
    std::lock_guard lock(m_tailMutex);
    m_tail.Append(COutputTail::Stream::Err, text);
}

void CEncodeSlot::OnChildTerminated(const ChildExit& exit)
{
    // On the waiter thread, after both readers have finished with this child:
    // its lines go with its end.
    QStringList lines;
    {
        std::lock_guard lock(m_tailMutex);
        lines = m_tail.TakeLines();
    }
    m_onEnd(m_nIndex, exit, lines);
}
