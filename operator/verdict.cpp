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

// VT-x or AMD-V, the flag that reports it, and the ids of the verdicts
// that depend on the hypervisor beneath Windows.
struct VirtualizationFeature {
    std::wstring_view Name;
    ReportFlag Flag;
    const wchar_t* HiddenId;
    const wchar_t* GuestId;
    const wchar_t* UnsupportedId;
};
constexpr VirtualizationFeature IntelVtx{L"VT-x", ReportFlag::CpuVt, L"vmx-hidden-by-hyper-v", L"vmx-virtual-machine",
                           L"vmx-unsupported"};
constexpr VirtualizationFeature AmdV{L"AMD-V (SVM)", ReportFlag::Svm, L"svm-hidden-by-hyper-v", L"svm-virtual-machine",
                       L"svm-unsupported"};

// Windows itself runs on Microsoft's hypervisor, which hides VMX or SVM from it.
Verdict HiddenByHyperV(const VirtualizationFeature& Feature, const Report& Values, const HypervisorFacts& Hypervisor)
{
    const std::wstring_view name = Feature.Name;
    Verdict result = Make(Feature.HiddenId, {name});
    result.Text.Append(L" is enabled and in use: Windows itself runs on Microsoft's hypervisor, which owns ");
    result.Text.Append(name);
    result.Text.Append(L" and hides it from Windows. No firmware change is needed. Hyper-V, WSL 2, Windows Sandbox, "
                       L"Virtual Machine Platform and memory integrity (Core isolation) each start that "
                       L"hypervisor. Programs that need ");
    result.Text.Append(name);
    result.Text.Append(L" must use the Windows Hypervisor Platform, or have all of those turned off and Windows "
                       L"restarted.");
    AppendBasis(result, Values, {Feature.Flag}, &Hypervisor);
    return result;
}

Verdict VirtualMachine(const VirtualizationFeature& Feature, const Report& Values, const HypervisorFacts& Hypervisor)
{
    Verdict result =
        Make(Feature.GuestId, {L"Windows runs as a virtual machine under ", HypervisorDisplayName(Hypervisor)});
    if (IsSet(Values, Feature.Flag)) {
        result.Text.Append(L", which passes ");
        result.Text.Append(Feature.Name);
        result.Text.Append(L" through to it (nested virtualization): hypervisors inside this virtual machine can use "
                           L"it as far as the host allows. Firmware settings are the host's, not this machine's.");
    } else {
        result.Text.Append(L", which does not pass ");
        result.Text.Append(Feature.Name);
        result.Text.Append(L" through to it. To run virtual machines inside it, turn on nested virtualization for "
                           L"this virtual machine on its host; this machine's firmware settings are not the "
                           L"cause.");
    }
    AppendBasis(result, Values, {Feature.Flag}, &Hypervisor);
    return result;
}

// The processor reports no VMX or SVM to Windows: hidden by Hyper-V, not
// passed to this virtual machine, or absent.
Verdict NotReported(const VirtualizationFeature& Feature, const Report& Values, const HypervisorFacts& Hypervisor)
{
    switch (HostOf(Hypervisor)) {
    case Host::HyperVRoot:
        return HiddenByHyperV(Feature, Values, Hypervisor);
    case Host::Guest:
        return VirtualMachine(Feature, Values, Hypervisor);
    case Host::BareMetal:
        break;
    }
    Verdict result = Make(Feature.UnsupportedId, {L"This processor does not offer ", Feature.Name});
    result.Text.Append(L", and no hypervisor hides it: virtual machines that need hardware virtualization cannot "
                       L"run here. No firmware setting changes that.");
    AppendBasis(result, Values, {Feature.Flag}, &Hypervisor);
    return result;
}

Verdict Intel(const Report& Values, const HypervisorFacts& Hypervisor)
{
    using enum ReportFlag;
    if (Missing(Values, {CpuVt})) {
        return Incomplete(Values);
    }
    if (!IsSet(Values, CpuVt)) {
        return NotReported(IntelVtx, Values, Hypervisor);
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
    if (HostOf(Hypervisor) == Host::Guest) {
        return VirtualMachine(IntelVtx, Values, Hypervisor);
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
    if (!IsSet(Values, Svm)) {
        return NotReported(AmdV, Values, Hypervisor);
    }
    Verdict result;
    if (HostOf(Hypervisor) == Host::Guest) {
        result = VirtualMachine(AmdV, Values, Hypervisor);
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
