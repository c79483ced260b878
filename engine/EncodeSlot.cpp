#include "EncodeSlot.h"

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

void CEncodeSlot::Assign(int index, std::unique_ptr<CEncode> encoder, std::uint64_t bytes,
                         std::uint64_t order, std::unique_ptr<COutputClaim> claim)
{
    m_pEncoder = std::move(encoder);
    m_nJob = index;
    m_nHelping = -1;
    m_strInput = m_pEncoder->GetSetup().movie.strFilePath;
    m_strEncoderOutput = m_pEncoder->GetSetup().strOutput;
    m_pClaim = std::move(claim);
    m_strOutput = m_pClaim ? m_pClaim->Path() : m_strEncoderOutput;
    m_arrCommandLines.clear();
    m_ullBytes = bytes;
    m_nOrder = order;
    m_nKeptPercent = 0;
    ClearTail();
    m_timer.start();
}

bool CEncodeSlot::Start(bool normalPriority)
{
    const QString commandLine = m_pEncoder->CommandLine();
    m_arrCommandLines << commandLine;
    ClearTail();
    if (!m_redir.Open(commandLine, normalPriority))
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
    // The runner's threads are done with the job's encoder: the child it waited
    // for has ended, or the caller ended it (Close) or let its end go.
    m_nKeptPercent = Percent();
    m_pEncoder.reset();
    m_pClaim.reset();
    m_nChildSerial = 0;
    m_nHelping = -1;
}

void CEncodeSlot::SetClaim(std::unique_ptr<COutputClaim> claim)
{
    m_pClaim = std::move(claim);
    m_strOutput = m_pClaim->Path();
}

int CEncodeSlot::Percent() const
{
    return m_pEncoder ? m_pEncoder->Percent() : m_nKeptPercent;
}

bool CEncodeSlot::RemoveEncodersOutput()
{
    return m_pClaim && m_pClaim->Release();
}

void CEncodeSlot::ParseEncoderOutput(std::string_view text)
{
    if (m_pEncoder && !m_pEncoder->ReadOutput(text))
        return;
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
