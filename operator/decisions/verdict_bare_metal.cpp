// The verdicts of Windows on bare metal: decided from CPUID and Windows' own
// view, then refined by the driver's flags, which only kernel mode reads.
#include <algorithm>

#include "operator/decisions/verdict_text.h"

namespace {

constexpr std::string_view PowerCycle =
    ", save, then shut down fully and start again: IA32_FEATURE_CONTROL keeps its lock until the processor is "
    "reset at power-up (Intel SDM Vol. 3, IA32_FEATURE_CONTROL), and a restart with Fast Startup may not do that.";
constexpr std::string_view FirmwareSetupCommand =
    " \"korimath firmware-setup\" restarts this machine straight into firmware setup.";

bool IsSet(const Report& Values, ReportFlag Flag)
{
    return Values[Flag].Value != 0;
}

Verdict Disabled(const Feature& What)
{
    Verdict result = Make(What.Disabled, Finding::FirmwareDisabled, What.Name);
    result.Text.Append(" is disabled in firmware setup: turn on ");
    result.Text.Append(What.FirmwareSetting);
    result.Text.Append(" there");
    result.Text.Append(What.Vmx ? PowerCycle : ", save, then shut down fully and start again.");
    result.Text.Append(FirmwareSetupCommand);
    return result;
}

Verdict Enabled(const Feature& What)
{
    Verdict result = Make(What.Enabled, Finding::Enabled, What.Name);
    result.Text.Append(" is enabled by firmware and ready for virtual machines.");
    return result;
}

// Second-level address translation: Intel's EPT as Windows reports it, AMD's
// nested paging as CPUID does.
void AppendSlat(Verdict& Result, const Feature& What, const MachineFacts& Facts)
{
    const bool known = What.Vmx ? Facts.Windows.Meaningful : Facts.Cpu.NestedPagingKnown;
    if (!known) {
        return;
    }
    const bool present = What.Vmx ? Facts.Windows.Slat : Facts.Cpu.NestedPaging;
    Result.SlatMissing = !present;
    const std::string_view name = What.Vmx ? "SLAT (EPT)" : "Nested paging (RVI, AMD's SLAT)";
    Result.Text.Append(" ");
    Result.Text.Append(name);
    Result.Text.Append(present ? " is present." : " is missing: Hyper-V, WSL 2, Windows Sandbox and memory integrity "
                                                  "all need it, so none of them can run here; other hypervisors may.");
    Basis basis(Result);
    if (What.Vmx) {
        basis.Number(L"PF_SECOND_LEVEL_ADDRESS_TRANSLATION", present ? 1 : 0);
    } else {
        basis.Number(L"CPUID NP", present ? 1 : 0);
    }
}

// The driver's flags say Expected; Windows decided at boot.
void AppendWindowsDisagreement(Verdict& Result, const WindowsView& Windows, bool Expected)
{
    if (!Windows.Meaningful || Windows.FirmwareEnabled == Expected) {
        return;
    }
    Result.Text.Append(Windows.FirmwareEnabled
                           ? " Windows' own view, taken when it started, disagrees: it reports virtualization "
                             "enabled in firmware."
                           : " Windows' own view, taken when it started, disagrees: it reports virtualization not "
                             "enabled in firmware.");
}

Verdict RefinedIntel(const Feature& What, const Report& Values, const WindowsView& Windows)
{
    using enum ReportFlag;
    Verdict result;
    if (IsSet(Values, Cr4Vmxe)) {
        // In use: the feature-control bits can only have allowed it.
        result = Make(L"vmx-in-use", Finding::InUse, "VT-x is enabled, and another hypervisor already uses it in this Windows "
                                     "(CR4.VMXE is set): VMware, VirtualBox or an Android emulator may be running. "
                                     "Only one can use VT-x at a time; close the others or use the Windows "
                                     "Hypervisor Platform.");
        Basis(result).Flags(Values, {CpuVt, Cr4Vmxe});
        return result;
    }
    if (!IsSet(Values, BiosLock)) {
        // Intel SDM Vol. 3C, 24.7 "Enabling and Entering VMX Operation".
        result = Make(L"vmx-unlocked", Finding::FirmwareUnlocked,
                      "Firmware left IA32_FEATURE_CONTROL unlocked: VMXON faults until software sets its lock and "
                      "enable bits (Intel SDM, IA32_FEATURE_CONTROL). Some hypervisors set them themselves; others "
                      "refuse to start. Turning on \"Intel Virtualization Technology\" in firmware setup is the sure "
                      "fix.");
        result.Text.Append(FirmwareSetupCommand);
        Basis(result).Flags(Values, {CpuVt, BiosLock});
        return result;
    }
    const bool outside = IsSet(Values, VmOutsideSmx);
    if (!outside && IsSet(Values, VmInSmx)) {
        result = Make(L"vmx-txt-only", Finding::FirmwareDisabled, "Firmware enabled VT-x only inside SMX, for Intel TXT's measured launch: "
                                       "ordinary hypervisors run outside SMX and cannot use it. Turn on ");
        result.Text.Append(What.FirmwareSetting);
        result.Text.Append(" in firmware setup, beside the TXT setting");
        result.Text.Append(PowerCycle);
        result.Text.Append(FirmwareSetupCommand);
    } else {
        result = outside ? Enabled(What) : Disabled(What);
    }
    Basis(result).Flags(Values, {CpuVt, BiosLock, VmInSmx, VmOutsideSmx});
    AppendWindowsDisagreement(result, Windows, outside);
    return result;
}

}  // namespace

