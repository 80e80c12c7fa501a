// The verdict: what the driver's report and the hypervisor facts mean for a
// person who wants to run virtual machines, as one stable id and one text
// that names the values it rests on.
#pragma once

#include "operator/hypervisor.h"
#include "operator/report.h"

struct Verdict {
    const wchar_t* Id = L"";  // stable: installers and fleet tools match on it
    FixedText<1024> Text;
};

Verdict DecideVerdict(const Report& Values, const HypervisorFacts& Hypervisor);
