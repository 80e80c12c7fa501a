// The verdict rows of "GenuineIntel" and "AuthenticAMD" reports.
#include <algorithm>

#include "operator/verdict_text.h"

namespace {

enum class Host { BareMetal, HyperVRoot, Guest, HiddenGuest };

Host HostOf(const MachineFacts& Facts)
{
    if (!Facts.Hypervisor.Present) {
        // No hypervisor bit, but the firmware names a virtual machine: its
        // hypervisor hides itself (common with GPU passthrough).
        return NamesVirtualMachine(Facts.System) ? Host::HiddenGuest : Host::BareMetal;
    }
    return Facts.Hypervisor.RootPartition ? Host::HyperVRoot : Host::Guest;
}

bool Missing(const Report& Values, std::initializer_list<ReportFlag> Flags)
{
    return std::ranges::any_of(Flags, [&](ReportFlag Flag) { return !Values[Flag].Present; });
}

bool IsSet(const Report& Values, ReportFlag Flag)
{
    return Values[Flag].Value != 0;
}

// VT-x or AMD-V, the flag that reports it, and the ids of the verdicts
// that depend on the host.
struct Feature {
    std::string_view Name;
    ReportFlag Flag;
    const wchar_t* HiddenId;
    const wchar_t* GuestId;
    const wchar_t* HiddenGuestId;
    const wchar_t* UnsupportedId;
};
constexpr Feature IntelVtx{"VT-x", ReportFlag::CpuVt, L"vmx-hidden-by-hyper-v", L"vmx-virtual-machine",
                           L"vmx-hidden-virtual-machine", L"vmx-unsupported"};
constexpr Feature AmdV{"AMD-V (SVM)", ReportFlag::Svm, L"svm-hidden-by-hyper-v", L"svm-virtual-machine",
                       L"svm-hidden-virtual-machine", L"svm-unsupported"};

// Windows itself runs on Microsoft's hypervisor, which hides VMX or SVM from it.
Verdict HiddenByHyperV(const Feature& What, const MachineFacts& Facts)
{
    const bool integrity = Facts.Windows.MemoryIntegrityRunning;
    Verdict result = Make(What.HiddenId, integrity ? "Memory integrity is on, and it keeps Microsoft's hypervisor "
                                                     "running: turn it off first under Windows Security > Device "
                                                     "security > Core isolation. "
                                                   : "");
    result.Text.Append(What.Name);
    result.Text.Append(" is enabled and in use: Windows itself runs on Microsoft's hypervisor, which owns it and "
                       "hides it from Windows. No firmware change is needed. Hyper-V, WSL 2, Windows Sandbox, "
                       "Virtual Machine Platform and memory integrity (Core isolation) each start that hypervisor. "
                       "Programs that need ");
    result.Text.Append(What.Name);
    result.Text.Append(" must use the Windows Hypervisor Platform, or have all of those turned off and Windows "
                       "restarted.");
    Basis basis(result);
    basis.Flags(Facts.Values, {What.Flag}).Hypervisor(Facts.Hypervisor);
    if (Facts.Windows.MemoryIntegrityKnown) {
        basis.Item(integrity ? L"memory integrity on" : L"memory integrity off");
    }
    return result;
}

Verdict VirtualMachine(const Feature& What, const MachineFacts& Facts)
{
    const bool passed = IsSet(Facts.Values, What.Flag);
    Verdict result;
    if (HostOf(Facts) == Host::HiddenGuest) {
        result = Make(What.HiddenGuestId, "This looks like a virtual machine whose hypervisor hides itself from "
                                          "CPUID: its firmware names ");
        result.Text.Append(Facts.System.Manufacturer.View());
        result.Text.Append(" \"");
        result.Text.Append(Facts.System.Product.View());
        result.Text.Append("\"");
    } else {
        result = Make(What.GuestId, "Windows runs as a virtual machine under ");
        AppendHypervisorName(result.Text, Facts.Hypervisor);
    }
    result.Text.Append(passed ? ", which passes " : ", which does not pass ");
    result.Text.Append(What.Name);
    result.Text.Append(passed ? " through to it (nested virtualization): hypervisors inside this virtual machine can "
                                "use it as far as the host allows. Firmware settings are the host's, not this "
                                "machine's."
                              : " through to it. To run virtual machines inside it, turn on nested virtualization "
                                "for this virtual machine on its host; this machine's firmware settings are not the "
                                "cause.");
    Basis basis(result);
    basis.Flags(Facts.Values, {What.Flag}).Hypervisor(Facts.Hypervisor);
    if (!Facts.Hypervisor.Present) {
        basis.Named(L"system", Facts.System.Manufacturer.View());
    }
    return result;
}

// The processor reports no VMX or SVM to Windows: hidden by Hyper-V, not
// passed to this virtual machine, or absent.
Verdict NotReported(const Feature& What, const MachineFacts& Facts)
{
    switch (HostOf(Facts)) {
    case Host::HyperVRoot:
        return HiddenByHyperV(What, Facts);
    case Host::Guest:
    case Host::HiddenGuest:
        return VirtualMachine(What, Facts);
    case Host::BareMetal:
        break;
    }
    Verdict result = Make(What.UnsupportedId, "This processor does not offer ");
    result.Text.Append(What.Name);
    result.Text.Append(", and no hypervisor hides it: virtual machines that need hardware virtualization cannot "
                       "run here. No firmware setting changes that.");
    Basis(result).Flags(Facts.Values, {What.Flag});
    AppendWindowsDisagreement(result, Facts.Windows, false);
    return result;
}

// Intel: Windows' view of SLAT (EPT), which Hyper-V requires; AMD's report
// has its own nested-paging flag.
void AppendSlat(Verdict& Result, const WindowsView& Windows)
{
    if (Windows.Meaningful) {
        Result.Text.Append(Windows.Slat ? " SLAT (EPT) is present, as Hyper-V requires."
                                        : " This processor lacks SLAT (EPT): Hyper-V cannot use it, though other "
                                          "hypervisors may.");
        Basis(Result).Number(L"PF_SECOND_LEVEL_ADDRESS_TRANSLATION", Windows.Slat ? 1 : 0);
    }
}

}  // namespace

