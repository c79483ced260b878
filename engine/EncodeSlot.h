#pragma once

#include "engine/Encode.h"
#include "engine/OutputClaim.h"
#include "engine/OutputTail.h"
#include "engine/Redirect.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

// One place of the encoding run where an encoder works: its own runner (a
// CRedir) and what the run keeps of the job it encodes there: the job's list
// position, its encode (CEncode: the command lines, the progress,
// the subtitle copy), the claim on its output's name (COutputClaim), the
// input's size, the command lines run so far, the encoder's last lines and the
// job's clock. The run owns a few slots and uses them on the UI thread; the
// runner's reader threads only hand the output to the encode and keep the
// lines, and its waiter thread hands the child's end, with those lines, to the
// end handler.
class CEncodeSlot final : private CRedirOwner
{
public:
    // On the runner's waiter thread, once per started child.
    using EndHandler =
        std::function<void(int slot, const ChildExit& exit, const QStringList& lines)>;

    CEncodeSlot(int index, EndHandler onEnd);
    ~CEncodeSlot() override;
    CEncodeSlot(const CEncodeSlot&) = delete;
    CEncodeSlot& operator=(const CEncodeSlot&) = delete;

    int Index() const { return m_nIndex; }

    // Takes a job: the slot is busy from here until Release. Forgets the last
    // child's lines and starts the job's clock. order tells which busy slot
    // took its job first; bytes is the input's size as the run counts it;
    // claim holds the output's name (none for a job that fails before its
    // encoder starts), and the encoder writes its temporary file.
    void Assign(int index, std::unique_ptr<CEncode> encoder, std::uint64_t bytes,
                std::uint64_t order, std::unique_ptr<COutputClaim> claim = nullptr);
    // Starts the encode's current step (nice +10 unless normalPriority).
    // False when it could not be started; StartError says why.
    bool Start(bool normalPriority);
    QString StartError() const { return m_redir.StartError(); }

    // Whether exit is the end of the child this slot waits for; the slot then
    // waits for nothing more. Ends of children the slot gave up (Release, a
    // newer start) are not.
    bool TakeEnd(const ChildExit& exit);
    // The job is over: the slot is free, waits for no child and lets the
    // encode (and its subtitle copy) go, and an output claim that was not
    // published or taken (TakeClaim). Its list position, output and command
    // lines stay until the next Assign.
    void Release();

    bool IsBusy() const { return m_pEncoder != nullptr; }
    // The slot encodes a piece of the job another slot holds (a segment run
    // beside it): that slot's index; the job, its output and its log are
    // that slot's. Until Release.
    void SetHelping(int slot) { m_nHelping = slot; }
    bool IsHelper() const { return m_nHelping >= 0; }
    int HelpedSlot() const { return m_nHelping; }
    // A command line a helper runs for this slot's job, for its log.
    void NoteCommandLine(const QString& commandLine) { m_arrCommandLines << commandLine; }
    // The list position of the job being encoded (the last one when free).
    int JobIndex() const { return m_nJob; }
    const QString& Input() const { return m_strInput; }
    // The output's name, and the file the encoder writes (the claim's
    // temporary file).
    const QString& Output() const { return m_strOutput; }
    const QString& EncoderOutput() const { return m_strEncoderOutput; }
    COutputClaim* Claim() const { return m_pClaim.get(); }
    std::unique_ptr<COutputClaim> TakeClaim() { return std::move(m_pClaim); }
    // The output's name changed: another claim holds it now.
    void SetClaim(std::unique_ptr<COutputClaim> claim);
    // The command lines of the job's steps started so far.
    const QStringList& CommandLines() const { return m_arrCommandLines; }
    std::uint64_t Bytes() const { return m_ullBytes; }
    // The busy job's encoder; null when free.
    CEncode* Encoder() const { return m_pEncoder.get(); }
    std::uint64_t Order() const { return m_nOrder; }
    // The job's percentage (the last job's, kept when the slot is freed).
    int Percent() const;
    qint64 ElapsedMs() const { return m_timer.isValid() ? m_timer.elapsed() : 0; }

    // Lets the output's claim go: the encoder's file is deleted, and a movie
    // that lay under the output's name stays. True when the encoder had
    // written something.
    bool RemoveEncodersOutput();

    // Asks the child to end without waiting (CRedirect::RequestStop), and ends
    // it (CRedirect::Close).
    void RequestStop() { m_redir.RequestStop(); }
    void Close() { m_redir.Close(); }
    // The run's encoder: the image name Close sweeps for, and how long an
    // encoder may take to finish its file after SIGTERM.
    void SetEncoder(const QString& imageName, std::chrono::milliseconds stopGrace)
    {
        m_redir.SetEncoderImageName(imageName);
        m_redir.SetStopGrace(stopGrace);
    }

private:
    // Called by the runner's stdout thread with each chunk: the encode
    // reads its progress, and the lines are kept where it says they may matter.
    void ParseEncoderOutput(std::string_view text) override;
    // Called by the runner's stderr thread with each chunk: keeps the lines.
    void KeepEncoderErrorOutput(std::string_view text) override;
    void OnChildTerminated(const ChildExit& exit) override;
    void ClearTail();

    const int m_nIndex;
    const EndHandler m_onEnd;
    std::unique_ptr<CEncode> m_pEncoder;
    int m_nJob = -1;
    int m_nHelping = -1;
    QString m_strInput;
    QString m_strOutput;
    QString m_strEncoderOutput;
    std::unique_ptr<COutputClaim> m_pClaim;
    QStringList m_arrCommandLines;
    std::uint64_t m_ullBytes = 0;
    std::uint64_t m_nOrder = 0;
    // The runner start whose end the slot waits for; 0 for none.
    std::uint64_t m_nChildSerial = 0;
    // The last job's percentage once its encode has gone.
    int m_nKeptPercent = 0;
    QElapsedTimer m_timer;

    // The child's last lines: filled by both reader threads, taken by the
    // waiter thread at the child's end, emptied before each start.
    std::mutex m_tailMutex;
    COutputTail m_tail;

    // Last: its threads call into the members above, so it ends first.
    CRedir m_redir;
};
