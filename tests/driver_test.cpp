// The driver on simulated machines: one table of processors and kernels, each
// with the exact report it must leave and the order of its reads and writes.
// Every load also runs the machine's fault checks: no #GP, no bad free, no
// leaked buffer, no write before the unload routine is set, no write to
// another key, and an unload that calls nothing.
#include <gtest/gtest.h>

#include "tests/sim/machine.h"

namespace {

using Report = std::map<std::string, std::string>;

constexpr ULONG Vmx = 1U << 5;
constexpr ULONG Smx = 1U << 6;
constexpr ULONG Svm = 1U << 2;
constexpr ULONG FeatureControl = 0x3A;
constexpr ULONG VmCr = 0xC0010114;
constexpr ULONG64 LongModeCr0 = 0x80050033;  // PE, NE, PG as 64-bit Windows runs
const std::string Brand = std::string("Simulated Processor") + std::string(29, '\0');

const std::string Identity = "cpuid 0|cpuid 80000002|cpuid 80000003|cpuid 80000004|write CPU_Vendor|write CPU_Name";
const std::string IntelWrites = "write CPU_VT|write BIOSLock|write VMInSMX|write VMOutSideSMX|write CR0_NE|"
                                "write CR0_PE|write CR0_PG|write CR4_VMXE";
const std::string IntelLog = Identity + "|cpuid 1|rdmsr 3A|cr0|cr4|" + IntelWrites;
const std::string AmdLog = Identity + "|cpuid 80000001|write SVM|cpuid 8000000A|write SVM_NP|rdmsr C0010114|write VM_CR";

struct Case {
    const char* Name;
    std::string Vendor = "GenuineIntel";
    std::string BrandText = Brand;
    ULONG Leaf1Ecx = 0, ExtendedEcx = 0, SvmEdx = 0;
    std::map<ULONG, ULONG64> Msrs;
    std::set<ULONG> Refused;
    ULONG64 Cr0 = LongModeCr0, Cr4 = 0;
    std::set<std::string> FailingWrites;
    bool FailConversion = false;
    Report Expected;
    std::string Log = IntelLog;  // reads and writes, in order
};

Report Intel(int Vt, int Lock, int InSmx, int OutSmx, int Vmxe, const std::string& Name = "Simulated Processor")
{
    return {{"CPU_Vendor", "sz GenuineIntel"}, {"CPU_Name", "sz " + Name},  {"CPU_VT", "dword " + std::to_string(Vt)},
            {"BIOSLock", "dword " + std::to_string(Lock)},   {"VMInSMX", "dword " + std::to_string(InSmx)},
            {"VMOutSideSMX", "dword " + std::to_string(OutSmx)}, {"CR0_NE", "dword 1"},
            {"CR0_PE", "dword 1"},  {"CR0_PG", "dword 1"},  {"CR4_VMXE", "dword " + std::to_string(Vmxe)}};
}

Report Amd(int Svm, int Np, int Allowed)
{
    return {{"CPU_Vendor", "sz AuthenticAMD"}, {"CPU_Name", "sz Simulated Processor"},
            {"SVM", "dword " + std::to_string(Svm)}, {"SVM_NP", "dword " + std::to_string(Np)},
            {"VM_CR", "dword " + std::to_string(Allowed)}};
}

std::vector<Case> Cases()
{
    const std::string noVmCr = Identity + "|cpuid 80000001|write SVM|cpuid 8000000A|write SVM_NP|write VM_CR";
    Report peClear = Intel(1, 1, 0, 1, 0);
    peClear["CR0_PE"] = "dword 0";
    return {
        {.Name = "intel, vmx enabled and locked by firmware, a hypervisor running", .Leaf1Ecx = Vmx,
         .Msrs = {{FeatureControl, 0x5}}, .Cr4 = 0x3726F8, .Expected = Intel(1, 1, 0, 1, 1)},
        {.Name = "intel, locked with vmx disabled", .Leaf1Ecx = Vmx | Smx, .Msrs = {{FeatureControl, 0x1}},
         .Expected = Intel(1, 1, 0, 0, 0)},
        {.Name = "intel: each flag its own bit, every other bit set", .Leaf1Ecx = ~Smx,
         .Msrs = {{FeatureControl, ~0x2ULL}}, .Cr0 = ~1ULL, .Cr4 = ~0x2000ULL, .Expected = peClear},
        {.Name = "intel with smx alone reads the msr", .Leaf1Ecx = Smx, .Msrs = {{FeatureControl, 0x3}},
         .Expected = Intel(0, 1, 1, 0, 0)},
        {.Name = "intel without vmx or smx: no msr to read", .Leaf1Ecx = ~(Vmx | Smx), .Expected = Intel(0, 0, 0, 0, 0),
         .Log = Identity + "|cpuid 1|cr0|cr4|" + IntelWrites},
        {.Name = "intel guest whose hypervisor refuses the msr", .Leaf1Ecx = Vmx, .Refused = {FeatureControl},
         .Expected = Intel(1, 0, 0, 0, 0)},
        {.Name = "amd with svm allowed by firmware", .Vendor = "AuthenticAMD", .ExtendedEcx = Svm, .SvmEdx = 1,
         .Msrs = {{VmCr, ~0x10ULL}}, .Expected = Amd(1, 1, 1), .Log = AmdLog},
        {.Name = "amd with svm disabled by firmware", .Vendor = "AuthenticAMD", .ExtendedEcx = Svm,
         .Msrs = {{VmCr, 0x10}}, .Expected = Amd(1, 0, 0), .Log = AmdLog},
        {.Name = "amd without svm: no VM_CR, nested paging as the leaf says", .Vendor = "AuthenticAMD",
         .ExtendedEcx = ~Svm, .SvmEdx = 1, .Expected = Amd(0, 1, 0), .Log = noVmCr},
        {.Name = "amd: each flag its own bit, every other bit set", .Vendor = "AuthenticAMD", .ExtendedEcx = ~0U,
         .SvmEdx = ~1U, .Msrs = {{VmCr, ~0x10ULL}}, .Expected = Amd(1, 0, 1), .Log = AmdLog},
        {.Name = "amd guest whose hypervisor refuses VM_CR", .Vendor = "AuthenticAMD", .ExtendedEcx = Svm,
         .Refused = {VmCr}, .Expected = Amd(1, 0, 0), .Log = AmdLog},
        {.Name = "another vendor gets the two texts", .Vendor = "HygonGenuine", .Leaf1Ecx = Vmx,
         .Expected = {{"CPU_Vendor", "sz HygonGenuine"}, {"CPU_Name", "sz Simulated Processor"}}, .Log = Identity},
        {.Name = "a vendor in other letter case is another vendor", .Vendor = "GenuineIntEL",
         .Expected = {{"CPU_Vendor", "sz GenuineIntEL"}, {"CPU_Name", "sz Simulated Processor"}}, .Log = Identity},
        {.Name = "a NUL among the vendor bytes ends the text", .Vendor = std::string("Genu\0neIntel", 12),
         .Expected = {{"CPU_Vendor", "sz Genu"}, {"CPU_Name", "sz Simulated Processor"}}, .Log = Identity},
        {.Name = "brand blocks join up to each NUL, spaces kept",
         .BrandText = std::string("  Core\0xxxxxxxxx", 16) + std::string(16, '\0') + std::string("i9 CPU  \0yyyyyyy", 16),
         .Leaf1Ecx = Vmx, .Msrs = {{FeatureControl, 0x5}}, .Expected = Intel(1, 1, 0, 1, 0, "  Corei9 CPU  ")},
        {.Name = "a 48-character brand without NUL", .BrandText = std::string(48, 'B'), .Leaf1Ecx = Vmx,
         .Msrs = {{FeatureControl, 0x5}}, .Expected = Intel(1, 1, 0, 1, 0, std::string(48, 'B'))},
        {.Name = "an empty brand is the NUL alone", .Vendor = "AuthenticAMD", .BrandText = std::string(48, '\0'),
         .Expected = {{"CPU_Vendor", "sz AuthenticAMD"}, {"CPU_Name", "sz "}, {"SVM", "dword 0"},
                      {"SVM_NP", "dword 0"}, {"VM_CR", "dword 0"}},
         .Log = noVmCr},
        {.Name = "every write refused: the driver still loads", .Leaf1Ecx = Vmx, .Msrs = {{FeatureControl, 0x5}},
         .FailingWrites = {"*"}},
        {.Name = "one write refused leaves that value missing", .Vendor = "AuthenticAMD", .ExtendedEcx = Svm,
         .Msrs = {{VmCr, 0}}, .FailingWrites = {"SVM"},
         .Expected = {{"CPU_Vendor", "sz AuthenticAMD"}, {"CPU_Name", "sz Simulated Processor"},
                      {"SVM_NP", "dword 0"}, {"VM_CR", "dword 1"}},
         .Log = AmdLog},
        {.Name = "no memory for the UTF-16 texts: nothing written or freed for them", .Vendor = "AuthenticAMD",
         .FailConversion = true, .Expected = {{"SVM", "dword 0"}, {"SVM_NP", "dword 0"}, {"VM_CR", "dword 0"}},
         .Log = "cpuid 0|cpuid 80000002|cpuid 80000003|cpuid 80000004|cpuid 80000001|write SVM|cpuid 8000000A|"
                "write SVM_NP|write VM_CR"},
    };
}

void Build(const Case& Row)
{
    sim::Reset();
    sim::Machine& machine = sim::Current();
    sim::SetIdentity(machine, Row.Vendor, Row.BrandText);
    machine.Cpuid[1].Ecx = Row.Leaf1Ecx;
    machine.Cpuid[0x80000001].Ecx = Row.ExtendedEcx;
    machine.Cpuid[0x8000000A].Edx = Row.SvmEdx;
    machine.Msrs = Row.Msrs;
    machine.RefusedMsrs = Row.Refused;
    machine.Cr0 = Row.Cr0;
    machine.Cr4 = Row.Cr4;
    machine.FailingWrites = Row.FailingWrites;
    machine.FailConversion = Row.FailConversion;
}

std::string Joined(const std::vector<std::string>& Entries)
{
    std::string joined;
    for (const std::string& entry : Entries) {
        joined += (joined.empty() ? "" : "|") + entry;
    }
    return joined;
}

void ExpectSoundLoad(const std::string& What)
{
    EXPECT_TRUE(sim::Current().Faults.empty()) << What << ": " << Joined(sim::Current().Faults);
    EXPECT_TRUE(sim::Current().LiveBuffers.empty()) << What << ": UTF-16 buffer leaked";
}

TEST(Driver, EveryMachine)
{
    for (const Case& row : Cases()) {
        Build(row);
        EXPECT_EQ(sim::LoadAndUnload(), STATUS_SUCCESS) << row.Name;
        EXPECT_EQ(sim::Current().Report, row.Expected) << row.Name;
        EXPECT_EQ(Joined(sim::Current().Log), row.Log) << row.Name;
        ExpectSoundLoad(row.Name);
    }
    sim::Reset();
}

}  // namespace
