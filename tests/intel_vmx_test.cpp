// Intel flags: each from its own bit, IA32_FEATURE_CONTROL read only where it
// exists, every read before the first flag is written.
#include <random>

#include "probe/intel_vmx.h"
#include "tests/harness.h"

namespace {

using harness::DriverTest;
using IntelVmxTest = DriverTest;

constexpr ULONG Vmx = 1U << 5;
constexpr ULONG Smx = 1U << 6;
constexpr ULONG FeatureControl = 0x3A;

// What a 64-bit Windows kernel runs with: PE, NE, PG set.
constexpr ULONG64 LongModeCr0 = 0x80050033;

TEST_F(IntelVmxTest, EveryReadComesBeforeTheFirstWrite)
{
    sim::Current().Cpu.Cpuid[1].Ecx = Vmx;
    sim::Current().Cpu.Msrs[FeatureControl] = 0x5;
    ProbeIntelVmx();
    EXPECT_EQ(sim::Current().Log,
              (std::vector<std::string>{"cpuid 0x1", "rdmsr 0x3A", "read cr0", "read cr4", "write CPU_VT",
                                        "write BIOSLock", "write VMInSMX", "write VMOutSideSMX", "write CR0_NE",
                                        "write CR0_PE", "write CR0_PG", "write CR4_VMXE"}));
}

TEST_F(IntelVmxTest, WithoutVmxOrSmxTheMsrIsNotReadAndItsFlagsAreZero)
{
    sim::Current().Cpu.Cpuid[1].Ecx = ~(Vmx | Smx);
    sim::Current().Cpu.Cr0 = LongModeCr0;
    ProbeIntelVmx();  // reading MSR 0x3A here would be a #GP: a fault is recorded
    EXPECT_TRUE(harness::LogEntries("rdmsr").empty());
    for (const char* name : {"CPU_VT", "BIOSLock", "VMInSMX", "VMOutSideSMX"}) {
        EXPECT_EQ(harness::Flag(name), 0U) << name;
    }
    EXPECT_EQ(harness::Flag("CR0_PE"), 1U) << "all eight are still written";
}

TEST_F(IntelVmxTest, SmxAloneIsEnoughToReadTheMsr)
{
    sim::Current().Cpu.Cpuid[1].Ecx = Smx;
    sim::Current().Cpu.Msrs[FeatureControl] = 0x3;
    ProbeIntelVmx();
    EXPECT_EQ(harness::Flag("CPU_VT"), 0U);
    EXPECT_EQ(harness::Flag("BIOSLock"), 1U);
    EXPECT_EQ(harness::Flag("VMInSMX"), 1U);
}

TEST_F(IntelVmxTest, RefusedMsrReadsAsZeroAndTheProbeGoesOn)
{
    // A hypervisor reports VMX but gives its guest no IA32_FEATURE_CONTROL.
    sim::Current().Cpu.Cpuid[1].Ecx = Vmx;
    sim::Current().Cpu.RefusedMsrs.insert(FeatureControl);
    sim::Current().Cpu.Cr4 = 1U << 13;
    ProbeIntelVmx();
    EXPECT_EQ(harness::Flag("CPU_VT"), 1U);
    EXPECT_EQ(harness::Flag("BIOSLock"), 0U);
    EXPECT_EQ(harness::Flag("VMInSMX"), 0U);
    EXPECT_EQ(harness::Flag("VMOutSideSMX"), 0U);
    EXPECT_EQ(harness::Flag("CR4_VMXE"), 1U);
}

TEST_F(IntelVmxTest, FirmwareLockedWithVmxDisabled)
{
    sim::Current().Cpu.Cpuid[1].Ecx = Vmx | Smx;
    sim::Current().Cpu.Msrs[FeatureControl] = 0x1;  // locked, both enables clear
    ProbeIntelVmx();
    EXPECT_EQ(harness::Flag("CPU_VT"), 1U);
    EXPECT_EQ(harness::Flag("BIOSLock"), 1U);
    EXPECT_EQ(harness::Flag("VMOutSideSMX"), 0U);
}

TEST_F(IntelVmxTest, RunningHypervisorAndLongModeControlBits)
{
    sim::Current().Cpu.Cpuid[1].Ecx = Vmx;
    sim::Current().Cpu.Msrs[FeatureControl] = 0x5;
    sim::Current().Cpu.Cr0 = LongModeCr0;
    sim::Current().Cpu.Cr4 = 0x3726F8;  // a typical Windows 10 CR4 with VMXE
    ProbeIntelVmx();
    EXPECT_EQ(harness::Flag("CR0_PE"), 1U);
    EXPECT_EQ(harness::Flag("CR0_NE"), 1U);
    EXPECT_EQ(harness::Flag("CR0_PG"), 1U);
    EXPECT_EQ(harness::Flag("CR4_VMXE"), 1U);
}

TEST_F(IntelVmxTest, RandomSourcesNeverLeakIntoNeighbouringFlags)
{
    std::mt19937_64 random(20261206);
    for (int round = 0; round < 2000; ++round) {
        sim::Reset();
        sim::Processor& cpu = sim::Current().Cpu;
        const auto ecx = static_cast<ULONG>(random());
        const ULONG64 msr = random();
        const ULONG64 cr0 = random();
        const ULONG64 cr4 = random();
        cpu.Cpuid[1] = CpuidResult{static_cast<ULONG>(random()), static_cast<ULONG>(random()), ecx,
                                   static_cast<ULONG>(random())};
        if ((ecx & (Vmx | Smx)) != 0) {
            cpu.Msrs[FeatureControl] = msr;
        }
        cpu.Cr0 = cr0;
        cpu.Cr4 = cr4;
        ProbeIntelVmx();

        const ULONG64 featureControl = (ecx & (Vmx | Smx)) != 0 ? msr : 0;
        ASSERT_EQ(harness::Flag("CPU_VT"), (ecx >> 5) & 1) << round;
        ASSERT_EQ(harness::Flag("BIOSLock"), featureControl & 1) << round;
        ASSERT_EQ(harness::Flag("VMInSMX"), (featureControl >> 1) & 1) << round;
        ASSERT_EQ(harness::Flag("VMOutSideSMX"), (featureControl >> 2) & 1) << round;
        ASSERT_EQ(harness::Flag("CR0_NE"), (cr0 >> 5) & 1) << round;
        ASSERT_EQ(harness::Flag("CR0_PE"), cr0 & 1) << round;
        ASSERT_EQ(harness::Flag("CR0_PG"), (cr0 >> 31) & 1) << round;
        ASSERT_EQ(harness::Flag("CR4_VMXE"), (cr4 >> 13) & 1) << round;
        ASSERT_TRUE(sim::Current().Faults.empty()) << round;
    }
}

}  // namespace