Verdict IntelVerdict(const MachineFacts& Facts)
{
    using enum ReportFlag;
    const Report& values = Facts.Values;
    if (Missing(values, {CpuVt})) {
        return IncompleteVerdict(values);
    }
    if (!IsSet(values, CpuVt)) {
        return NotReported(IntelVtx, Facts);
    }
    if (Missing(values, {Cr4Vmxe})) {
        return IncompleteVerdict(values);
    }
    // In use: the feature-control bits can only have allowed it.
    if (IsSet(values, Cr4Vmxe)) {
        Verdict result = Make(L"vmx-in-use", "VT-x is enabled, and another hypervisor already uses it in this "
                                             "Windows (CR4.VMXE is set): VMware, VirtualBox or an Android emulator "
                                             "may be running. Only one can use VT-x at a time; close the others or "
                                             "use the Windows Hypervisor Platform.");
        Basis(result).Flags(values, {CpuVt, Cr4Vmxe});
        return result;
    }
    const Host host = HostOf(Facts);
    if (host == Host::Guest || host == Host::HiddenGuest) {
        return VirtualMachine(IntelVtx, Facts);
    }
    if (Missing(values, {BiosLock, VmOutsideSmx})) {
        return IncompleteVerdict(values);
    }
    Verdict result;
    if (!IsSet(values, BiosLock)) {
        // Intel SDM Vol. 3C, 24.7 "Enabling and Entering VMX Operation", and
        // Vol. 4, IA32_FEATURE_CONTROL (MSR 3AH).
        result = Make(L"vmx-unlocked",
                      "Firmware left IA32_FEATURE_CONTROL unlocked: VMXON faults until software sets its lock and "
                      "enable bits (Intel SDM, IA32_FEATURE_CONTROL). Some hypervisors set them themselves; others "
                      "refuse to start. Enabling \"Intel Virtualization Technology\" in firmware setup is the sure "
                      "fix.");
        Basis(result).Flags(values, {CpuVt, BiosLock});
    } else if (!IsSet(values, VmOutsideSmx)) {
        result = Make(L"vmx-disabled-in-firmware", "VT-x is disabled in firmware setup: enable \"Intel "
                                                   "Virtualization Technology\" (VT-x) there, save, and power the "
                                                   "machine off and on.");
        Basis(result).Flags(values, {CpuVt, BiosLock, VmOutsideSmx});
        AppendWindowsDisagreement(result, Facts.Windows, false);
    } else {
        result = Make(L"vmx-enabled", "VT-x is enabled by firmware and ready for virtual machines.");
        Basis(result).Flags(values, {CpuVt, BiosLock, VmOutsideSmx});
        AppendWindowsDisagreement(result, Facts.Windows, true);
    }
    AppendSlat(result, Facts.Windows);
    return result;
}

Verdict AmdVerdict(const MachineFacts& Facts)
{
    using enum ReportFlag;
    const Report& values = Facts.Values;
    if (Missing(values, {Svm})) {
        return IncompleteVerdict(values);
    }
    if (!IsSet(values, Svm)) {
        return NotReported(AmdV, Facts);
    }
    const Host host = HostOf(Facts);
    Verdict result;
    if (host == Host::Guest || host == Host::HiddenGuest) {
        result = VirtualMachine(AmdV, Facts);
    } else if (Missing(values, {VmCr, SvmNp})) {
        return IncompleteVerdict(values);
    } else if (!IsSet(values, VmCr)) {
        result = Make(L"svm-disabled-in-firmware", "AMD-V is disabled in firmware setup: enable \"SVM Mode\" "
                                                   "there, save, and power the machine off and on.");
        Basis(result).Flags(values, {Svm, VmCr});
        AppendWindowsDisagreement(result, Facts.Windows, false);
    } else {
        result = Make(L"svm-enabled", "AMD-V (SVM) is enabled by firmware and ready for virtual machines.");
        Basis(result).Flags(values, {Svm, VmCr});
        AppendWindowsDisagreement(result, Facts.Windows, true);
    }
    // Nested paging is a property of SVM: its leaf means nothing without it.
    if (values[SvmNp].Present) {
        result.Text.Append(IsSet(values, SvmNp) ? " Nested paging (RVI) is supported."
                                                : " Nested paging (RVI) is not supported: Hyper-V and current "
                                                  "VMware and VirtualBox releases need it.");
        Basis(result).Flags(values, {SvmNp});
    }
    return result;
}
