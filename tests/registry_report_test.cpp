// Names, types, data and lengths of the report values, and what a failed
// conversion or write leaves behind.
#include "report/registry_report.h"
#include "tests/harness.h"

namespace {

using harness::DriverTest;
using RegistryReportTest = DriverTest;

TEST_F(RegistryReportTest, FirstWriteCreatesTheKeyAtItsAbsolutePath)
{
    EXPECT_TRUE(sim::Current().Os.Registry.empty());
    WriteTextValue(L"CPU_Vendor", "GenuineIntel");
    ASSERT_EQ(sim::Current().Os.Registry.size(), 1U);
    EXPECT_EQ(sim::Current().Os.Registry.begin()->first, "\\Registry\\Machine\\Software\\Korimath");
}

TEST_F(RegistryReportTest, TextIsUtf16WithOneNul)
{
    WriteTextValue(L"CPU_Vendor", "GenuineIntel");
    const sim::RegistryValue& value = harness::Value("CPU_Vendor");
    EXPECT_EQ(value.Type, static_cast<ULONG>(REG_SZ));
    ASSERT_EQ(value.Data.size(), 26U);
    EXPECT_EQ(harness::Text("CPU_Vendor"), u"GenuineIntel");
    EXPECT_EQ(harness::LogEntries("Rtl"),
              (std::vector<std::string>{"RtlInitAnsiString", "RtlAnsiStringToUnicodeString",
                                        "RtlFreeUnicodeString"}));
    EXPECT_LT(harness::LogIndex("write CPU_Vendor"), harness::LogIndex("RtlFreeUnicodeString"))
        << "the buffer is freed only after its write";
}

TEST_F(RegistryReportTest, EmptyTextIsTheNulAlone)
{
    WriteTextValue(L"CPU_Name", "");
    EXPECT_EQ(harness::Value("CPU_Name").Data, (std::vector<std::uint8_t>{0, 0}));
}

TEST_F(RegistryReportTest, FlagIsFourLittleEndianBytes)
{
    WriteFlagValue(L"SVM", 1);
    EXPECT_EQ(harness::Value("SVM").Data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
    WriteFlagValue(L"SVM", 0);
    EXPECT_EQ(harness::Value("SVM").Data, (std::vector<std::uint8_t>{0, 0, 0, 0}));
}

TEST_F(RegistryReportTest, FailedConversionWritesAndFreesNothing)
{
    sim::Current().Os.FailConversion = true;
    WriteTextValue(L"CPU_Name", "AMD EPYC");
    EXPECT_FALSE(harness::HasValue("CPU_Name"));
    EXPECT_TRUE(harness::LogEntries("write").empty());
    EXPECT_TRUE(harness::LogEntries("RtlFreeUnicodeString").empty());
}

TEST_F(RegistryReportTest, FailedWriteStillFreesAndKeepsTheOldValue)
{
    WriteTextValue(L"CPU_Name", "old");
    sim::Current().Os.FailEveryWrite = true;
    WriteTextValue(L"CPU_Name", "new");
    WriteFlagValue(L"SVM", 1);
    sim::Current().Os.FailEveryWrite = false;
    EXPECT_EQ(harness::Text("CPU_Name"), u"old");
    EXPECT_FALSE(harness::HasValue("SVM"));
    EXPECT_EQ(harness::LogEntries("RtlFreeUnicodeString").size(), 2U);
}

}  // namespace
