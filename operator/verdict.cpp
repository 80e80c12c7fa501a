#include "operator/verdict.h"

#include <algorithm>

namespace {

enum class Host { BareMetal, HyperVRoot, Guest };

Host HostOf(const HypervisorFacts& Hypervisor)
{
    if (!Hypervisor.Present) {
        return Host::BareMetal;
    }
    return Hypervisor.RootPartition ? Host::HyperVRoot : Host::Guest;
}

// Appends " [A=1, B=0]": the report values a verdict rests on.
void AppendBasis(Verdict& Result, const Report& Values, std::initializer_list<ReportFlag> Flags,
                 const HypervisorFacts* Hypervisor = nullptr)
{
    Result.Text.Append(L" [");
    bool first = true;
    for (const ReportFlag flag : Flags) {
        Result.Text.Append(first ? L"" : L", ");
        first = false;
        Result.Text.Append(ReportFlagNames[static_cast<unsigned>(flag)]);
        Result.Text.Append(L"=");
        Result.Text.AppendNumber(Values[flag].Value);
    }
    if (Hypervisor != nullptr && Hypervisor->Present) {
        Result.Text.Append(first ? L"hypervisor=" : L", hypervisor=");
        Result.Text.Append(Hypervisor->Vendor.View());
        if (Hypervisor->RootPartition) {
            Result.Text.Append(L", root partition");
        }
    }
    Result.Text.Append(L"]");
}

Verdict Make(const wchar_t* Id, std::initializer_list<std::wstring_view> Sentences)
{
    Verdict result;
    result.Id = Id;
    for (const std::wstring_view sentence : Sentences) {
        result.Text.Append(sentence);
    }
    return result;
}

bool Missing(const Report& Values, std::initializer_list<ReportFlag> Flags)
{
    return std::ranges::any_of(Flags, [&](ReportFlag Flag) { return !Values[Flag].Present; });
}

bool IsSet(const Report& Values, ReportFlag Flag)
{
    return Values[Flag].Value != 0;
}

Verdict Incomplete(const Report& Values)
{
    Verdict result = Make(L"incomplete-report",
                          {L"The report for this ", Values.Vendor.View(),
                           L" processor lacks values the verdict needs: run \"korimath run\" again from an "
                           L"elevated prompt."});
    return result;
}

// Windows itself runs on Microsoft's hypervisor, which hides VMX or SVM from it.
Verdict HiddenByHyperV(const wchar_t* Id, std::wstring_view Feature, const Report& Values, ReportFlag Flag,
                       const HypervisorFacts& Hypervisor)
{
    Verdict result = Make(Id, {Feature});
    result.Text.Append(L" is enabled and in use: Windows itself runs on Microsoft's hypervisor, which owns ");
    result.Text.Append(Feature);
    result.Text.Append(L" and hides it from Windows. No firmware change is needed. Hyper-V, WSL 2, Windows Sandbox, "
                       L"Virtual Machine Platform and memory integrity (Core isolation) each start that "
                       L"hypervisor. Programs that need ");
    result.Text.Append(Feature);
    result.Text.Append(L" must use the Windows Hypervisor Platform, or have all of those turned off and Windows "
                       L"restarted.");
    AppendBasis(result, Values, {Flag}, &Hypervisor);
    return result;
}

Verdict VirtualMachine(const wchar_t* Id, std::wstring_view Feature, const Report& Values, ReportFlag Flag,
                       const HypervisorFacts& Hypervisor)
{
    Verdict result = Make(Id, {L"Windows runs as a virtual machine under ", HypervisorDisplayName(Hypervisor)});
    if (IsSet(Values, Flag)) {
        result.Text.Append(L", which passes ");
        result.Text.Append(Feature);
        result.Text.Append(L" through to it (nested virtualization): hypervisors inside this virtual machine can use "
                           L"it as far as the host allows. Firmware settings are the host's, not this machine's.");
    } else {
        result.Text.Append(L", which does not pass ");
        result.Text.Append(Feature);
        result.Text.Append(L" through to it. To run virtual machines inside it, turn on nested virtualization for "
                           L"this virtual machine on its host; this machine's firmware settings are not the "
                           L"cause.");
    }
    AppendBasis(result, Values, {Flag}, &Hypervisor);
    return result;
}

Verdict Intel(const Report& Values, const HypervisorFacts& Hypervisor)
{
    using enum ReportFlag;
    if (Missing(Values, {CpuVt})) {
        return Incomplete(Values);
    }
    const Host host = HostOf(Hypervisor);
    if (!IsSet(Values, CpuVt)) {
        if (host == Host::HyperVRoot) {
            return HiddenByHyperV(L"vmx-hidden-by-hyper-v", L"VT-x", Values, CpuVt, Hypervisor);
        }
        if (host == Host::Guest) {
            return VirtualMachine(L"vmx-virtual-machine", L"VT-x", Values, CpuVt, Hypervisor);
        }
        Verdict result = Make(L"vmx-unsupported",
                              {L"This processor does not offer VT-x (VMX), and no hypervisor hides it: virtual "
                               L"machines that need hardware virtualization cannot run here. No firmware setting "
                               L"changes that."});
        AppendBasis(result, Values, {CpuVt}, &Hypervisor);
        return result;
    }
    // In use: the feature-control bits can only have allowed it.
    if (Values[Cr4Vmxe].Present && IsSet(Values, Cr4Vmxe)) {
        Verdict result = Make(L"vmx-in-use",
                              {L"VT-x is enabled, and another hypervisor already uses it in this Windows "
                               L"(CR4.VMXE is set): VMware, VirtualBox or an Android emulator may be running. Only "
                               L"one can use VT-x at a time; close the others or use the Windows Hypervisor "
                               L"Platform."});
        AppendBasis(result, Values, {CpuVt, Cr4Vmxe});
        return result;
    }
    if (host == Host::Guest) {
        return VirtualMachine(L"vmx-virtual-machine", L"VT-x", Values, CpuVt, Hypervisor);
    }
    if (Missing(Values, {BiosLock, VmOutsideSmx})) {
        return Incomplete(Values);
    }
    if (!IsSet(Values, BiosLock)) {
        Verdict result = Make(L"vmx-unlocked",
                              {L"Firmware left VT-x control unlocked (IA32_FEATURE_CONTROL is not locked): the "
                               L"first hypervisor to start enables and locks it, so VT-x is normally usable. If "
                               L"virtual machines still report VT-x as unavailable, enable \"Intel Virtualization "
                               L"Technology\" in firmware setup."});
        AppendBasis(result, Values, {CpuVt, BiosLock});
        return result;
    }
    if (!IsSet(Values, VmOutsideSmx)) {
        Verdict result = Make(L"vmx-disabled-in-firmware",
                              {L"VT-x is disabled in firmware setup: enable \"Intel Virtualization Technology\" "
                               L"(VT-x) there, save, and power the machine off and on."});
        AppendBasis(result, Values, {CpuVt, BiosLock, VmOutsideSmx});
        return result;
    }
    Verdict result = Make(L"vmx-enabled", {L"VT-x is enabled by firmware and ready for virtual machines."});
    AppendBasis(result, Values, {CpuVt, BiosLock, VmOutsideSmx});
    return result;
}

Verdict Amd(const Report& Values, const HypervisorFacts& Hypervisor)
{
    using enum ReportFlag;
    if (Missing(Values, {Svm})) {
        return Incomplete(Values);
    }
    const Host host = HostOf(Hypervisor);
    if (!IsSet(Values, Svm)) {
        if (host == Host::HyperVRoot) {
            return HiddenByHyperV(L"svm-hidden-by-hyper-v", L"AMD-V (SVM)", Values, Svm, Hypervisor);
        }
        if (host == Host::Guest) {
            return VirtualMachine(L"svm-virtual-machine", L"AMD-V (SVM)", Values, Svm, Hypervisor);
        }
        Verdict result = Make(L"svm-unsupported",
                              {L"This processor does not offer AMD-V (SVM), and no hypervisor hides it: virtual "
                               L"machines that need hardware virtualization cannot run here. No firmware setting "
                               L"changes that."});
        AppendBasis(result, Values, {Svm}, &Hypervisor);
        return result;
    }
    Verdict result;
    if (host == Host::Guest) {
        result = VirtualMachine(L"svm-virtual-machine", L"AMD-V (SVM)", Values, Svm, Hypervisor);
    } else if (Missing(Values, {VmCr})) {
        return Incomplete(Values);
    } else if (!IsSet(Values, VmCr)) {
        result = Make(L"svm-disabled-in-firmware",
                      {L"AMD-V is disabled in firmware setup: enable \"SVM Mode\" there, save, and power the "
                       L"machine off and on."});
        AppendBasis(result, Values, {Svm, VmCr});
    } else {
        result = Make(L"svm-enabled", {L"AMD-V (SVM) is enabled by firmware and ready for virtual machines."});
        AppendBasis(result, Values, {Svm, VmCr});
    }
    // Nested paging is a property of SVM: its leaf means nothing without it.
    if (Values[SvmNp].Present) {
        result.Text.Append(IsSet(Values, SvmNp)
                               ? L" Nested paging (RVI) is supported."
                               : L" Nested paging (RVI) is not supported: Hyper-V and current VMware and "
                                 L"VirtualBox releases need it.");
        AppendBasis(result, Values, {SvmNp});
    }
    return result;
}

}  // namespace

Verdict DecideVerdict(const Report& Values, const HypervisorFacts& Hypervisor)
{
    if (!Values.KeyPresent || !Values.VendorPresent) {
        return Make(L"no-report",
                    {L"No report yet: HKLM\\Software\\Korimath holds no processor values. Run \"korimath run\" "
                     L"from a command prompt opened with \"Run as administrator\"."});
    }
    if (Values.Vendor.View() == L"GenuineIntel") {
        return Intel(Values, Hypervisor);
    }
    if (Values.Vendor.View() == L"AuthenticAMD") {
        return Amd(Values, Hypervisor);
    }
    return Make(L"other-vendor", {L"Not checked for this vendor: korimath reads the virtualization registers of "
                                  L"\"GenuineIntel\" and \"AuthenticAMD\" processors only. [CPU_Vendor=",
                                  Values.Vendor.View(), L"]"});
}
