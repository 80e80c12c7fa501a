// The verdict: what this machine means for a person who wants to run virtual
// machines, as one stable id and one text that names the values it rests on.
// It is decided from what user mode reads (CPUID, the hypervisor, Windows'
// view, SMBIOS); the driver's report, when it is fresh and agrees with CPUID,
// refines it with what only kernel mode reads, never moving the machine to
// another class (bare metal, Hyper-V root, nested root, guest, hidden guest).
#pragma once

#include "operator/decisions/machine_facts.h"

using VerdictText = FixedText<3072>;

struct Verdict {
    const wchar_t* Id = L"";  // stable: installers and fleet tools match on it
    VerdictText Text;
    bool RefinedByDriver = false;  // the driver's flags changed or confirmed the id
};

Verdict DecideVerdict(const MachineFacts& Facts);
