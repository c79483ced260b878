#pragma once

#include "engine/Encode.h"
#include "engine/EncodeProfile.h"
#include "engine/FailureReason.h"

#include <chrono>
#include <map>
#include <memory>
#include <span>

#include <QString>

// "Automatic" as bench/arrange.sh measured it fastest on a machine of nCores
// cores: that many encodes at once, each with that many threads (0: the
// encoder's own count).
struct MeasuredArrangement
{
    int nCores;
    int nEncodesAtOnce;
    int nThreadsPerEncoder;
};

// One encoder program that Clipvane drives: all that the run, the plan, the
// packaging and the benchmarks need to know of it besides its encode class (which
// makes its command lines and reads its progress). Adding an encoder is an encode
// class (a CEncode), a value of EncodeProfile::Backend with its row in the table of
// Backends.cpp, a preset that uses it (Presets.cpp), and its package in
// scripts/install-deps.sh and CLIPVANE_TOOLS (cmake/Tools.cmake).
struct BackendInfo
{
    EncodeProfile::Backend id;
    // The program as the tools folder holds it: <application folder>/tools/<program>.
    const char* program;
    // How its processes show in /proc/<pid>/comm: what Stop's sweep for
    // encoders left behind looks for.
    const char* imageName;
    // The Debian package that installs it.
    const char* package;
    // Its words that name a cause of failure, in the order they are tried
    // (CFailureReason::CauseIn).
    std::span<const EncoderCause> causes;
    // How long it may take to finish its file after SIGTERM before it is killed.
    std::chrono::milliseconds stopGrace;
    // Whether it takes a thread count: several encodes at once then share the
    // cores by it; without, each encoder takes what it takes.
    bool bTakesThreads;
    // The arrangements measured for "Automatic", by core count.
    std::span<const MeasuredArrangement> measured;
    // Makes the job of a profile of this back end.
    std::unique_ptr<CEncode> (*makeJob)(const EncodeProfile& profile, CEncode::Setup setup);
};

// The program a run starts for a back end, and the image name of its processes.
struct EncoderTool
{
    QString strPath;
    QString strImageName;
};
using EncoderTools = std::map<EncodeProfile::Backend, EncoderTool>;

namespace Backends {

// Every back end, the first the one a new run's slots sweep for before a plan
// says otherwise.
std::span<const BackendInfo> All();
const BackendInfo& Of(EncodeProfile::Backend backend);

// Each back end's program in the tools folder (ExternalTools::ToolPath).
EncoderTools InstalledTools();

} // namespace Backends