Verdict BareMetal(const Feature& What, const MachineFacts& Facts)
{
    const WindowsView& windows = Facts.Windows;
    Verdict result;
    if (!Offered(What, Facts.Cpu)) {
        const std::wstring_view vendor = Facts.Processor.Vendor.View();
        const bool zen = !What.Vmx && Facts.Cpu.Family >= ZenFamily &&
                         (vendor == L"AuthenticAMD" || vendor == L"HygonGenuine");
        if (windows.FirmwareEnabled) {
            result = Make(What.HiddenAfterBoot, Finding::HiddenAfterBoot, "Windows found ");
            result.Text.Append(What.Name);
            result.Text.Append(" enabled in firmware when it started, but CPUID no longer reports it and no "
                               "hypervisor announces itself: something hid it after Windows started, most likely a "
                               "hypervisor that hides itself (some anti-cheat and security software loads one). "
                               "Restart Windows and run korimath again before changing any setting.");
        } else if (zen) {
            result = Make(L"svm-hidden", Finding::FirmwareDisabled, "Every AMD processor of family 17h (Zen) and later implements AMD-V, but "
                                         "CPUID does not show it here: firmware setup hides it while ");
            result.Text.Append(What.FirmwareSetting);
            result.Text.Append(" is off (turn it on, save, then shut down fully and start again), or a hypervisor "
                               "that hides itself runs beneath Windows.");
            result.Text.Append(FirmwareSetupCommand);
        } else {
            result = Make(What.Unsupported, Finding::Unsupported, "This processor does not offer ");
            result.Text.Append(What.Name);
            result.Text.Append(", and no hypervisor hides it: virtual machines that need hardware virtualization "
                               "cannot run here. No firmware setting changes that.");
        }
        Basis basis(result);
        basis.Cpuid(What, Facts.Cpu).Windows(windows, false);
        if (zen) {
            basis.Number(L"family", Facts.Cpu.Family);
        }
        return result;
    }
    result = windows.FirmwareEnabled ? Enabled(What) : Disabled(What);
    Basis(result).Cpuid(What, Facts.Cpu).Windows(windows, false);
    AppendSlat(result, What, Facts);
    return result;
}

bool RefineBareMetal(Verdict& Result, const Feature& What, const MachineFacts& Facts)
{
    using enum ReportFlag;
    const Report& values = Facts.Values;
    const auto missing = [&](std::initializer_list<ReportFlag> Flags) {
        return std::ranges::any_of(Flags, [&](ReportFlag Flag) { return !values[Flag].Present; });
    };
    if (What.Vmx ? missing({CpuVt, BiosLock, VmInSmx, VmOutsideSmx, Cr4Vmxe}) : missing({Svm, VmCr})) {
        return false;
    }
    if (What.Vmx) {
        Result = RefinedIntel(What, values, Facts.Windows);
    } else {
        const bool allowed = IsSet(values, VmCr);  // VM_CR.SVMDIS clear
        Result = allowed ? Enabled(What) : Disabled(What);
        Basis(Result).Flags(values, {Svm, VmCr});
        AppendWindowsDisagreement(Result, Facts.Windows, allowed);
    }
    if (Result.Id == What.Enabled || Result.Id == What.Disabled) {
        AppendSlat(Result, What, Facts);
    }
    return true;
}
