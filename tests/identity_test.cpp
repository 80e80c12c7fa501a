// The vendor and brand texts, as ReadVendorString and ReadBrandString build them.
#include "probe/identity.h"
#include "tests/harness.h"

namespace {

using harness::DriverTest;

class IdentityTest : public DriverTest {
protected:
    std::string Vendor()
    {
        char text[IdentityTextSize] = {};
        ReadVendorString(text);
        EXPECT_EQ(text[IdentityTextSize - 1], '\0');
        return std::string(text, IdentityTextSize);
    }
    std::string Brand()
    {
        char text[IdentityTextSize] = {};
        ReadBrandString(text);
        return std::string(text, IdentityTextSize);
    }
};

TEST_F(IdentityTest, VendorBytesAreTakenInEbxEdxEcxOrder)
{
    // "Genu" in EBX, "ineI" in EDX, "ntel" in ECX; EAX is ignored.
    sim::Current().Cpu.Cpuid[0] = CpuidResult{0x756E6547, 0x756E6547, 0x6C65746E, 0x49656E69};
    const std::string vendor = Vendor();
    EXPECT_STREQ(vendor.c_str(), "GenuineIntel");
    EXPECT_EQ(vendor.substr(12), std::string(52, '\0')) << "only 12 characters and a NUL";
    EXPECT_EQ(harness::LogEntries("cpuid"), std::vector<std::string>{"cpuid 0x0"});
}

TEST_F(IdentityTest, ZeroByteInVendorEndsTheText)
{
    sim::Current().Cpu.Cpuid[0] = harness::VendorLeaf(std::string("Genu\0neIntel", 12));
    const std::string vendor = Vendor();
    EXPECT_STREQ(vendor.c_str(), "Genu");
    EXPECT_EQ(vendor.substr(0, 13), std::string("Genu\0neIntel\0", 13)) << "every byte still copied";
}

TEST_F(IdentityTest, BrandBlocksAreJoinedUpToTheirFirstNul)
{
    sim::Processor& cpu = sim::Current().Cpu;
    harness::SetBrand(cpu, std::string("Intel(R) Core\0xx", 16) + std::string("(TM) i7 CPU\0\0\0\0\0", 16) +
                               std::string(" @ 3.0GHz\0abcdef", 16));
    EXPECT_STREQ(Brand().c_str(), "Intel(R) Core(TM) i7 CPU @ 3.0GHz");
    EXPECT_EQ(harness::LogEntries("cpuid"),
              (std::vector<std::string>{"cpuid 0x80000002", "cpuid 0x80000003", "cpuid 0x80000004"}));
}

TEST_F(IdentityTest, BrandOfEmptyBlocksIsEmpty)
{
    // A processor without the brand leaves answers zeros for all three.
    EXPECT_EQ(Brand(), std::string(IdentityTextSize, '\0'));
}

TEST_F(IdentityTest, EmptyMiddleBlockLeavesNoGap)
{
    harness::SetBrand(sim::Current().Cpu, std::string(16, 'A') + std::string(16, '\0') + std::string(16, 'C'));
    EXPECT_STREQ(Brand().c_str(), (std::string(16, 'A') + std::string(16, 'C')).c_str());
}

TEST_F(IdentityTest, FullBrandHas48CharactersAndItsNulAtByte48)
{
    const std::string full = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv";
    harness::SetBrand(sim::Current().Cpu, full);
    const std::string brand = Brand();
    EXPECT_EQ(brand.substr(0, 48), full);
    EXPECT_EQ(brand.substr(48), std::string(16, '\0'));
}

TEST_F(IdentityTest, LeadingAndTrailingSpacesStay)
{
    const std::string padded = "        Intel(R) Xeon(R) CPU E5-2670 0 @ 2.60GHz";
    harness::SetBrand(sim::Current().Cpu, padded.substr(0, 47) + " ");
    EXPECT_STREQ(Brand().c_str(), (padded.substr(0, 47) + " ").c_str());
}

}  // namespace
