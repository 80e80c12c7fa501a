// The verdict: what this machine means for a person who wants to run virtual
// machines, as one stable id and one text that names the values it rests on.
// It is decided from what user mode reads (CPUID, the hypervisor, Windows'
// view, SMBIOS); the driver's report, when it is fresh and agrees with CPUID,
// refines it with what only kernel mode reads, never moving the machine to
// another class (bare metal, Hyper-V root, nested root, guest, hidden guest).
#pragma once

#include "operator/decisions/machine_facts.h"

using VerdictText = FixedText<3072>;

// What the verdict found, for the decisions that build on it.
enum class Finding {
    Enabled,            // bare metal: enabled, ready
    InUse,              // bare metal: enabled, another hypervisor uses VT-x now
    FirmwareDisabled,   // bare metal: off in firmware setup (TXT only, Zen's SVM hidden)
    FirmwareUnlocked,   // bare metal: IA32_FEATURE_CONTROL left unlocked
    Unsupported,        // bare metal: the processor lacks it
    HiddenAfterBoot,    // bare metal: Windows saw it at boot, CPUID hides it now
    WindowsHypervisor,  // Hyper-V root: in use by Windows' own hypervisor
    NestedRoot,         // partitions through Windows' hypervisor only
    HostPasses,         // a guest whose host passes the feature through
    HostDoesNotPass,    // a guest whose host does not
    NotX64,             // Windows on Arm
};

struct Verdict {
    const wchar_t* Id = L"";  // stable: installers and fleet tools match on it
    VerdictText Text;
    bool RefinedByDriver = false;  // the driver's flags changed or confirmed the id
    Finding Found = Finding::Unsupported;
    bool Vmx = true;  // about VT-x (else AMD-V)
    bool SlatMissing = false;  // known to lack SLAT, which Hyper-V, WSL 2, Sandbox and memory integrity need
};

Verdict DecideVerdict(const MachineFacts& Facts);
