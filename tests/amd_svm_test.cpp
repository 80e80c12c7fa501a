// AMD flags: reads and writes alternate, VM_CR is inverted and read only
// where SVM is reported.
#include <random>

#include "probe/amd_svm.h"
#include "tests/harness.h"

namespace {

using harness::DriverTest;
using AmdSvmTest = DriverTest;

constexpr ULONG Svm = 1U << 2;
constexpr ULONG VmCr = 0xC0010114;
constexpr ULONG64 SvmDisable = 1U << 4;

void GiveSvm(ULONG64 VmCrValue)
{
    sim::Current().Cpu.Cpuid[0x80000001].Ecx = Svm;
    sim::Current().Cpu.Msrs[VmCr] = VmCrValue;
}

TEST_F(AmdSvmTest, EachFlagIsWrittenBeforeTheNextSourceIsRead)
{
    GiveSvm(0);
    ProbeAmdSvm();
    EXPECT_EQ(sim::Current().Log,
              (std::vector<std::string>{"cpuid 0x80000001", "write SVM", "cpuid 0x8000000A", "write SVM_NP",
                                        "rdmsr 0xC0010114", "write VM_CR"}));
}

TEST_F(AmdSvmTest, VmCrIsOneExactlyWhenSvmdisIsClear)
{
    GiveSvm(~SvmDisable);
    ProbeAmdSvm();
    EXPECT_EQ(harness::Flag("VM_CR"), 1U);

    GiveSvm(SvmDisable);
    ProbeAmdSvm();
    EXPECT_EQ(harness::Flag("VM_CR"), 0U);
    EXPECT_EQ(harness::Flag("SVM"), 1U);
}

TEST_F(AmdSvmTest, WithoutSvmVmCrIsNotReadAndReadsZero)
{
    sim::Current().Cpu.Cpuid[0x80000001].Ecx = ~Svm;
    sim::Current().Cpu.Cpuid[0x8000000A].Edx = 1;  // leaf 0x8000000A is still taken as it comes
    ProbeAmdSvm();
    EXPECT_TRUE(harness::LogEntries("rdmsr").empty());
    EXPECT_EQ(harness::Flag("SVM"), 0U);
    EXPECT_EQ(harness::Flag("SVM_NP"), 1U);
    EXPECT_EQ(harness::Flag("VM_CR"), 0U);
}

TEST_F(AmdSvmTest, RefusedVmCrReadsZero)
{
    sim::Current().Cpu.Cpuid[0x80000001].Ecx = Svm;
    sim::Current().Cpu.RefusedMsrs.insert(VmCr);
    ProbeAmdSvm();
    EXPECT_EQ(harness::LogEntries("rdmsr").size(), 2U) << "the read was tried and its #GP absorbed";
    EXPECT_EQ(harness::Flag("VM_CR"), 0U);
}

TEST_F(AmdSvmTest, RandomSourcesNeverLeakIntoNeighbouringFlags)
{
    std::mt19937_64 random(12062026);
    for (int round = 0; round < 2000; ++round) {
        sim::Reset();
        sim::Processor& cpu = sim::Current().Cpu;
        const auto ecx = static_cast<ULONG>(random());
        const auto edx = static_cast<ULONG>(random());
        const ULONG64 vmCr = random();
        cpu.Cpuid[0x80000001] = CpuidResult{static_cast<ULONG>(random()), static_cast<ULONG>(random()), ecx,
                                            static_cast<ULONG>(random())};
        cpu.Cpuid[0x8000000A] = CpuidResult{static_cast<ULONG>(random()), static_cast<ULONG>(random()),
                                            static_cast<ULONG>(random()), edx};
        if ((ecx & Svm) != 0) {
            cpu.Msrs[VmCr] = vmCr;
        }
        ProbeAmdSvm();

        ASSERT_EQ(harness::Flag("SVM"), (ecx >> 2) & 1) << round;
        ASSERT_EQ(harness::Flag("SVM_NP"), edx & 1) << round;
        ASSERT_EQ(harness::Flag("VM_CR"), (ecx & Svm) != 0 ? 1 - ((vmCr >> 4) & 1) : 0) << round;
        ASSERT_TRUE(sim::Current().Faults.empty()) << round;
    }
}

}  // namespace
