#include "operator/decisions/what_runs.h"

#include "operator/decisions/verdict_text.h"

namespace {

struct Requirement {
    std::string_view Name;
    std::string_view FeatureName;  // its name for DISM
    std::string_view Feature;      // as "Turn Windows features on or off" shows it
    OptionalFeature Needs;
    bool NotOnHome;
};

// Microsoft Learn: "Install Hyper-V", "Install WSL" (manual steps), "Windows
// Sandbox", "Windows Hypervisor Platform" (Android Emulator documentation).
constexpr Requirement Requirements[] = {
    {"Hyper-V", "Microsoft-Hyper-V-All", "Hyper-V", OptionalFeature::HyperV, true},
    {"WSL 2", "VirtualMachinePlatform", "Virtual Machine Platform", OptionalFeature::VirtualMachinePlatform, false},
    {"Windows Sandbox", "Containers-DisposableClientVM", "Windows Sandbox", OptionalFeature::Sandbox, true},
    {"Windows Hypervisor Platform programs (the Android Emulator, VMware Workstation 15.5.5+, VirtualBox 6+ in "
     "Hyper-V mode)",
     "HypervisorPlatform", "Windows Hypervisor Platform", OptionalFeature::HypervisorPlatform, false},
    {"Programs with a hypervisor of their own (VirtualBox's own engine, Intel HAXM, older VMware)", "", "",
     OptionalFeature::Count, false},
};

void Set(ProgramRow& Row, Readiness State, const wchar_t* Blocker, std::string_view Step)
{
    Row.State = State;
    Row.Blocker = Blocker;
    Row.Step.Clear();
    Row.Step.Append(Step);
}

// The hardware itself, whatever the program: false when it already decided the row.
bool HardwareAllows(ProgramRow& Row, const Verdict& Result)
{
    switch (Result.Found) {
    case Finding::NotX64:
        Set(Row, Readiness::NotPossible, L"not-x64", "korimath checks x64 processors only.");
        return false;
    case Finding::Unsupported:
        Set(Row, Readiness::NotPossible, L"processor-unsupported", "The processor lacks hardware virtualization.");
        return false;
    case Finding::FirmwareDisabled:
    case Finding::FirmwareUnlocked:
        Set(Row, Readiness::Needs, Result.Found == Finding::FirmwareDisabled ? L"firmware-disabled" : L"firmware-unlocked",
            Result.Vmx ? "Turn on VT-x (\"Intel Virtualization Technology\") in firmware setup; \"korimath "
                         "firmware-setup\" goes there."
                       : "Turn on AMD-V (\"SVM Mode\") in firmware setup; \"korimath firmware-setup\" goes there.");
        return false;
    case Finding::HiddenAfterBoot:
        Set(Row, Readiness::Needs, L"hidden-after-boot", "Restart Windows; something hid it after Windows started.");
        return false;
    case Finding::HostDoesNotPass:
        Set(Row, Readiness::Needs, L"host-does-not-pass-through",
            "Turn on nested virtualization for this virtual machine on its host.");
        return false;
    default:
        return true;
    }
}

// Windows' hypervisor is not running although the program needs it.
void LaunchBlocker(ProgramRow& Row, const WindowsSide& Side)
{
    const LaunchEvent& launch = Side.Launch;
    if (launch.Found && launch.Id == LaunchDisabledEvent) {
        Set(Row, Readiness::Needs, L"hypervisor-launch-disabled",
            "The boot configuration keeps Microsoft's hypervisor from starting (event 5, \"Hyper-V launch aborted due "
            "to auto-launch being disabled\"): from an elevated prompt, \"bcdedit /set hypervisorlaunchtype auto\", "
            "then restart. An emulator's or an old VirtualBox's installer may have turned it off.");
    } else if (launch.Found) {
        Set(Row, Readiness::Needs, L"hypervisor-launch-failed", "Microsoft's hypervisor did not start; Windows logged "
                                                                 "event ");
        Row.Step.AppendNumber(launch.Id);
        Row.Step.Append(": \"");
        Row.Step.Append(launch.Text.View());
        Row.Step.Append("\".");
    } else {
        Set(Row, Readiness::Needs, L"hypervisor-not-running",
            "Microsoft's hypervisor is not running: restart Windows. If it still does not start, it was not asked to "
            "or left no record: look at the \"hypervisorlaunchtype\" line of \"bcdedit /enum {current}\" (Off: "
            "\"bcdedit /set hypervisorlaunchtype auto\", then restart).");
    }
}

bool WindowsHypervisorRuns(const Verdict& Result)
{
    return Result.Found == Finding::WindowsHypervisor || Result.Found == Finding::NestedRoot;
}

void DecideOnWindowsHypervisor(ProgramRow& Row, const Requirement& What, const MachineFacts& Facts,
                               const Verdict& Result, bool Whp)
{
    if (Result.SlatMissing) {
        Set(Row, Readiness::NotPossible, L"no-slat", "The processor lacks SLAT, which it needs.");
        return;
    }
    const WindowsSide& side = Facts.Side;
    if (Whp && side.Whp == Platform::Usable) {
        Set(Row, Readiness::Ready, nullptr, "");  // asked directly: nothing else counts
        return;
    }
    const FeatureState state = side.Features[static_cast<unsigned>(What.Needs)];
    const bool home = EditionOf(side.ProductType) == Edition::Home;
    if ((state == FeatureState::Absent || state == FeatureState::NotRead) && home && What.NotOnHome) {
        Set(Row, Readiness::NotPossible, L"edition-unsupported", "Home editions of Windows do not have ");
        Row.Step.Append(What.Feature);
        Row.Step.Append(": it needs Pro, Enterprise or Education.");
        return;
    }
    if (state == FeatureState::Absent) {
        Set(Row, Readiness::NotPossible, L"feature-absent", "This Windows does not offer the feature ");
        Row.Step.Append(What.Feature);
        Row.Step.Append(".");
        return;
    }
    if (state == FeatureState::Disabled || (Whp && state == FeatureState::NotRead && side.Whp == Platform::NotAvailable)) {
        Set(Row, Readiness::Needs, L"feature-disabled", "Turn on ");
        Row.Step.Append(What.Feature);
        Row.Step.Append(" (\"Turn Windows features on or off\", or from an elevated prompt \"dism /online "
                        "/enable-feature /featurename:");
        Row.Step.Append(What.FeatureName);
        Row.Step.Append(" /all\"), then restart. It starts Microsoft's hypervisor at boot: programs with a "
                        "hypervisor of their own then need their Windows Hypervisor Platform mode.");
        return;
    }
    if (state == FeatureState::RestartPending) {
        Set(Row, Readiness::Needs, L"restart-pending", "Restart Windows: a change to the feature waits for it.");
        return;
    }
    const bool runs = WindowsHypervisorRuns(Result);
    if (!Whp && runs && state == FeatureState::Enabled) {
        Set(Row, Readiness::Ready, nullptr, "");
    } else if (!runs) {
        LaunchBlocker(Row, side);
        if (state == FeatureState::NotRead) {
            Row.Step.Append(" Run \"korimath run\" elevated to see which Windows features are on.");
        }
    } else {
        Set(Row, Readiness::Unknown, nullptr, "Windows features were not read: run \"korimath run\" elevated.");
    }
}

// What keeps Windows' hypervisor running, as far as this Windows says.
void AppendWhatKeepsItRunning(FixedText<1024>& Step, const MachineFacts& Facts)
{
    const WindowsSide& side = Facts.Side;
    Step.Append(" What keeps it running here:");
    bool any = false;
    const auto item = [&](bool Shown, std::string_view Name) {
        if (Shown) {
            Step.Append(any ? ", " : " ");
            Step.Append(Name);
            any = true;
        }
    };
    item(Facts.Windows.MemoryIntegrityRunning || MemoryIntegrityConfigured(side.Security).Value, "memory integrity");
    item(CredentialGuardConfigured(side.Security).Value, "Credential Guard");
    item(VbsConfigured(side.Security).Value, "virtualization-based security");
    for (unsigned i = 0; i < 4; ++i) {
        item(side.Features[static_cast<unsigned>(Requirements[i].Needs)] == FeatureState::Enabled,
             Requirements[i].Feature);
    }
    Step.Append(any ? "." : " not known (run \"korimath run\" elevated to read the features).");
    if (VbsLocked(side.Security).Value) {
        Step.Append(" Here they are locked in UEFI: a registry change alone does not turn them off (see Microsoft's "
                    "\"Manage Credential Guard\" and memory integrity pages).");
    }
}

void DecideOwnHypervisor(ProgramRow& Row, const MachineFacts& Facts, const Verdict& Result)
{
    if (Result.Found == Finding::NestedRoot) {
        Set(Row, Readiness::NotPossible, L"windows-hypervisor-running",
            "A nested root partition never gets the feature for a hypervisor of its own.");
    } else if (Result.Found == Finding::WindowsHypervisor) {
        Set(Row, Readiness::Needs, L"windows-hypervisor-running",
            "Windows' own hypervisor holds it. Switch such a program to its Windows Hypervisor Platform mode, which "
            "keeps every protection. Otherwise turn off everything that starts that hypervisor and restart, at a "
            "cost: turning off memory integrity or Credential Guard lowers this machine's protection.");
        AppendWhatKeepsItRunning(Row.Step, Facts);
    } else if (Result.Found == Finding::InUse) {
        Set(Row, Readiness::Needs, L"other-hypervisor-running",
            "Another hypervisor uses VT-x now: close VMware, VirtualBox or the Android emulator first.");
    } else {
        Set(Row, Readiness::Ready, nullptr, "");
    }
}

}  // namespace

