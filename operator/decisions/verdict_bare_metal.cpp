// The verdicts of Windows on bare metal: decided from CPUID and Windows' own
// view, then refined by the driver's flags, which only kernel mode reads.
#include <algorithm>

#include "operator/decisions/verdict_text.h"

namespace {

// Only a power-up reset clears IA32_FEATURE_CONTROL's lock (Intel SDM Vol.
// 3C, IA32_FEATURE_CONTROL), so a restart is not enough; Fast Startup applies
// to shut-down only, and a boot after it resumes the old kernel session.
constexpr std::string_view PowerCycle =
    ", save, then shut down fully and start again: only a power-up reset clears IA32_FEATURE_CONTROL's lock (Intel "
    "SDM Vol. 3C), so a restart is not enough, and a shut-down with Fast Startup resumes the old kernel session "
    "(hold Shift while choosing Shut down, or \"shutdown /s /t 0\").";
constexpr std::string_view FirmwareSetupCommand =
    " \"korimath firmware-setup\" restarts this machine straight into firmware setup.";
// Intel Macs: no setup screen; users report that Mac firmware turns VT-x on
// when Windows starts as the chosen startup disk, not when picked with Option
// held (docker/toolbox#166, dortania/OpenCore-Legacy-Patcher#738).
constexpr std::string_view MacStartupDisk =
    " This is a Mac, whose firmware has no setup for it: choose Windows as the startup disk (Boot Camp Control Panel "
    "> Startup Disk, or macOS's Startup Disk settings) and restart from there; Mac firmware turns VT-x on for such "
    "a start, not for one chosen with Option held.";

bool IsSet(const Report& Values, ReportFlag Flag)
{
    return Values[Flag].Value != 0;
}

Verdict Disabled(const Feature& What, bool Mac)
{
    Verdict result = Make(What.Disabled, Finding::FirmwareDisabled, What.Name);
    if (Mac) {
        result.Text.Append(" is disabled by the firmware.");
        result.Text.Append(MacStartupDisk);
        return result;
    }
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

Verdict RefinedIntel(const Feature& What, const Report& Values, const WindowsView& Windows, bool Mac)
{
    using enum ReportFlag;
    Verdict result;
    const bool outside = IsSet(Values, VmOutsideSmx);
    // IA32_FEATURE_CONTROL gates VMXON, not CR4.VMXE (Intel SDM Vol. 3C, "Enabling and Entering VMX
    // Operation"): in use only where it allows VMX outside SMX.
    if (IsSet(Values, Cr4Vmxe) && IsSet(Values, BiosLock) && outside) {
        result = Make(L"vmx-in-use", Finding::InUse, "VT-x is enabled, and another hypervisor already uses it in this Windows "
                                     "(CR4.VMXE is set): VMware, VirtualBox or an Android emulator may be running. "
                                     "Only one can use VT-x at a time; close the others or use the Windows "
                                     "Hypervisor Platform.");
        Basis(result).Flags(Values, {CpuVt, BiosLock, VmOutsideSmx, Cr4Vmxe});
        return result;
    }
    if (!IsSet(Values, BiosLock)) {
        // Intel SDM Vol. 3C, 24.7 "Enabling and Entering VMX Operation".
        result = Make(L"vmx-unlocked", Finding::FirmwareUnlocked,
                      "Firmware left IA32_FEATURE_CONTROL unlocked: VMXON faults until software sets its lock and "
                      "enable bits (Intel SDM, IA32_FEATURE_CONTROL). Some hypervisors set them themselves; others "
                      "refuse to start. Turning on \"Intel Virtualization Technology\" in firmware setup is the sure "
                      "fix.");
        result.Text.Append(Mac ? MacStartupDisk : FirmwareSetupCommand);
        Basis(result).Flags(Values, {CpuVt, BiosLock, Cr4Vmxe});
        return result;
    }
    if (!outside && IsSet(Values, VmInSmx)) {
        result = Make(L"vmx-txt-only", Finding::FirmwareDisabled, "Firmware enabled VT-x only inside SMX, for Intel TXT's measured launch: "
                                       "ordinary hypervisors run outside SMX and cannot use it. Turn on ");
        result.Text.Append(What.FirmwareSetting);
        result.Text.Append(" in firmware setup, beside the TXT setting");
        result.Text.Append(PowerCycle);
        result.Text.Append(FirmwareSetupCommand);
    } else {
        result = outside ? Enabled(What) : Disabled(What, Mac);
    }
    if (IsSet(Values, Cr4Vmxe)) {
        result.Text.Append(" CR4.VMXE is set, but IA32_FEATURE_CONTROL allows no VMXON outside SMX: no ordinary "
                           "hypervisor can be using VT-x.");
    }
    Basis(result).Flags(Values, {CpuVt, BiosLock, VmInSmx, VmOutsideSmx});
    AppendWindowsDisagreement(result, Windows, outside);
    return result;
}

// A fresh report of this processor that shows the feature offered, where
// CPUID now hides it: not a processor without it.
bool ReportSawItOffered(const Feature& What, const MachineFacts& Facts)
{
    const Report& values = Facts.Values;
    return values.Written() && !Facts.Freshness.Stale() && IsSet(values, What.Flag);
}

// ... and enabled by the firmware.
bool ReportSawItEnabled(const Feature& What, const MachineFacts& Facts)
{
    using enum ReportFlag;
    const Report& values = Facts.Values;
    return ReportSawItOffered(What, Facts) &&
           (What.Vmx ? IsSet(values, BiosLock) && IsSet(values, VmOutsideSmx) : IsSet(values, VmCr));
}

}  // namespace

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

Verdict BareMetal(const Feature& What, const MachineFacts& Facts)
{
    const WindowsView& windows = Facts.Windows;
    Verdict result;
    if (!Offered(What, Facts.Cpu)) {
        const std::wstring_view vendor = Facts.Processor.Vendor.View();
        const bool hygon = vendor == L"HygonGenuine";
        const bool zen = !What.Vmx && (hygon || (vendor == L"AuthenticAMD" && Facts.Cpu.Family >= ZenFamily));
        if (windows.FirmwareEnabled || ReportSawItEnabled(What, Facts)) {
            result = Make(What.HiddenAfterBoot, Finding::HiddenAfterBoot,
                          windows.FirmwareEnabled ? "Windows found " : "korimath's driver found ");
            result.Text.Append(What.Name);
            result.Text.Append(windows.FirmwareEnabled ? " enabled in firmware when it started" : " enabled this boot");
            result.Text.Append(", but CPUID no longer reports it and no hypervisor announces itself: something hid it "
                               "since, most likely a hypervisor that hides itself (some anti-cheat and security "
                               "software loads one). Restart Windows and run korimath again before changing any "
                               "setting.");
        } else if (ReportSawItOffered(What, Facts)) {
            // The firmware's switch was off when the driver read it this boot: that is the fix, whatever hides
            // the feature from CPUID since.
            result = Disabled(What, AppleHardware(Facts.System));
            result.Text.Append(" korimath's driver found the processor offering it this boot, turned off by the "
                               "firmware; CPUID no longer reports it at all.");
        } else if (zen) {
            result = Make(L"svm-hidden", Finding::FirmwareDisabled,
                          hygon ? "Every Hygon processor (family 18h, built on AMD's Zen) implements AMD-V, but "
                                : "Every AMD processor of family 17h (Zen) and later implements AMD-V, but ");
            result.Text.Append("CPUID does not show it here: firmware setup hides it while ");
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
            basis.Hex(L"family", Facts.Cpu.Family);
        }
        return result;
    }
    result = windows.FirmwareEnabled ? Enabled(What) : Disabled(What, AppleHardware(Facts.System));
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
    const bool mac = AppleHardware(Facts.System);
    if (What.Vmx) {
        Result = RefinedIntel(What, values, Facts.Windows, mac);
    } else {
        const bool allowed = IsSet(values, VmCr);  // VM_CR.SVMDIS clear
        Result = allowed ? Enabled(What) : Disabled(What, mac);
        Basis(Result).Flags(values, {Svm, VmCr});
        AppendWindowsDisagreement(Result, Facts.Windows, allowed);
    }
    if (Result.Id == What.Enabled || Result.Id == What.Disabled) {
        AppendSlat(Result, What, Facts);
    }
    return true;
}
