// The load sequence as the platform sees it: order, vendor branches, failures,
// reloads and unload.
#include "tests/harness.h"

namespace {

using harness::DriverTest;
using DriverEntryTest = DriverTest;

const std::vector<std::string> IntelNames = {"CPU_VT", "BIOSLock", "VMInSMX", "VMOutSideSMX",
                                             "CR0_NE", "CR0_PE",   "CR0_PG",  "CR4_VMXE"};
const std::vector<std::string> AmdNames = {"SVM", "SVM_NP", "VM_CR"};

std::vector<std::string> Writes(const std::vector<std::string>& Names)
{
    std::vector<std::string> writes = {"write CPU_Vendor", "write CPU_Name"};
    for (const std::string& name : Names) {
        writes.push_back("write " + name);
    }
    return writes;
}

std::size_t ValueCount()
{
    const auto& registry = sim::Current().Os.Registry;
    return registry.empty() ? 0 : registry.at(harness::ReportKey).size();
}

TEST_F(DriverEntryTest, SetsUnloadFirstAndReadsBothTextsBeforeWriting)
{
    sim::Current().Cpu = harness::PlainCpu("GenuineIntel");
    DRIVER_OBJECT driver{};
    EXPECT_EQ(harness::Load(driver), STATUS_SUCCESS);
    EXPECT_EQ(driver.DriverUnload, &UnloadDriver);  // the watched writes found it set

    EXPECT_LT(harness::LogIndex("cpuid 0x80000004"), harness::LogIndex("write CPU_Vendor"));
    EXPECT_LT(harness::LogIndex("write CPU_Name"), harness::LogIndex("cpuid 0x1"))
        << "both texts are written before the vendor probe runs";
}

TEST_F(DriverEntryTest, IntelLoadWritesTheTextsThenEightFlagsInOrder)
{
    sim::Current().Cpu = harness::PlainCpu("GenuineIntel");
    EXPECT_EQ(harness::Load(), STATUS_SUCCESS);
    EXPECT_EQ(harness::LogEntries("write"), Writes(IntelNames));
    EXPECT_EQ(harness::Text("CPU_Vendor"), u"GenuineIntel");
    EXPECT_EQ(harness::Text("CPU_Name"), u"Simulated Processor");
    EXPECT_TRUE(harness::LogEntries("cpuid 0x8000000").size() == 3) << "no AMD leaf is read";
}

TEST_F(DriverEntryTest, AmdLoadWritesTheTextsThenThreeFlagsInOrder)
{
    sim::Current().Cpu = harness::PlainCpu("AuthenticAMD");
    EXPECT_EQ(harness::Load(), STATUS_SUCCESS);
    EXPECT_EQ(harness::LogEntries("write"), Writes(AmdNames));
    EXPECT_EQ(harness::LogIndex("read cr0"), std::string::npos);
}

TEST_F(DriverEntryTest, OtherVendorsGetTheTwoTextsOnly)
{
    const std::vector<std::string> others = {
        "CentaurHauls", "HygonGenuine", "genuineintel", "GENUINEINTEL", "AuthenticAmd",
        std::string("GenuineIntel", 12).replace(11, 1, 1, '\0'), std::string("Auth\0nticAMD", 12),
        std::string(12, '\0')};
    for (const std::string& vendor : others) {
        sim::Reset();
        sim::Current().Cpu = harness::PlainCpu(vendor);
        EXPECT_EQ(harness::Load(), STATUS_SUCCESS);
        EXPECT_EQ(harness::LogEntries("write"), Writes({})) << vendor.c_str();
        EXPECT_EQ(ValueCount(), 2U);
        EXPECT_EQ(harness::LogEntries("cpuid").size(), 4U) << "no probe ran for " << vendor.c_str();
    }
}

TEST_F(DriverEntryTest, EveryWriteFailingStillLoadsAndTriesEveryValue)
{
    sim::Current().Cpu = harness::PlainCpu("GenuineIntel");
    sim::Current().Os.FailEveryWrite = true;
    EXPECT_EQ(harness::Load(), STATUS_SUCCESS);
    EXPECT_EQ(harness::LogEntries("write"), Writes(IntelNames));
    EXPECT_TRUE(sim::Current().Os.Registry.empty());
}

TEST_F(DriverEntryTest, OneFailedWriteLeavesOnlyThatValueMissing)
{
    sim::Current().Cpu = harness::PlainCpu("AuthenticAMD");
    sim::Current().Os.FailingWrites = {"CPU_Vendor", "SVM_NP"};
    EXPECT_EQ(harness::Load(), STATUS_SUCCESS);
    EXPECT_FALSE(harness::HasValue("CPU_Vendor"));
    EXPECT_FALSE(harness::HasValue("SVM_NP"));
    EXPECT_TRUE(harness::HasValue("CPU_Name"));
    EXPECT_TRUE(harness::HasValue("VM_CR"));
}

TEST_F(DriverEntryTest, FailedConversionsStillLoad)
{
    sim::Current().Cpu = harness::PlainCpu("GenuineIntel");
    sim::Current().Os.FailConversion = true;
    EXPECT_EQ(harness::Load(), STATUS_SUCCESS);
    // No text is written; every flag still is.
    const std::vector<std::string> all = Writes(IntelNames);
    EXPECT_EQ(harness::LogEntries("write"), std::vector<std::string>(all.begin() + 2, all.end()));
}

TEST_F(DriverEntryTest, ServiceNameDoesNotMoveTheReport)
{
    sim::Current().Cpu = harness::PlainCpu("AuthenticAMD");
    DRIVER_OBJECT driver{};
    wchar_t serviceKey[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\other";
    UNICODE_STRING registryPath{static_cast<USHORT>(sizeof(serviceKey) - 2), sizeof(serviceKey), serviceKey};
    EXPECT_EQ(DriverEntry(&driver, &registryPath), STATUS_SUCCESS);
    ASSERT_EQ(sim::Current().Os.Registry.size(), 1U);
    EXPECT_EQ(sim::Current().Os.Registry.begin()->first, harness::ReportKey);
}

TEST_F(DriverEntryTest, UnloadCallsNothingAndKeepsTheReport)
{
    sim::Current().Cpu = harness::PlainCpu("GenuineIntel");
    DRIVER_OBJECT driver{};
    harness::Load(driver);
    const auto registry = sim::Current().Os.Registry;
    const std::size_t calls = sim::Current().Log.size();

    // INIT, with the import table, is discarded after DriverEntry: any kernel
    // call from the unload routine would jump through freed memory.
    driver.DriverUnload(&driver);
    EXPECT_EQ(sim::Current().Log.size(), calls);
    EXPECT_EQ(ValueCount(), 10U);
    EXPECT_TRUE(sim::Current().Os.Registry == registry);
}

TEST_F(DriverEntryTest, SecondLoadRewritesTheSameData)
{
    sim::Current().Cpu = harness::PlainCpu("AuthenticAMD");
    sim::Current().Cpu.Cpuid[0x80000001].Ecx = 1U << 2;
    sim::Current().Cpu.Msrs[0xC0010114] = 0;
    harness::Load();
    const auto first = sim::Current().Os.Registry;
    harness::Load();
    EXPECT_TRUE(sim::Current().Os.Registry == first);
    EXPECT_EQ(harness::LogEntries("write").size(), 10U);
}

TEST_F(DriverEntryTest, IntelThenAmdLoadLeavesAllThirteenValues)
{
    sim::Current().Cpu = harness::PlainCpu("GenuineIntel");
    sim::Current().Cpu.Cpuid[1].Ecx = 1U << 5;
    sim::Current().Cpu.Msrs[0x3A] = 0x5;
    harness::Load();

    // The same system image booted on other hardware.
    sim::Current().Cpu = harness::PlainCpu("AuthenticAMD");
    harness::Load();

    EXPECT_EQ(ValueCount(), 13U);
    EXPECT_EQ(harness::Text("CPU_Vendor"), u"AuthenticAMD");
    EXPECT_EQ(harness::Flag("CPU_VT"), 1U);
    EXPECT_EQ(harness::Flag("VMOutSideSMX"), 1U);
    EXPECT_EQ(harness::Flag("SVM"), 0U);
}

}  // namespace