WhatRuns DecideWhatRuns(const MachineFacts& Facts, const Verdict& Result)
{
    WhatRuns runs;
    for (unsigned i = 0; i < ProgramCount; ++i) {
        ProgramRow& row = runs.Rows[i];
        if (!HardwareAllows(row, Result)) {
            continue;
        }
        const auto which = static_cast<Program>(i);
        if (which == Program::OwnHypervisorPrograms) {
            DecideOwnHypervisor(row, Facts, Result);
        } else {
            DecideOnWindowsHypervisor(row, Requirements[i], Facts, Result, which == Program::WhpPrograms);
        }
    }
    if (Result.Found == Finding::HostPasses || Result.Found == Finding::HostDoesNotPass) {
        runs.HostNote.Append("Windows runs as a virtual machine");
        if (Facts.Hypervisor.Present) {
            runs.HostNote.Append(" under ");
            VerdictText host;
            AppendHost(host, Facts);
            runs.HostNote.Append(host.View());
        }
        runs.HostNote.Append(": every row depends on what its host passes through.");
    }
    return runs;
}

const wchar_t* Blocker(const Verdict& Result)
{
    ProgramRow row;
    return HardwareAllows(row, Result) ? nullptr : row.Blocker;
}

FixedText<1024> CheckLine(const Verdict& Result)
{
    ProgramRow row;
    FixedText<1024> line;
    line.Append(Result.Id);
    if (HardwareAllows(row, Result)) {
        line.Append(": ready");
        return line;
    }
    line.Append(": not ready (");
    line.Append(row.Blocker);
    line.Append("): ");
    line.Append(row.Step.View());
    return line;
}

std::string_view ProgramName(Program Which)
{
    return Requirements[static_cast<unsigned>(Which)].Name;
}

const wchar_t* ProgramKey(Program Which)
{
    constexpr const wchar_t* keys[] = {L"hyper_v", L"wsl2", L"sandbox", L"whp_programs", L"own_hypervisor_programs"};
    return keys[static_cast<unsigned>(Which)];
}
