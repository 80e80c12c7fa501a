// The machine-readable form of "korimath report --json" and "run --json":
// one JSON object for every outcome, failures included, whose field names
// stay stable for installers and fleet tools.
#pragma once

#include "operator/decisions/verdict.h"

// How the action ended: its exit code and the first failure it met.
struct Outcome {
    int ExitCode = 0;
    bool Failed = false;     // ErrorText holds the first failure's sentence
    bool HasError = false;   // ... and that failure has a Win32 error number
    unsigned long Error = 0;
    FixedText<1024> ErrorText;
};

// Every string value is at most 4096 characters escaped (longer ones end in
// " [cut]"), so the whole object always fits.
using JsonText = FixedText<32768>;

JsonText FormatJsonReport(const MachineFacts& Facts, const Verdict& Result, const Outcome& Ended);
