#include "operator/decisions/what_runs.h"

#include "operator/decisions/hardware_rows.h"
#include "operator/decisions/verdict_text.h"
#include "operator/decisions/host_steps.h"
#include "operator/decisions/keepers.h"
#include "operator/decisions/messages.h"

namespace {

struct Requirement {
    std::string_view Name;
    std::string_view FeatureName;  // its name for DISM
    std::string_view Feature;      // as "Turn Windows features on or off" shows it
    OptionalFeature Needs;
    bool NotOnHome, NotOnServer;
};

// Microsoft Learn: "Install Hyper-V", "Install WSL" (manual steps), "Windows
// Sandbox", "Windows Hypervisor Platform" (Android Emulator documentation).
constexpr Requirement Requirements[] = {
    {"Hyper-V", "Microsoft-Hyper-V-All", "Hyper-V", OptionalFeature::HyperV, true, false},
    {"WSL 2", "VirtualMachinePlatform", "Virtual Machine Platform", OptionalFeature::VirtualMachinePlatform, false,
     false},
    {"Windows Sandbox", "Containers-DisposableClientVM", "Windows Sandbox", OptionalFeature::Sandbox, true, true},
    {"Windows Hypervisor Platform programs (the Android Emulator, VMware Workstation 15.5.5+, VirtualBox 6+ in "
     "Hyper-V mode)",
     "HypervisorPlatform", "Windows Hypervisor Platform", OptionalFeature::HypervisorPlatform, false, false},
    {"Programs with a hypervisor of their own (VirtualBox's own engine, Intel HAXM, older VMware)", "", "",
     OptionalFeature::Count, false, false},
};

void NotKnown(ProgramRow& Row, const WindowsSide& Side)
{
    SetRow(Row, Readiness::Unknown, L"features-not-read", "Not known: Windows' features were not read");
    if (Side.FeaturesError == ErrorElevationRequired) {
        Row.Step.Append("; run korimath elevated (as administrator) to read them.");
    } else {
        Row.Step.Append(" (error ");
        Row.Step.AppendNumber(Side.FeaturesError);
        Row.Step.Append(").");
    }
}

// Windows' hypervisor is not running although the row needs it.
void LaunchBlocker(ProgramRow& Row, const MachineFacts& Facts, const Verdict& Result, const Requirement& What)
{
    const WindowsSide& side = Facts.Side;
    const bool off = side.HypervisorLaunch == LaunchSetting::Off || side.HypervisorLaunch == LaunchSetting::Absent;
    const bool event5 = side.Launch.Found && side.Launch.Id == LaunchDisabledEvent;
    if (off || event5) {
        SetRow(Row, Readiness::Needs, L"hypervisor-launch-disabled",
            side.HypervisorLaunch == LaunchSetting::Absent
                ? "The boot configuration does not ask for Microsoft's hypervisor (no hypervisorlaunchtype in {current})"
            : off ? "The boot configuration keeps Microsoft's hypervisor from starting (hypervisorlaunchtype Off)"
                  : "The boot configuration keeps Microsoft's hypervisor from starting (event 5, \"Hyper-V launch "
                    "aborted due to auto-launch being disabled\")");
        Row.Step.Append(": from an elevated prompt, \"bcdedit /set hypervisorlaunchtype auto\", then restart. An "
                        "emulator's or an old VirtualBox's installer may have turned it off.");
    } else if (LaunchFailed(side.Launch)) {
        SetRow(Row, Readiness::Needs, L"hypervisor-launch-failed", "Microsoft's hypervisor did not start; Windows logged "
                                                                 "event ");
        Row.Step.AppendNumber(side.Launch.Id);
        Row.Step.Append(": \"");
        Row.Step.Append(side.Launch.Text.View());
        Row.Step.Append("\".");
    } else if (side.State(What.Needs) == FeatureState::NotRead) {
        NotKnown(Row, side);
    } else if (Result.Found == Finding::HostPasses) {
        SetRow(Row, Readiness::Needs, L"host-nesting-incomplete",
            "Microsoft's hypervisor did not start although the host passes VT-x or AMD-V through: the host's nesting "
            "does not give it all it needs (SLAT among it). ");
        Row.Step.Append(NestingStep(Facts).Text);
    } else {
        SetRow(Row, Readiness::Needs, L"hypervisor-not-running", "Microsoft's hypervisor is not running although ");
        Row.Step.Append(What.Feature);
        Row.Step.Append(" is on: restart Windows.");
    }
}

void FeatureStep(ProgramRow& Row, const Requirement& What, Edition On)
{
    const bool server = IsServer(On) && What.Needs == OptionalFeature::HyperV;
    SetRow(Row, Readiness::Needs, L"feature-disabled", "Turn on ");
    Row.Step.Append(What.Feature);
    Row.Step.Append(server ? " (Server Manager's \"Add Roles and Features\", or from an elevated prompt \"dism "
                             "/online /enable-feature /featurename:Microsoft-Hyper-V /all\")"
                           : " (\"Turn Windows features on or off\", or from an elevated prompt \"dism /online "
                             "/enable-feature /featurename:");
    if (!server) {
        Row.Step.Append(What.FeatureName);
        Row.Step.Append(" /all\")");
    }
    Row.Step.Append(What.Needs == OptionalFeature::HypervisorPlatform
                        ? ", then restart: these programs then run here through Windows' hypervisor."
                        : ", then restart. It starts Microsoft's hypervisor at boot: programs with a hypervisor of "
                          "their own then need their Windows Hypervisor Platform mode.");
}

void DecideOnWindowsHypervisor(ProgramRow& Row, const Requirement& What, const MachineFacts& Facts,
                               const Verdict& Result)
{
    const WindowsSide& side = Facts.Side;
    const bool whp = What.Needs == OptionalFeature::HypervisorPlatform;
    if (Result.SlatMissing) {
        SetRow(Row, Readiness::NotPossible, L"no-slat", "The processor lacks SLAT (EPT, nested paging), which it needs.");
        return;
    }
    if (!DepAllows(Row, Facts, Result)) {
        return;
    }
    if (whp && side.Whp == Platform::Usable) {
        SetRow(Row, Readiness::Ready, nullptr, "");  // asked directly: nothing else counts
        return;
    }
    const Edition edition = EditionOf(side.ProductType);
    const FeatureState state = side.State(What.Needs);
    const bool unavailable = state == FeatureState::Absent || state == FeatureState::NotRead;
    if (unavailable && ((edition == Edition::Home && What.NotOnHome) || (IsServer(edition) && What.NotOnServer))) {
        SetRow(Row, Readiness::NotPossible, L"edition-unsupported", edition == Edition::Home
                                                                     ? "Home editions of Windows do not have "
                                                                     : "Windows Server does not have ");
        Row.Step.Append(What.Feature);
        Row.Step.Append(": it is part of Windows 10 and 11 Pro, Enterprise and Education.");
        return;
    }
    if (state == FeatureState::Absent) {
        SetRow(Row, Readiness::NotPossible, L"feature-absent", "This Windows does not offer the feature ");
        Row.Step.Append(What.Feature);
        Row.Step.Append(".");
    } else if (state == FeatureState::Disabled || (whp && state == FeatureState::NotRead && side.Whp == Platform::NotAvailable)) {
        FeatureStep(Row, What, edition);
    } else if (state == FeatureState::RestartPending) {
        SetRow(Row, Readiness::Needs, L"restart-pending", "Restart Windows: a change to the feature waits for it.");
    } else if (Result.Found == Finding::NotX64) {
        // Windows on Arm: its hypervisor is not seen from here, and its features decide.
        state == FeatureState::Enabled ? SetRow(Row, Readiness::Ready, nullptr, "") : NotKnown(Row, side);
    } else if (Result.Found != Finding::WindowsHypervisor && Result.Found != Finding::NestedRoot) {
        LaunchBlocker(Row, Facts, Result, What);
    } else if (state == FeatureState::Enabled && !whp) {
        SetRow(Row, Readiness::Ready, nullptr, "");
    } else if (state == FeatureState::NotRead) {
        NotKnown(Row, side);
    } else {
        SetRow(Row, Readiness::Needs, L"platform-not-usable", "The Windows Hypervisor Platform does not answer that it "
                                                           "can create partitions although its feature is on: "
                                                           "restart Windows.");
    }
}

void DecideOwnHypervisor(ProgramRow& Row, const MachineFacts& Facts, const Verdict& Result)
{
    switch (Result.Found) {
    case Finding::NotX64:
        SetRow(Row, Readiness::NotPossible, L"not-x64", "Their hypervisors need an x64 processor; on Windows on Arm, "
                                                     "Hyper-V, WSL 2 and the Windows Hypervisor Platform are the "
                                                     "routes.");
        return;
    case Finding::NestedRoot:
        SetRow(Row, Readiness::NotPossible, L"windows-hypervisor-running",
            "A nested root partition never gets the feature for a hypervisor of its own; use their Windows "
            "Hypervisor Platform mode.");
        return;
    case Finding::WindowsHypervisor:
        SetRow(Row, Readiness::Needs, L"windows-hypervisor-running", "");
        AppendKeepers(Row.Step, Facts);
        break;
    case Finding::InUse:
        SetRow(Row, Readiness::Needs, L"other-hypervisor-running",
            "Another hypervisor uses VT-x now: close VMware, VirtualBox or the Android emulator first.");
        break;
    default:
        SetRow(Row, Readiness::Ready, nullptr, "");
    }
    // Intel's HAXM repository: no longer developed (2023); the Android Emulator's documentation names AEHD and
    // the Windows Hypervisor Platform instead.
    Row.Step.Append(Row.Step.Length != 0 ? " " : "");
    Row.Step.Append(IntelProcessor(Facts) ? "Intel HAXM is no longer developed: the Android Emulator uses the Windows "
                                   "Hypervisor Platform or its own hypervisor driver (AEHD) instead."
                                 : "Intel HAXM runs on Intel processors only: here the Android Emulator uses the "
                                   "Windows Hypervisor Platform or its own hypervisor driver (AEHD).");
}

}  // namespace

WhatRuns DecideWhatRuns(const MachineFacts& Facts, const Verdict& Result)
{
    WhatRuns runs;
    for (unsigned i = 0; i < ProgramCount; ++i) {
        ProgramRow& row = runs.Rows[i];
        if (!HardwareAllows(row, Facts, Result)) {
            continue;
        }
        if (static_cast<Program>(i) == Program::OwnHypervisorPrograms) {
            DecideOwnHypervisor(row, Facts, Result);
        } else {
            DecideOnWindowsHypervisor(row, Requirements[i], Facts, Result);
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

std::string_view ProgramName(Program Which, const MachineFacts& Facts)
{
    if (Which == Program::OwnHypervisorPrograms && !IntelProcessor(Facts)) {
        return "Programs with a hypervisor of their own (VirtualBox's own engine, older VMware)";
    }
    return Requirements[static_cast<unsigned>(Which)].Name;
}

const wchar_t* ProgramKey(Program Which)
{
    constexpr const wchar_t* keys[] = {L"hyper_v", L"wsl2", L"sandbox", L"whp_programs", L"own_hypervisor_programs"};
    return keys[static_cast<unsigned>(Which)];
}
