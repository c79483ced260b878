#pragma once

#include "engine/FailureReason.h"
#include "engine/OutputClaim.h"
#include "engine/RunPlan.h"

#include <memory>
#include <optional>

#include <QSet>
#include <QString>
#include <QStringList>

class CEncodeSlot;

// The outputs of a run's jobs: each one's name (the plan's, or the free one it
// took when its own was in use), what a job checks before its encoder starts,
// its claim on the name as the plan's Overwrite says (COutputClaim), and at its
// end whether the encoder's file is a whole movie and the rename that gives a
// whole one its name. On the UI thread.
class CRunOutputs final
{
public:
    // A run of the plan starts; the plan lasts as long as the run.
    void Start(const RunPlan& plan);
    // The jobs' output names, in job order.
    const QStringList& Paths() const { return m_arrPaths; }

    // A job's output before its encoder starts: why the job cannot start (its
    // movie is gone or unreadable, its output folder cannot be written now, its
    // name cannot be claimed), or the claim on its name, or neither when the
    // name is in use and the job is left out (held: by what).
    struct Readied
    {
        std::optional<CFailureReason> failure;
        std::unique_ptr<COutputClaim> claim;
        COutputClaim::Found held = COutputClaim::Found::Nothing;
    };
    Readied Ready(int job);

    // Why the file a slot's encoder wrote with exit code 0 is not a whole movie
    // of its movie's length (or is over its size budget); nothing when it is
    // one. lines: the encoder's last lines.
    std::optional<CFailureReason> Check(const CEncodeSlot& slot, const QStringList& lines) const;
    // Gives a whole movie its output's name, or when another process took the
    // name meanwhile the next free one; why it could not.
    std::optional<CFailureReason> Publish(CEncodeSlot& slot);

private:
    // Claims the output's name of a job as the plan's Overwrite says; with
    // free, the first free name of its copies.
    COutputClaim::Attempt Claim(int job, bool free);
    // The job's output is now the claim's name.
    void Took(int job, const COutputClaim& claim);

    const RunPlan* m_plan = nullptr;
    QStringList m_arrPaths;
    // The names of the run's outputs and movies (OutputNamer::PathKey): a job
    // whose own name is taken does not move to one of them.
    QSet<QString> m_names;
};
