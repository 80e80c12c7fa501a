// The verdict for every kind of report and host: one table, one row a case.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "operator/verdict.h"

namespace {

// CPUID as the hypervisors below answer it: leaf 1 ECX bit 31, the vendor
// text in EBX, ECX, EDX of 0x40000000 and Hyper-V's privileges in 0x40000003.
std::map<std::uint32_t, CpuidRegisters> Leaves;

CpuidRegisters Query(std::uint32_t Leaf)
{
    return Leaves.count(Leaf) != 0 ? Leaves[Leaf] : CpuidRegisters{};
}

HypervisorFacts Hypervisor(const char* Vendor, bool Root = false, std::uint32_t MaxLeaf = 0x4000000B)
{
    Leaves.clear();
    if (Vendor != nullptr) {
        std::uint32_t text[3] = {};
        std::memcpy(text, Vendor, std::strlen(Vendor));
        Leaves[1].Ecx = 1U << 31;
        Leaves[0x40000000] = CpuidRegisters{MaxLeaf, text[0], text[1], text[2]};
        Leaves[0x40000003].Ebx = Root ? 0x2E7FU : 0x2E7EU;  // bit 0 only differs
    }
    return ReadHypervisorFacts(Query);
}

Report Values(const wchar_t* Vendor, std::initializer_list<std::pair<ReportFlag, unsigned long>> Flags)
{
    Report report;
    report.KeyPresent = true;
    report.VendorPresent = true;
    report.Vendor.Append(Vendor);
    report.NamePresent = true;
    report.Name.Append(L"Some Processor");
    for (const auto& [flag, value] : Flags) {
        report[flag] = FlagValue{true, value};
    }
    return report;
}

using enum ReportFlag;

Report IntelEnabled(unsigned long Vt = 1, unsigned long Lock = 1, unsigned long Outside = 1, unsigned long Vmxe = 0)
{
    return Values(L"GenuineIntel", {{CpuVt, Vt}, {BiosLock, Lock}, {VmInSmx, 0}, {VmOutsideSmx, Outside},
                                    {Cr0Ne, 1}, {Cr0Pe, 1}, {Cr0Pg, 1}, {Cr4Vmxe, Vmxe}});
}

Report Amd(unsigned long Svm, unsigned long Np, unsigned long VmCr)
{
    return Values(L"AuthenticAMD", {{ReportFlag::Svm, Svm}, {SvmNp, Np}, {ReportFlag::VmCr, VmCr}});
}

Report KeyOnly()
{
    Report report;
    report.KeyPresent = true;
    return report;
}

struct Row {
    const char* Case;
    Report Values;
    HypervisorFacts Host;
    std::wstring Id;
    std::vector<std::wstring> Says;    // each must appear in the text
    std::vector<std::wstring> Denies;  // none may appear
};

std::vector<Row> Rows()
{
    return {
        {"intel enabled", IntelEnabled(), Hypervisor(nullptr), L"vmx-enabled",
         {L"enabled by firmware", L"[CPU_VT=1, BIOSLock=1, VMOutSideSMX=1]"}, {L"disabled"}},
        {"intel disabled in firmware", IntelEnabled(1, 1, 0), Hypervisor(nullptr), L"vmx-disabled-in-firmware",
         {L"firmware setup", L"[CPU_VT=1, BIOSLock=1, VMOutSideSMX=0]"}, {}},
        {"intel unlocked", IntelEnabled(1, 0, 0), Hypervisor(nullptr), L"vmx-unlocked",
         {L"unlocked", L"first hypervisor", L"[CPU_VT=1, BIOSLock=0]"}, {}},
        {"intel in use by another hypervisor", IntelEnabled(1, 1, 1, 1), Hypervisor(nullptr), L"vmx-in-use",
         {L"already uses it", L"[CPU_VT=1, CR4_VMXE=1]"}, {}},
        {"intel in use inside a guest", IntelEnabled(1, 0, 0, 1), Hypervisor("VMwareVMware"), L"vmx-in-use", {}, {}},
        {"intel without vmx on bare metal", IntelEnabled(0, 0, 0), Hypervisor(nullptr), L"vmx-unsupported",
         {L"does not offer VT-x", L"[CPU_VT=0]"}, {L"firmware setup"}},
        {"intel hidden by hyper-v root", IntelEnabled(0, 0, 0), Hypervisor("Microsoft Hv", true),
         L"vmx-hidden-by-hyper-v",
         {L"enabled and in use", L"Hyper-V", L"WSL 2", L"Windows Sandbox", L"memory integrity",
          L"Windows Hypervisor Platform", L"[CPU_VT=0, hypervisor=Microsoft Hv, root partition]"},
         {L"does not offer"}},
        {"intel guest of hyper-v", IntelEnabled(0, 0, 0), Hypervisor("Microsoft Hv", false),
         L"vmx-virtual-machine", {L"under Microsoft Hyper-V", L"nested virtualization", L"[CPU_VT=0, hypervisor=Microsoft Hv]"},
         {L"root partition"}},
        {"hyper-v leaf beyond the hypervisor's range is not read", IntelEnabled(0, 0, 0),
         Hypervisor("Microsoft Hv", true, 0x40000001), L"vmx-virtual-machine", {}, {}},
        {"intel guest of vmware", IntelEnabled(0, 0, 0), Hypervisor("VMwareVMware"), L"vmx-virtual-machine",
         {L"under VMware,", L"does not pass VT-x"}, {}},
        {"intel guest of kvm with nested vmx", IntelEnabled(1, 0, 0), Hypervisor("KVMKVMKVM"),
         L"vmx-virtual-machine", {L"under KVM,", L"passes VT-x", L"[CPU_VT=1, hypervisor=KVMKVMKVM]"}, {}},
        {"the privileges leaf is Hyper-V's alone", IntelEnabled(0, 0, 0), Hypervisor("KVMKVMKVM", true),
         L"vmx-virtual-machine", {L"under KVM,"}, {L"root partition"}},
        {"intel guest of xen", IntelEnabled(0, 0, 0), Hypervisor("XenVMMXenVMM"), L"vmx-virtual-machine",
         {L"under Xen,"}, {}},
        {"intel guest of virtualbox", IntelEnabled(0, 0, 0), Hypervisor("VBoxVBoxVBox"), L"vmx-virtual-machine",
         {L"under VirtualBox,"}, {}},
        {"intel guest of an unknown hypervisor", IntelEnabled(0, 0, 0), Hypervisor("NewVisor"),
         L"vmx-virtual-machine", {L"under NewVisor,"}, {}},
        {"intel report without its flags", Values(L"GenuineIntel", {}), Hypervisor(nullptr), L"incomplete-report",
         {L"GenuineIntel"}, {}},
        {"intel report without the msr flags", Values(L"GenuineIntel", {{CpuVt, 1}}), Hypervisor(nullptr),
         L"incomplete-report", {}, {}},
        {"amd enabled with nested paging", Amd(1, 1, 1), Hypervisor(nullptr), L"svm-enabled",
         {L"enabled by firmware", L"[SVM=1, VM_CR=1]", L"Nested paging (RVI) is supported. [SVM_NP=1]"}, {}},
        {"amd enabled without nested paging", Amd(1, 0, 1), Hypervisor(nullptr), L"svm-enabled",
         {L"is not supported", L"[SVM_NP=0]"}, {}},
        {"amd disabled in firmware", Amd(1, 1, 0), Hypervisor(nullptr), L"svm-disabled-in-firmware",
         {L"SVM Mode", L"[SVM=1, VM_CR=0]"}, {}},
        {"amd without svm: nested paging means nothing", Amd(0, 1, 0), Hypervisor(nullptr), L"svm-unsupported",
         {L"does not offer AMD-V", L"[SVM=0]"}, {L"Nested paging", L"SVM_NP"}},
        {"amd hidden by hyper-v root", Amd(0, 0, 0), Hypervisor("Microsoft Hv", true), L"svm-hidden-by-hyper-v",
         {L"AMD-V (SVM) is enabled and in use", L"Hyper-V", L"[SVM=0, hypervisor=Microsoft Hv, root partition]"},
         {L"SVM_NP"}},
        {"amd guest of kvm", Amd(0, 0, 0), Hypervisor("KVMKVMKVM"), L"svm-virtual-machine",
         {L"under KVM,", L"does not pass AMD-V"}, {L"SVM_NP"}},
        {"amd guest of hyper-v with nested svm", Amd(1, 1, 0), Hypervisor("Microsoft Hv"), L"svm-virtual-machine",
         {L"passes AMD-V", L"[SVM_NP=1]"}, {L"SVM Mode"}},
        {"amd report without VM_CR", Values(L"AuthenticAMD", {{Svm, 1}}), Hypervisor(nullptr),
         L"incomplete-report", {}, {}},
        {"other vendor", Values(L"HygonGenuine", {}), Hypervisor(nullptr), L"other-vendor",
         {L"Not checked for this vendor", L"[CPU_Vendor=HygonGenuine]"}, {}},
        {"vendor case matters", Values(L"genuineintel", {{CpuVt, 1}}), Hypervisor(nullptr), L"other-vendor", {}, {}},
        {"no report key", Report{}, Hypervisor(nullptr), L"no-report", {L"korimath run", L"Run as administrator"},
         {}},
        {"key without values", KeyOnly(), Hypervisor("KVMKVMKVM"), L"no-report", {}, {}},
    };
}

TEST(Verdict, EveryRow)
{
    for (const Row& row : Rows()) {
        const Verdict verdict = DecideVerdict(row.Values, row.Host);
        const std::wstring text(verdict.Text.View());
        EXPECT_EQ(std::wstring(verdict.Id), row.Id) << row.Case;
        EXPECT_FALSE(verdict.Text.Truncated) << row.Case;
        for (const std::wstring& expected : row.Says) {
            EXPECT_NE(text.find(expected), std::wstring::npos)
                << row.Case << ": lacks \"" << std::string(expected.begin(), expected.end()) << "\"";
        }
        for (const std::wstring& unexpected : row.Denies) {
            EXPECT_EQ(text.find(unexpected), std::wstring::npos) << row.Case;
        }
    }
}

}  // namespace
