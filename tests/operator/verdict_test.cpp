// The verdict for every class of machine, one table: each row is decided
// from what user mode reads alone (report found none), with the driver's
// fresh report (run loaded it), and with the driver refused (run could not).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "operator/decisions/json_report.h"
#include "operator/decisions/what_runs.h"

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
constexpr std::uint32_t CreatePartitions = 1, CpuManagement = 0x1000, Isolation = 0x400000;
constexpr std::uint32_t Root = 0x2E7F | CpuManagement, NestedL1vh = 0x2E7F;

HypervisorFacts Hypervisor(const char* Vendor, std::uint32_t Privileges = 0, const char* Second = nullptr,
                           std::uint32_t MaxLeaf = 0x4000000B, std::uint32_t SecondMax = 0x40000101)
{
    Leaves.clear();
    if (Vendor != nullptr) {
        Leaves[1].Ecx = 1U << 31;
        Leaves[0x40000000] = VendorLeaf(MaxLeaf, Vendor);
        Leaves[0x40000003].Ebx = Privileges;
        if (Second != nullptr) {
            Leaves[0x40000100] = VendorLeaf(SecondMax, Second);
        }
    }
    return ReadHypervisorFacts(Query);
}

TEST(Hypervisor, PrivilegeBitsAndASecondInterface)
{
    const struct { std::uint32_t Privileges; bool Root, Nested; } bits[] = {
        {0, false, false}, {CreatePartitions, false, true}, {CpuManagement, false, false}, {Isolation, false, false},
        {CreatePartitions | CpuManagement, true, false}, {CreatePartitions | CpuManagement | Isolation, false, false},
        {CreatePartitions | Isolation, false, false}, {0xFFFFFFFF & ~(CreatePartitions | Isolation), false, false}};
    for (const auto& row : bits) {
        const HypervisorFacts facts = Hypervisor("Microsoft Hv", row.Privileges);
        EXPECT_TRUE(facts.RootPartition == row.Root && facts.NestedRoot == row.Nested) << std::hex << row.Privileges;
    }
    // 0x40000003 only within Hyper-V's range; 0x40000100 only where it names a leaf of its own range and another vendor.
    const struct {
        const char *Case, *Vendor;
        std::uint32_t MaxLeaf;
        const char* Second;
        std::uint32_t SecondMax;
        const wchar_t* Identity;  // empty: Windows stays the root; "-": it is not, whatever the identity
    } rows[] = {
        {"the privileges leaf is the range's last", "Microsoft Hv", 0x40000003, nullptr, 0, L""},
        {"the privileges leaf beyond the range", "Microsoft Hv", 0x40000002, nullptr, 0, L"-"},
        {"the privileges leaf is Hyper-V's alone", "VBoxVBoxVBox", 0x4000000B, nullptr, 0, L"-"},
        {"KVM behind Hyper-V's interface", "Microsoft Hv", 0x4000000B, "KVMKVMKVM", 0x40000101, L"KVMKVMKVM"},
        {"the second range's first leaf as its highest", "Microsoft Hv", 0x4000000B, "KVMKVMKVM", 0x40000100, L""},
        {"a highest leaf past the second range", "Microsoft Hv", 0x4000000B, "KVMKVMKVM", 0x40000200, L""},
        {"garbage for a highest leaf", "Microsoft Hv", 0x4000000B, "KVMKVMKVM", 0x12345678, L""},
        {"Hyper-V named again", "Microsoft Hv", 0x4000000B, "Microsoft Hv", 0x40000101, L""},
        {"an empty second vendor", "Microsoft Hv", 0x4000000B, "", 0x40000101, L""},
    };
    for (const auto& row : rows) {
        const HypervisorFacts facts = Hypervisor(row.Vendor, Root, row.Second, row.MaxLeaf, row.SecondMax);
        const bool root = std::wstring_view(row.Identity).empty();
        EXPECT_TRUE(facts.RootPartition == root && (root || row.Identity == std::wstring_view(L"-") ||
                                                    facts.Identity.View() == row.Identity))
            << row.Case;
    }
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

Report Intel(unsigned long Vt, unsigned long Lock = 1, unsigned long Outside = 1, unsigned long InSmx = 0,
             unsigned long Vmxe = 0)
{
    return Values(L"GenuineIntel", {{CpuVt, Vt}, {BiosLock, Lock}, {VmInSmx, InSmx}, {VmOutsideSmx, Outside},
                                    {Cr0Ne, 1}, {Cr0Pe, 1}, {Cr0Pg, 1}, {Cr4Vmxe, Vmxe}});
}

Report Amd(unsigned long Svm, unsigned long VmCr, unsigned long Np = 1)
{
    return Values(L"AuthenticAMD", {{ReportFlag::Svm, Svm}, {SvmNp, Np}, {ReportFlag::VmCr, VmCr}});
}

// What CPUID says now: the vendor, VMX/SMX, SVM and nested paging, the family.
struct Processor {
    const wchar_t* Vendor;
    bool Vmx, Svm, NestedPaging = true;
    unsigned Family = 6;
};

// A machine as the program gathers it; Windows' flags only without a hypervisor.
MachineFacts On(const Processor& Cpu, const HypervisorFacts& Host, bool WindowsEnabled = true, bool Slat = true,
                const std::function<void(MachineFacts&)>& Also = nullptr)
{
    MachineFacts facts;
    facts.Processor.Vendor.Append(Cpu.Vendor);
    facts.Processor.Brand.Append(L"Some Processor");
    facts.Cpu = CpuidFeatures{Cpu.Vmx, false, Cpu.Family, true, Cpu.Svm, Cpu.Svm, Cpu.Svm && Cpu.NestedPaging};
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

struct Row {
    const char* Case;
    MachineFacts Facts;    // what user mode reads
    Report Written;        // what the driver writes here (none: no report)
    std::wstring Id;       // from user mode alone, and with the driver refused
    std::wstring Refined;  // with the driver's report; empty: the same id, nothing refined
    std::wstring Blocker;  // what stops it, for fleets' one boolean; empty: ready
    std::vector<std::wstring> Says;    // in this order in the refined text; "^..." must begin it
    std::vector<std::wstring> Denies;  // in neither text
};

const HypervisorFacts BareMetal = Hypervisor(nullptr);
const Processor IntelVmx{L"GenuineIntel", true, false}, IntelNoVmx{L"GenuineIntel", false, false};
const Processor Zen{L"AuthenticAMD", false, true, true, 0x19}, ZenNoNp{L"AuthenticAMD", false, true, false, 0x19};
const Processor ZenHidden{L"AuthenticAMD", false, false, false, 0x19};
const std::wstring Firmware = L"firmware-disabled", NoNesting = L"host-does-not-pass-through";

std::vector<Row> Rows()
{
    const HypervisorFacts root = Hypervisor("Microsoft Hv", Root);
    const auto integrityOn = [](MachineFacts& Facts) { Facts.Windows.MemoryIntegrityRunning = true; };
    const std::wstring qemu = L"Standard PC (Q35 + ICH9, 2009)";
    return {
        {"intel enabled, SLAT", On(IntelVmx, BareMetal), Intel(1), L"vmx-enabled", L"", L"",
         {L"^VT-x is enabled by firmware", L"[CPU_VT=1, BIOSLock=1, VMInSMX=0, VMOutSideSMX=1]", L"SLAT (EPT) is present",
          L"[PF_SECOND_LEVEL_ADDRESS_TRANSLATION=1]"},
         {L"disagrees", L"missing", L"set aside"}},
        {"intel enabled, no SLAT", On(IntelVmx, BareMetal, true, false), Intel(1), L"vmx-enabled", L"", L"",
         {L"SLAT (EPT) is missing: Hyper-V, WSL 2, Windows Sandbox and memory integrity all need it",
          L"[PF_SECOND_LEVEL_ADDRESS_TRANSLATION=0]"},
         {}},
        {"intel disabled in firmware", On(IntelVmx, BareMetal, false), Intel(1, 1, 0), L"vmx-disabled-in-firmware", L"",
         Firmware,
         {L"\"Intel Virtualization Technology\"", L"Vanderpool", L"VT-d is a different switch",
          L"shut down fully and start again: only a power-up reset clears", L"a restart is not enough",
          L"Fast Startup resumes the old kernel session", L"\"shutdown /s /t 0\"", L"\"korimath firmware-setup\"",
          L"VMOutSideSMX=0]"},
         {L"disagrees", L"CR4.VMXE is set"}},
        {"intel disabled, Windows saw it enabled at boot", On(IntelVmx, BareMetal, true), Intel(1, 1, 0),
         L"vmx-enabled", L"vmx-disabled-in-firmware", Firmware, {L"disagrees: it reports virtualization enabled"}, {}},
        {"intel unlocked", On(IntelVmx, BareMetal, false), Intel(1, 0, 0), L"vmx-disabled-in-firmware", L"vmx-unlocked",
         L"firmware-unlocked",
         {L"VMXON faults until software sets its lock and enable bits", L"others refuse to start", L"sure fix",
          L"[CPU_VT=1, BIOSLock=0, CR4_VMXE=0]"},
         {L"~SLAT"}},
        {"intel TXT only", On(IntelVmx, BareMetal, false), Intel(1, 1, 0, 1), L"vmx-disabled-in-firmware",
         L"vmx-txt-only", Firmware, {L"only inside SMX", L"TXT", L"VMInSMX=1, VMOutSideSMX=0]"}, {}},
        {"intel TXT and outside SMX", On(IntelVmx, BareMetal), Intel(1, 1, 1, 1), L"vmx-enabled", L"", L"",
         {L"VMInSMX=1, VMOutSideSMX=1]"}, {L"only inside SMX"}},
        {"intel in use by another hypervisor", On(IntelVmx, BareMetal), Intel(1, 1, 1, 0, 1), L"vmx-enabled",
         L"vmx-in-use", L"", {L"already uses it", L"[CPU_VT=1, BIOSLock=1, VMOutSideSMX=1, CR4_VMXE=1]"}, {}},
        {"CR4.VMXE set, VMXON not allowed", On(IntelVmx, BareMetal, false), Intel(1, 1, 0, 0, 1),
         L"vmx-disabled-in-firmware", L"", Firmware,
         {L"^VT-x is disabled", L"CR4.VMXE is set, but IA32_FEATURE_CONTROL allows no VMXON outside SMX"}, {L"already uses"}},
        {"intel without vmx", On(IntelNoVmx, BareMetal, false), Intel(0, 0, 0), L"vmx-unsupported", L"",
         L"processor-unsupported", {L"does not offer VT-x", L"[CPUID VMX=0, PF_VIRT_FIRMWARE_ENABLED=0]"},
         {L"firmware setup", L"driver"}},
        {"hidden after boot", On(IntelNoVmx, BareMetal, true), Intel(0, 0, 0), L"vmx-hidden-after-boot", L"",
         L"hidden-after-boot", {L"enabled in firmware when it started, but CPUID no longer reports it", L"Restart Windows"},
         {L"does not offer"}},
        {"amd enabled, nested paging", On(Zen, BareMetal), Amd(1, 1), L"svm-enabled", L"", L"",
         {L"^AMD-V is enabled by firmware", L"[SVM=1, VM_CR=1]", L"Nested paging (RVI, AMD's SLAT) is present",
          L"[CPUID NP=1]"},
         {L"disagrees", L"PF_SECOND"}},
        {"amd enabled, no nested paging", On(ZenNoNp, BareMetal), Amd(1, 1, 0), L"svm-enabled", L"", L"",
         {L"is missing: Hyper-V, WSL 2", L"[CPUID NP=0]"}, {}},
        {"amd disabled in firmware", On(Zen, BareMetal, false), Amd(1, 0), L"svm-disabled-in-firmware", L"", Firmware,
         {L"\"SVM Mode\"", L"\"AMD-V\"", L"shut down fully", L"[SVM=1, VM_CR=0]"}, {L"IA32_FEATURE_CONTROL"}},
        {"zen 3 with svm hidden", On(ZenHidden, BareMetal, false), Amd(0, 0, 0), L"svm-hidden", L"", Firmware,
         {L"AMD processor of family 17h (Zen) and later implements AMD-V", L"\"SVM Mode\"", L"family=19h]"},
         {L"does not offer", L"Hygon"}},
        {"the first zen, svm hidden", On({L"AuthenticAMD", false, false, false, 0x17}, BareMetal, false), Amd(0, 0, 0),
         L"svm-hidden", L"", Firmware, {L"family=17h]"}, {}},
        {"hygon, neither feature shown", On({L"HygonGenuine", false, false, false, 0x18}, BareMetal, false), Report{},
         L"svm-hidden", L"", Firmware, {L"Every Hygon processor (family 18h, built on AMD's Zen)", L"CPUID SVM=0"},
         {L"AMD processor of", L"VT-x"}},
        {"older amd without svm", On({L"AuthenticAMD", false, false, false, 0x16}, BareMetal, false), Amd(0, 0, 0),
         L"svm-unsupported", L"", L"processor-unsupported", {L"does not offer AMD-V"}, {}},
        {"hyper-v root, memory integrity on", On(IntelNoVmx, root, true, true, integrityOn), Intel(0, 0, 0),
         L"vmx-hidden-by-hyper-v", L"", L"",
         {L"^VT-x is enabled, and in use by Windows' own hypervisor", L"hypervisor run here: WSL 2, Windows Sandbox",
          L"with the Windows Hypervisor Platform feature on, the Android Emulator, VMware Workstation 15.5.5",
          L"keeps every protection", L"cost of this machine's protection", L"bcdedit /set hypervisorlaunchtype off",
          L"hypervisorlaunchtype auto", L"[CPUID VMX=0, hypervisor=Microsoft Hv, root partition, memory integrity on]"},
         {L"PF_", L"firmware setup"}},
        {"hyper-v root with VMX shown is never ready", On(IntelVmx, root), Intel(1), L"vmx-hidden-by-hyper-v", L"", L"",
         {L"memory integrity off]"}, {L"ready for virtual machines"}},
        {"amd hyper-v root", On({L"AuthenticAMD", false, false}, root), Amd(0, 0, 0), L"svm-hidden-by-hyper-v", L"", L"",
         {L"^AMD-V is enabled, and in use"}, {}},
        {"nested root (L1VH)", On(IntelNoVmx, Hypervisor("Microsoft Hv", NestedL1vh)), Intel(0, 0, 0),
         L"vmx-nested-root", L"", L"",
         {L"nested root partition", L"so WSL 2, Windows Sandbox and Hyper-V", L"need not be turned on",
          L"nested root partition]"},
         {L"turn on nested virtualization for"}},
        {"hyper-v guest without nesting", On(IntelNoVmx, Hypervisor("Microsoft Hv")), Intel(0, 0, 0),
         L"vmx-virtual-machine", L"", NoNesting,
         {L"under Microsoft Hyper-V, which does not pass VT-x", L"-ExposeVirtualizationExtensions $true"}, {}},
        {"vmware passes vt-x", On(IntelVmx, Hypervisor("VMwareVMware")), Intel(1, 0, 0, 0, 1), L"vmx-virtual-machine",
         L"", L"", {L"under VMware, which passes VT-x through to it (nested virtualization)"}, {L"already uses"}},
        {"kvm with nested svm", On(Zen, Hypervisor("KVMKVMKVM")), Amd(1, 0), L"svm-virtual-machine", L"", L"",
         {L"under KVM, which passes AMD-V", L"[CPUID SVM=1, hypervisor=KVMKVMKVM]", L"Nested paging (RVI"},
         {L"SVM Mode"}},
        {"kvm passes svm without nested paging", On(ZenNoNp, Hypervisor("KVMKVMKVM")), Amd(1, 0), L"svm-virtual-machine",
         L"", L"", {L"which passes AMD-V", L"Nested paging (RVI, AMD's SLAT) is missing"}, {}},
        {"kvm behind hyper-v's interface", On(IntelNoVmx, Hypervisor("Microsoft Hv", Root, "KVMKVMKVM")),
         Intel(0, 0, 0), L"vmx-virtual-machine", L"", NoNesting,
         {L"under KVM (with Hyper-V enlightenments),", L"kvm_intel (kvm_amd on AMD) with nested=1", L"identity=KVMKVMKVM"},
         {L"root partition"}},
        {"hyper-v interface, firmware names QEMU",
         On(IntelNoVmx, Hypervisor("Microsoft Hv"), true, true, System(L"QEMU", qemu.c_str())), Intel(0, 0, 0),
         L"vmx-virtual-machine", L"", NoNesting, {L"under QEMU (with Hyper-V enlightenments), which", L"-cpu host"}, {}},
        {"xen guest, amd", On({L"AuthenticAMD", false, false}, Hypervisor("XenVMMXenVMM")), Amd(0, 0, 0),
         L"svm-virtual-machine", L"", NoNesting, {L"under Xen, which does not pass AMD-V", L"nestedhvm=1"}, {}},
        {"a hypervisor without a vendor text", On(IntelNoVmx, Hypervisor("")), Intel(0, 0, 0), L"vmx-virtual-machine",
         L"", NoNesting, {L"under an unnamed hypervisor, which does not pass VT-x"}, {}},
        {"a hypervisor korimath does not know", On(IntelNoVmx, Hypervisor("Zzzz")), Intel(0, 0, 0),
         L"vmx-virtual-machine", L"", NoNesting, {L"under Zzzz, which does not pass VT-x"}, {}},
        {"bhyve offers no nesting", On(IntelNoVmx, Hypervisor("bhyve bhyve ")), Intel(0, 0, 0), L"vmx-virtual-machine",
         L"", L"host-offers-no-nesting", {L"bhyve offers its guests no nested virtualization"}, {L"turn on"}},
        {"hidden hypervisor, firmware names QEMU",
         On(IntelNoVmx, BareMetal, false, false, System(L"QEMU", qemu.c_str())), Intel(0, 0, 0),
         L"vmx-hidden-virtual-machine", L"", NoNesting, {L"hides itself", L"QEMU \"Standard PC", L"system=QEMU"},
         {L"does not offer VT-x", L"firmware setup"}},
        {"a third vendor with VMX", On({L"CentaurHauls", true, false}, BareMetal), Report{}, L"vmx-enabled", L"", L"",
         {L"VT-x is enabled", L"reads the firmware's registers of \"GenuineIntel\" and \"AuthenticAMD\""}, {L"SVM"}},
        {"hygon with svm", On({L"HygonGenuine", false, true, true, 0x18}, BareMetal, false), Report{},
         L"svm-disabled-in-firmware", L"", Firmware, {L"\"SVM Mode\"", L"\"AuthenticAMD\" processors only"}, {}},
        {"an intel mac, unlocked", On(IntelVmx, BareMetal, false, true, System(L"Apple Inc.", L"MacBookPro15,1")),
         Intel(1, 0, 0), L"vmx-disabled-in-firmware", L"vmx-unlocked", L"firmware-unlocked",
         {L"This is a Mac", L"startup disk", L"not for one chosen with Option"}, {L"korimath firmware-setup", L"Vanderpool"}},
        {"windows on arm", On(IntelVmx, BareMetal, true, true, [](MachineFacts& Facts) { Facts.NativeX64 = false; }),
         Report{}, L"not-x64-processor", L"", L"not-x64", {L"not an x64 processor", L"not checked"}, {}},
    };
}

// The ids the driver's flags may move between: one class and one feature.
bool Refines(const std::wstring& From, const std::wstring& To)
{
    const std::set<std::wstring> intel = {L"vmx-enabled", L"vmx-disabled-in-firmware", L"vmx-unlocked",
                                          L"vmx-txt-only", L"vmx-in-use"};
    const std::set<std::wstring> amd = {L"svm-enabled", L"svm-disabled-in-firmware"};
    return From == To || (intel.count(From) != 0 && intel.count(To) != 0) || (amd.count(From) != 0 && amd.count(To) != 0);
}

std::string Narrow(const std::wstring& Text)
{
    return {Text.begin(), Text.end()};
}

// Every rule the fleet files ship: its setting and Intune's data type for it.
std::vector<std::pair<std::wstring, std::wstring>> ShippedRules()
{
    std::vector<std::pair<std::wstring, std::wstring>> rules;
    for (const char* name : {"korimath-compliance.json", "korimath-compliance-wsl2.json"}) {
        std::wifstream file(std::string(KORIMATH_SOURCE_DIR) + "/dist/fleet/" + name);
        const std::wstring text((std::istreambuf_iterator<wchar_t>(file)), {});
        const std::wregex rule(LR"re("SettingName": "(\w+)",\s*"Operator": "\w+",\s*"DataType": "(\w+)")re");
        for (auto it = std::wsregex_iterator(text.begin(), text.end(), rule); it != std::wsregex_iterator(); ++it) {
            rules.emplace_back((*it)[1], (*it)[2]);
        }
    }
    return rules;
}

TEST(Verdict, EveryMachineWithAndWithoutTheDriver)
{
    const auto rules = ShippedRules();
    ASSERT_GE(rules.size(), 14U);
    for (const Row& row : Rows()) {
        MachineFacts refused = row.Facts;
        refused.Driver = DriverLoad{true, true, 577};
        MachineFacts loaded = row.Facts;
        loaded.Values = row.Written;
        loaded.Driver = DriverLoad{true, false, 0};
        const Verdict alone = DecideVerdict(row.Facts), withoutDriver = DecideVerdict(refused);
        const Verdict refined = DecideVerdict(loaded);
        const std::wstring expected = row.Refined.empty() ? row.Id : row.Refined;
        EXPECT_TRUE(alone.Id == row.Id && withoutDriver.Id == row.Id && refined.Id == expected) << row.Case;
        EXPECT_TRUE(Refines(row.Id, expected)) << row.Case << ": the driver moved it to another class";
        EXPECT_FALSE(alone.RefinedByDriver || withoutDriver.RefinedByDriver) << row.Case;
        const std::wstring text(refined.Text.View());
        std::size_t from = 0;
        for (const std::wstring& says : row.Says) {
            const bool first = says.front() == L'^';
            const std::size_t at = text.find(first ? says.substr(1) : says, from);
            EXPECT_TRUE(first ? at == 0 : at != std::wstring::npos)
                << row.Case << ": lacks \"" << Narrow(says) << "\" after position " << from << " in " << Narrow(text);
            from = at == std::wstring::npos ? from : at;
        }
        for (const std::wstring& unexpected : row.Denies) {  // "~...": in the refined text only
            const bool refinedOnly = unexpected.front() == L'~';
            EXPECT_TRUE(text.find(unexpected.substr(refinedOnly)) == std::wstring::npos &&
                        (refinedOnly || alone.Text.View().find(unexpected) == std::wstring::npos))
                << row.Case << ": " << Narrow(unexpected);
        }
        EXPECT_EQ(refined.SlatMissing, text.find(L"is missing: Hyper-V") != std::wstring::npos) << row.Case;
        EXPECT_FALSE(refined.Text.Truncated) << row.Case;
        const wchar_t* blocker = Blocker(loaded, refined);
        EXPECT_EQ(std::wstring(blocker != nullptr ? blocker : L""), row.Blocker) << row.Case;
        EXPECT_EQ(CheckExitCode(loaded, refined), row.Blocker.empty() ? 0 : 1) << row.Case;
        const std::wstring line(CheckLine(loaded, refined).View());
        EXPECT_EQ(line.find(L": not ready (" + row.Blocker + L"): ") != std::wstring::npos, !row.Blocker.empty())
            << row.Case << ": " << Narrow(line);
        EXPECT_GT(line.size(), row.Blocker.empty() ? 0 : expected.size() + row.Blocker.size() + 30) << "with its step";
        // Intune answers a value of another type than the rule's with error 65010: never null, never a number.
        const std::wstring json(FormatJsonReport(loaded, refined, Outcome{}).View());
        for (const auto& [setting, type] : rules) {
            const std::size_t at = json.find(L"\"" + setting + L"\":");
            const wchar_t value = at == std::wstring::npos ? L'?' : json[at + setting.size() + 3];
            EXPECT_TRUE(type == L"Boolean" ? value == L't' || value == L'f' : type == L"String" && value == L'"')
                << row.Case << ": " << Narrow(setting);
        }
    }
}

// Bare metal with a driver that reads this vendor: what the report adds, or why it was set aside.
TEST(Verdict, WhatTheReportAddsOrWhyItIsSetAside)
{
    const auto stale = [](bool ThisBoot) {
        return [=](MachineFacts& Facts) {
            Facts.Values = Intel(1, 0, 0);
            Facts.Freshness = {true, ThisBoot, ThisBoot, {}};
            Facts.Freshness.WrittenUtc.Append(L"2026-01-02T03:04:05Z");
        };
    };
    const struct { const char* Case; MachineFacts Facts; std::wstring Id; bool Refined; std::wstring Says; } rows[] = {
        {"no report", On(IntelVmx, BareMetal, false), L"vmx-disabled-in-firmware", false,
         L"\"korimath run\" from an elevated prompt adds what only its driver reads: IA32_FEATURE_CONTROL"},
        {"driver refused", On(IntelVmx, BareMetal, false, true, [](MachineFacts& F) { F.Driver = {true, true, 577}; }),
         L"vmx-disabled-in-firmware", false, L"could not load, so IA32_FEATURE_CONTROL's lock and enable bits and "
                                             L"CR4.VMXE were not read; this verdict rests on CPUID and Windows' view. "
                                             L"[driver error=577]"},
        {"a fresh report refines", On(IntelVmx, BareMetal, false, true, stale(true)), L"vmx-unlocked", true, L""},
        {"stale by boot", On(IntelVmx, BareMetal, false, true, stale(false)), L"vmx-disabled-in-firmware", false,
         L"written before Windows last started (with Fast Startup"},
        {"stale by processor, written when not known", On(IntelVmx, BareMetal, false, true, [&](MachineFacts& F) {
             stale(true)(F);
             F.Freshness.MatchesProcessor = F.Freshness.Known = false;
         }),
         L"vmx-disabled-in-firmware", false, L"is about another processor, so its values were set aside; \"korimath run\" "
                                             L"from an elevated prompt writes a fresh one. [CPU_Vendor=GenuineIntel"},
        {"fresh, but CPUID changed since",
         On(IntelNoVmx, BareMetal, true, true, [](MachineFacts& F) { F.Values = Intel(1); }), L"vmx-hidden-after-boot",
         false, L"[CPUID VMX=0, PF_VIRT_FIRMWARE_ENABLED=1] [CPU_VT=1]"},
        {"a fresh report saw it enabled, CPUID hides it now",
         On(IntelNoVmx, BareMetal, false, true, [](MachineFacts& F) { F.Values = Intel(1); }), L"vmx-hidden-after-boot",
         false, L"korimath's driver found VT-x enabled this boot, but CPUID no longer reports it"},
        {"a fresh report saw VT-x turned off by firmware, CPUID hides it now",
         On(IntelNoVmx, BareMetal, false, true, [](MachineFacts& F) { F.Values = Intel(1, 1, 0); }),
         L"vmx-disabled-in-firmware", false, L"found the processor offering it this boot, turned off by the firmware"},
        {"hyper-v root, a report from before it hid VT-x",
         On(IntelNoVmx, Hypervisor("Microsoft Hv", Root), true, true, [](MachineFacts& F) { F.Values = Intel(1); }),
         L"vmx-hidden-by-hyper-v", false, L"offered it, and CPUID no longer does: something changed since it was "
                                          L"written (a hypervisor now hides it), so its values were set aside"},
        {"a report that did not see VT-x, CPUID shows it now",
         On(IntelVmx, BareMetal, true, true, [](MachineFacts& F) { F.Values = Intel(0); }), L"vmx-enabled", false,
         L"did not offer it, and CPUID now does: something changed since it was written (a hypervisor that hid it is"},
        {"incomplete", On(IntelVmx, BareMetal, true, true, [](MachineFacts& F) { F.Values = Values(L"GenuineIntel", {{CpuVt, 1}}); }),
         L"vmx-enabled", false, L"lacks values the verdict needs"},
        {"amd: VM_CR", On(Zen, BareMetal, false), L"svm-disabled-in-firmware", false, L"adds what only its driver "
                                                                                       L"reads: VM_CR.SVMDIS."},
        {"amd, driver refused", On(Zen, BareMetal, false, true, [](MachineFacts& F) { F.Driver = {true, true, 5}; }),
         L"svm-disabled-in-firmware", false, L"so VM_CR.SVMDIS was not read"},
    };
    for (const auto& row : rows) {
        const Verdict verdict = DecideVerdict(row.Facts);
        EXPECT_TRUE(verdict.Id == row.Id && verdict.RefinedByDriver == row.Refined) << row.Case;
        EXPECT_NE(std::wstring(verdict.Text.View()).find(row.Says), std::wstring::npos)
            << row.Case << ": " << Narrow(std::wstring(verdict.Text.View()));
    }
}

}  // namespace
