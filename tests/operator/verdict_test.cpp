// The verdict for every kind of report, host and Windows: one table, one row a case.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "operator/verdict.h"

namespace {

// CPUID as the hypervisors below answer it: leaf 1 ECX bit 31, the vendor
// texts at 0x40000000 (and 0x40000100) and Hyper-V's privileges in 0x40000003.
std::map<std::uint32_t, CpuidRegisters> Leaves;

CpuidRegisters Query(std::uint32_t Leaf)
{
    return Leaves.count(Leaf) != 0 ? Leaves[Leaf] : CpuidRegisters{};
}

CpuidRegisters VendorLeaf(std::uint32_t Max, const char* Vendor)
{
    std::uint32_t text[3] = {};
    std::memcpy(text, Vendor, std::strlen(Vendor));
    return CpuidRegisters{Max, text[0], text[1], text[2]};
}

// Hyper-V's privilege bits (0x40000003 EBX): CreatePartitions, CpuManagement, Isolation.
constexpr std::uint32_t Root = 0x2E7F | 0x1000, NestedL1vh = 0x2E7F, Isolated = Root | 0x400000;

HypervisorFacts Hypervisor(const char* Vendor, std::uint32_t Privileges = 0, const char* Second = nullptr,
                           std::uint32_t MaxLeaf = 0x4000000B)
{
    Leaves.clear();
    if (Vendor != nullptr) {
        Leaves[1].Ecx = 1U << 31;
        Leaves[0x40000000] = VendorLeaf(MaxLeaf, Vendor);
        Leaves[0x40000003].Ebx = Privileges;
        if (Second != nullptr) {
            Leaves[0x40000100] = VendorLeaf(0x40000101, Second);
        }
    }
    return ReadHypervisorFacts(Query);
}

using enum ReportFlag;

Report Values(const wchar_t* Vendor, std::initializer_list<std::pair<ReportFlag, unsigned long>> Flags)
{
    Report report;
    report.KeyPresent = report.VendorPresent = report.NamePresent = true;
    report.Vendor.Append(Vendor);
    report.Name.Append(L"Some Processor");
    for (const auto& [flag, value] : Flags) {
        report[flag] = FlagValue{true, value};
    }
    return report;
}

Report Intel(unsigned long Vt = 1, unsigned long Lock = 1, unsigned long Outside = 1, unsigned long Vmxe = 0)
{
    return Values(L"GenuineIntel", {{CpuVt, Vt}, {BiosLock, Lock}, {VmInSmx, 0}, {VmOutsideSmx, Outside},
                                    {Cr0Ne, 1}, {Cr0Pe, 1}, {Cr0Pg, 1}, {Cr4Vmxe, Vmxe}});
}

Report Amd(unsigned long Svm, unsigned long Np, unsigned long VmCr)
{
    return Values(L"AuthenticAMD", {{ReportFlag::Svm, Svm}, {SvmNp, Np}, {ReportFlag::VmCr, VmCr}});
}

Report Without(Report Values, ReportFlag Flag)
{
    Values[Flag] = FlagValue{};
    return Values;
}

// A machine as the program gathers it: Windows' flags only without a hypervisor.
MachineFacts On(const Report& Values, const HypervisorFacts& Host, bool WindowsEnabled = true, bool Slat = true,
                const std::function<void(MachineFacts&)>& Also = nullptr)
{
    MachineFacts facts;
    facts.Values = Values;
    facts.Processor.Vendor.Append(Values.Vendor.View());
    facts.Processor.Brand.Append(Values.Name.View());
    facts.Hypervisor = Host;
    facts.Windows.Meaningful = !Host.Present;
    facts.Windows.FirmwareEnabled = facts.Windows.Meaningful && WindowsEnabled;
    facts.Windows.Slat = facts.Windows.Meaningful && Slat;
    facts.Windows.MemoryIntegrityKnown = true;
    if (Also) {
        Also(facts);
    }
    return facts;
}

auto System(const wchar_t* Manufacturer, const wchar_t* Product)
{
    return [=](MachineFacts& Facts) {
        Facts.System.Present = true;
        Facts.System.Manufacturer.Append(Manufacturer);
        Facts.System.Product.Append(Product);
    };
}

void MemoryIntegrityOn(MachineFacts& Facts)
{
    Facts.Windows.MemoryIntegrityRunning = true;
}

auto DriverFailed(unsigned long Error)
{
    return [=](MachineFacts& Facts) { Facts.Driver = DriverLoad{true, Error}; };
}

struct Row {
    const char* Case;
    MachineFacts Facts;
    std::wstring Id;
    std::vector<std::wstring> Says;    // each must appear in the text; "^..." must begin it
    std::vector<std::wstring> Denies;  // none may appear
};

const HypervisorFacts BareMetal = Hypervisor(nullptr);

std::vector<Row> Rows()
{
    const HypervisorFacts root = Hypervisor("Microsoft Hv", Root);
    const HypervisorFacts kvm = Hypervisor("KVMKVMKVM");
    return {
        {"intel enabled, SLAT", On(Intel(), BareMetal), L"vmx-enabled",
         {L"enabled by firmware", L"[CPU_VT=1, BIOSLock=1, VMOutSideSMX=1]", L"SLAT (EPT) is present",
          L"[PF_SECOND_LEVEL_ADDRESS_TRANSLATION=1]"},
         {L"disagrees", L"lacks SLAT"}},
        {"intel enabled, no SLAT", On(Intel(), BareMetal, true, false), L"vmx-enabled",
         {L"lacks SLAT (EPT): Hyper-V cannot use it"}, {}},
        {"intel enabled, Windows disagrees", On(Intel(), BareMetal, false), L"vmx-enabled",
         {L"Windows' own view disagrees: it reports virtualization not enabled", L"[PF_VIRT_FIRMWARE_ENABLED=0]"},
         {}},
        {"intel disabled in firmware", On(Intel(1, 1, 0), BareMetal, false), L"vmx-disabled-in-firmware",
         {L"firmware setup", L"[CPU_VT=1, BIOSLock=1, VMOutSideSMX=0]"}, {L"disagrees"}},
        {"intel disabled in firmware, Windows disagrees", On(Intel(1, 1, 0), BareMetal, true),
         L"vmx-disabled-in-firmware", {L"disagrees: it reports virtualization enabled"}, {}},
        {"intel unlocked", On(Intel(1, 0, 0), BareMetal, false), L"vmx-unlocked",
         {L"VMXON faults until software sets its lock and enable bits", L"Some hypervisors set them",
          L"others refuse to start", L"sure fix", L"[CPU_VT=1, BIOSLock=0]", L"SLAT"},
         {}},
        {"intel in use by another hypervisor", On(Intel(1, 1, 1, 1), BareMetal), L"vmx-in-use",
         {L"already uses it", L"[CPU_VT=1, CR4_VMXE=1]"}, {}},
        {"intel without vmx on bare metal", On(Intel(0, 0, 0), BareMetal, false), L"vmx-unsupported",
         {L"does not offer VT-x", L"[CPU_VT=0]"}, {L"firmware setup", L"disagrees"}},
        {"intel without vmx, Windows disagrees", On(Intel(0, 0, 0), BareMetal, true), L"vmx-unsupported",
         {L"disagrees: it reports virtualization enabled"}, {}},
        {"hidden by hyper-v, memory integrity on", On(Intel(0, 0, 0), root, true, true, MemoryIntegrityOn),
         L"vmx-hidden-by-hyper-v",
         {L"^Memory integrity is on", L"Core isolation", L"enabled and in use", L"WSL 2", L"Windows Sandbox",
          L"Windows Hypervisor Platform",
          L"[CPU_VT=0, hypervisor=Microsoft Hv, root partition, memory integrity on]"},
         {L"does not offer", L"PF_"}},
        {"hidden by hyper-v, memory integrity off", On(Intel(0, 0, 0), root), L"vmx-hidden-by-hyper-v",
         {L"memory integrity off]"}, {L"Memory integrity is on"}},
        {"nested (L1VH) partition is a guest", On(Intel(0, 0, 0), Hypervisor("Microsoft Hv", NestedL1vh)),
         L"vmx-virtual-machine", {L"under Microsoft Hyper-V,", L"[CPU_VT=0, hypervisor=Microsoft Hv]"},
         {L"root partition"}},
        {"isolated partition is a guest", On(Intel(0, 0, 0), Hypervisor("Microsoft Hv", Isolated)),
         L"vmx-virtual-machine", {}, {}},
        {"kvm behind hyper-v's interface", On(Intel(0, 0, 0), Hypervisor("Microsoft Hv", Root, "KVMKVMKVM")),
         L"vmx-virtual-machine", {L"under KVM (with Hyper-V enlightenments),", L"identity=KVMKVMKVM"},
         {L"root partition", L"Microsoft Hyper-V"}},
        {"hyper-v leaf beyond the hypervisor's range is not read",
         On(Intel(0, 0, 0), Hypervisor("Microsoft Hv", Root, nullptr, 0x40000001)), L"vmx-virtual-machine", {}, {}},
        {"the privileges leaf is Hyper-V's alone", On(Intel(0, 0, 0), Hypervisor("VBoxVBoxVBox", Root)),
         L"vmx-virtual-machine", {L"under VirtualBox,", L"does not pass VT-x"}, {L"root partition"}},
        {"intel guest of xen with nested vmx", On(Intel(1, 0, 0), Hypervisor("XenVMMXenVMM")), L"vmx-virtual-machine",
         {L"under Xen,", L"passes VT-x", L"[CPU_VT=1, hypervisor=XenVMMXenVMM]"}, {}},
        {"in use, checked before the guest", On(Intel(1, 0, 0, 1), Hypervisor("VMwareVMware")), L"vmx-in-use", {}, {}},
        {"hidden hypervisor, firmware names QEMU",
         On(Intel(0, 0, 0), BareMetal, false, false, System(L"QEMU", L"Standard PC (Q35 + ICH9, 2009)")),
         L"vmx-hidden-virtual-machine", {L"hides itself", L"QEMU \"Standard PC", L"system=QEMU"},
         {L"does not offer VT-x"}},
        {"intel without CPU_VT", On(Without(Intel(), CpuVt), BareMetal), L"incomplete-report", {L"GenuineIntel"}, {}},
        {"intel without CR4_VMXE", On(Without(Intel(), Cr4Vmxe), BareMetal), L"incomplete-report", {}, {}},
        {"intel without BIOSLock", On(Without(Intel(), BiosLock), BareMetal), L"incomplete-report", {}, {}},
        {"intel without VMOutSideSMX", On(Without(Intel(), VmOutsideSmx), BareMetal), L"incomplete-report", {}, {}},
        {"amd enabled with nested paging", On(Amd(1, 1, 1), BareMetal), L"svm-enabled",
         {L"enabled by firmware", L"[SVM=1, VM_CR=1]", L"Nested paging (RVI) is supported. [SVM_NP=1]"},
         {L"SLAT", L"disagrees"}},
        {"amd enabled without nested paging, Windows disagrees", On(Amd(1, 0, 1), BareMetal, false), L"svm-enabled",
         {L"is not supported", L"[SVM_NP=0]", L"disagrees"}, {}},
        {"amd disabled in firmware", On(Amd(1, 1, 0), BareMetal, false), L"svm-disabled-in-firmware",
         {L"SVM Mode", L"[SVM=1, VM_CR=0]"}, {L"disagrees"}},
        {"amd without svm: nested paging means nothing", On(Amd(0, 1, 0), BareMetal, false), L"svm-unsupported",
         {L"does not offer AMD-V", L"[SVM=0]"}, {L"Nested paging", L"SVM_NP"}},
        {"amd hidden by hyper-v root", On(Amd(0, 0, 0), root), L"svm-hidden-by-hyper-v",
         {L"AMD-V (SVM) is enabled and in use", L"[SVM=0, hypervisor=Microsoft Hv, root partition"}, {L"SVM_NP"}},
        {"amd guest of vmware with nested svm", On(Amd(1, 1, 0), Hypervisor("VMwareVMware")), L"svm-virtual-machine",
         {L"under VMware,", L"passes AMD-V", L"[SVM_NP=1]"}, {L"SVM Mode"}},
        {"amd, hidden hypervisor, VirtualBox's firmware",
         On(Amd(0, 0, 0), BareMetal, false, false, System(L"innotek GmbH", L"VirtualBox")),
         L"svm-hidden-virtual-machine", {L"innotek GmbH \"VirtualBox\""}, {}},
        {"amd without SVM", On(Without(Amd(1, 1, 1), Svm), BareMetal), L"incomplete-report", {}, {}},
        {"amd without VM_CR", On(Without(Amd(1, 1, 1), VmCr), BareMetal), L"incomplete-report", {}, {}},
        {"amd without SVM_NP", On(Without(Amd(1, 1, 1), SvmNp), BareMetal), L"incomplete-report", {}, {}},
        {"hygon", On(Values(L"HygonGenuine", {}), BareMetal, true), L"other-vendor",
         {L"Hygon processors offer AMD-V", L"does not read their registers",
          L"Windows reports hardware virtualization enabled", L"[CPU_Vendor=HygonGenuine, PF_VIRT_FIRMWARE_ENABLED=1]"},
         {}},
        {"other vendor under a hypervisor", On(Values(L"CentaurHauls", {}), kvm), L"other-vendor",
         {L"Not checked for this vendor", L"[CPU_Vendor=CentaurHauls]"}, {L"Windows reports"}},
        {"vendor case matters", On(Values(L"genuineintel", {{CpuVt, 1}}), BareMetal), L"other-vendor", {}, {}},
        {"no report key", On(Report{}, BareMetal), L"no-report", {L"korimath run", L"Run as administrator"}, {}},
        {"key without values", On([] { Report key; key.KeyPresent = true; return key; }(), kvm), L"no-report", {}, {}},
        {"stale: written before this boot",
         On(Intel(0, 0, 0), BareMetal, true, true,
            [](MachineFacts& Facts) {
                Facts.Freshness.Known = true;
                Facts.Freshness.ThisBoot = false;
                Facts.Freshness.WrittenUtc.Append(L"2026-01-02T03:04:05Z");
            }),
         L"stale-report",
         {L"before Windows last started", L"Fast Startup", L"korimath run", L"[written=2026-01-02T03:04:05Z"},
         {L"does not offer", L"another processor"}},
        {"stale: another processor",
         On(Amd(1, 1, 1), BareMetal, true, true,
            [](MachineFacts& Facts) {
                Facts.Freshness.MatchesProcessor = false;
                Facts.Processor.Vendor.Clear();
                Facts.Processor.Vendor.Append(L"GenuineIntel");
            }),
         L"stale-report", {L"names another processor (AuthenticAMD \"Some Processor\"; this one is GenuineIntel"},
         {L"before Windows"}},
        {"windows on arm", On(Intel(), BareMetal, true, true, [](MachineFacts& Facts) { Facts.NativeX64 = false; }),
         L"not-x64-processor", {L"not an x64 processor", L"cannot load", L"not checked"}, {}},
        {"no driver, Windows says enabled", On(Report{}, BareMetal, true, true, DriverFailed(577)),
         L"windows-view-enabled",
         {L"enabled in firmware, and SLAT present", L"firmware lock bits were not read",
          L"[driver error=577, PF_VIRT_FIRMWARE_ENABLED=1, PF_SECOND_LEVEL_ADDRESS_TRANSLATION=1]"},
         {}},
        {"no driver, Windows says disabled", On(Intel(), BareMetal, false, false, DriverFailed(1275)),
         L"windows-view-disabled", {L"not enabled in firmware", L"\"Intel Virtualization Technology\""}, {}},
        {"no driver, root partition", On(Amd(0, 0, 0), root, true, true, DriverFailed(577)), L"driver-not-loaded",
         {L"root partition of Microsoft's hypervisor, which uses AMD-V", L"in use"}, {L"PF_"}},
        {"no driver, guest of an unnamed hypervisor", On(Report{}, Hypervisor("NewVisor"), true, true, DriverFailed(577)),
         L"driver-not-loaded", {L"virtual machine under NewVisor;", L"[driver error=577, hypervisor=NewVisor]"}, {}},
    };
}

TEST(Verdict, EveryRow)
{
    for (const Row& row : Rows()) {
        const Verdict verdict = DecideVerdict(row.Facts);
        const std::wstring text(verdict.Text.View());
        EXPECT_EQ(std::wstring(verdict.Id), row.Id) << row.Case;
        EXPECT_FALSE(verdict.Text.Truncated) << row.Case;
        for (const std::wstring& says : row.Says) {
            const bool first = says.front() == L'^';  // must begin the text
            const std::wstring expected = first ? says.substr(1) : says;
            const std::size_t at = text.find(expected);
            EXPECT_TRUE(first ? at == 0 : at != std::wstring::npos)
                << row.Case << ": lacks \"" << std::string(expected.begin(), expected.end()) << "\" in "
                << std::string(text.begin(), text.end());
        }
        for (const std::wstring& unexpected : row.Denies) {
            EXPECT_EQ(text.find(unexpected), std::wstring::npos) << row.Case;
        }
    }
}

}  // namespace
