#include "operator/decisions/hardware_rows.h"

#include "operator/decisions/exit_codes.h"
#include "operator/decisions/host_steps.h"

namespace {

// Microsoft Learn, "Windows 10 Hyper-V System Requirements": hardware-enforced
// DEP (Intel's XD bit, AMD's NX bit) must be available and enabled.
constexpr std::string_view NeedsDep =
    " Hyper-V, and with it WSL 2, Windows Sandbox and the Windows Hypervisor Platform, needs hardware DEP (Microsoft "
    "Learn, Hyper-V system requirements).";

}  // namespace

void SetRow(ProgramRow& Row, Readiness State, const wchar_t* Blocker, std::string_view Step)
{
    Row.State = State;
    Row.Blocker = Blocker;
    Row.Step.Clear();
    Row.Step.Append(Step);
}

bool IntelProcessor(const MachineFacts& Facts)
{
    return Facts.Processor.Vendor.View() == L"GenuineIntel";
}

bool HardwareAllows(ProgramRow& Row, const MachineFacts& Facts, const Verdict& Result)
{
    switch (Result.Found) {
    case Finding::Unsupported:
        SetRow(Row, Readiness::NotPossible, L"processor-unsupported",
            "The processor lacks hardware virtualization; no setting changes that.");
        return false;
    case Finding::FirmwareDisabled:
    case Finding::FirmwareUnlocked: {
        const wchar_t* blocker = Result.Found == Finding::FirmwareDisabled ? L"firmware-disabled" : L"firmware-unlocked";
        SetRow(Row, Readiness::Needs, blocker,
            AppleHardware(Facts.System)
                ? "A Mac has no firmware setup for it: choose Windows as the startup disk (Boot Camp Control Panel > "
                  "Startup Disk) and restart from there."
            : Result.Vmx ? "Turn on VT-x (\"Intel Virtualization Technology\") in firmware setup; \"korimath "
                           "firmware-setup\" goes there."
                         : "Turn on AMD-V (\"SVM Mode\") in firmware setup; \"korimath firmware-setup\" goes there.");
        return false;
    }
    case Finding::HiddenAfterBoot:
        SetRow(Row, Readiness::Needs, L"hidden-after-boot", "Restart Windows; something hid it after Windows started.");
        return false;
    case Finding::HostDoesNotPass: {
        const HostStep step = NestingStep(Facts);
        SetRow(Row, step.Offered ? Readiness::Needs : Readiness::NotPossible,
            step.Offered ? L"host-does-not-pass-through" : L"host-offers-no-nesting", step.Text);
        return false;
    }
    default:
        return true;
    }
}

bool DepAllows(ProgramRow& Row, const MachineFacts& Facts, const Verdict& Result)
{
    if (Facts.Windows.NxEnabled || Result.Found == Finding::NotX64) {
        return true;
    }
    const bool guest = Result.Found == Finding::HostPasses;
    if (!Facts.Cpu.Nx && Facts.Cpu.SvmKnown) {
        SetRow(Row, Readiness::Needs, L"nx-disabled-in-firmware",
            guest ? "This virtual machine's host does not pass NX (XD) through: turn it on in its processor settings "
                    "(VirtualBox: \"Enable PAE/NX\")."
            : Result.Vmx ? "Turn on \"Execute Disable Bit\" (XD) in firmware setup; \"korimath firmware-setup\" goes "
                           "there."
                         : "Turn on \"NX Mode\" in firmware setup; \"korimath firmware-setup\" goes there.");
    } else {
        SetRow(Row, Readiness::Needs, L"nx-disabled-by-windows",
            "Windows' own DEP is off (the boot configuration's nx setting): from an elevated prompt, \"bcdedit /set "
            "{current} nx OptIn\", then restart.");
    }
    Row.Step.Append(NeedsDep);
    return false;
}

const wchar_t* Blocker(const MachineFacts& Facts, const Verdict& Result)
{
    ProgramRow row;
    return Result.Found == Finding::NotX64 ? L"not-x64" : HardwareAllows(row, Facts, Result) ? nullptr : row.Blocker;
}

int CheckExitCode(const MachineFacts& Facts, const Verdict& Result)
{
    return Blocker(Facts, Result) == nullptr ? ExitDone : ExitNotReady;
}

FixedText<2048> CheckLine(const MachineFacts& Facts, const Verdict& Result)
{
    ProgramRow row;
    FixedText<2048> line;
    line.Append(Result.Id);
    if (Result.Found == Finding::NotX64) {
        line.Append(": not ready (not-x64): korimath checks x64 processors only.");
    } else if (HardwareAllows(row, Facts, Result)) {
        line.Append(": ready");
    } else {
        line.Append(": not ready (");
        line.Append(row.Blocker);
        line.Append("): ");
        line.Append(row.Step.View());
    }
    return line;
}
