// Beside the report, without Windows: CPUID's identity texts, the report's
// freshness and own-vendor values, the firmware's SMBIOS names.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "operator/decisions/cpuid_features.h"
#include "operator/decisions/report_freshness.h"
#include "operator/decisions/smbios.h"
#include "operator/decisions/windows_view.h"

namespace {

CpuidRegisters IdentityLeaves(std::uint32_t Leaf)
{
    const char* bytes = Leaf == 0 ? "\x16\0\0\0GenuntelineI" : Leaf == 0x80000002 ? "Intel(R) Xeon\0\0\0"
                        : Leaf == 0x80000003 ? "(R) Processor\0\0\0"  // a NUL ends each block's part only
                                             : "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0";
    CpuidRegisters r;
    std::memcpy(&r, bytes, 16);
    return r;
}

TEST(ProcessorIdentity, AsTheDriverFormsIt)
{
    const ProcessorIdentity identity = ReadProcessorIdentity(IdentityLeaves);
    EXPECT_EQ(std::wstring(identity.Vendor.View()), L"GenuineIntel");
    EXPECT_EQ(std::wstring(identity.Brand.View()), L"Intel(R) Xeon(R) Processor");
}

// Leaf 1 EAX/ECX, the highest extended leaf, 0x80000001 ECX, 0x8000000A EDX.
struct Leaves {
    std::uint32_t Eax1, Ecx1, HighestExtended, Ecx80000001, Edx8000000A;
};
Leaves Current;

CpuidRegisters FeatureLeaves(std::uint32_t Leaf)
{
    switch (Leaf) {
    case 1:
        return {Current.Eax1, 0, Current.Ecx1, 0};
    case 0x80000000:
        return {Current.HighestExtended, 0, 0, 0};
    case 0x80000001:
        return {0, 0, Current.Ecx80000001, 0};
    case 0x8000000A:
        return {0, 0, 0, Current.Edx8000000A};
    }
    return {0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD};  // as a leaf past the highest would answer: garbage
}

TEST(CpuidFeatures, BitsFamilyAndOnlyLeavesThatExist)
{
    const struct {
        const char* Case;
        Leaves Cpu;
        CpuidFeatures Expected;
    } rows[] = {
        {"intel with vmx, smx", {0x906A3, 0x60, 0x80000008, 0, 0}, {true, true, 6, true, false, false, false}},
        {"intel, vmx alone", {0x906A3, 0x20, 0x80000008, 0, 1}, {true, false, 6, true, false, false, false}},
        {"zen 3 with svm and np", {0xA20F10, 0, 0x80000021, 4, 1}, {false, false, 0x19, true, true, true, true}},
        {"zen without np", {0x800F12, 0, 0x8000001F, 4, 0}, {false, false, 0x17, true, true, true, false}},
        {"svm clear: leaf 8000000Ah reserved", {0xA20F10, 0, 0x80000021, 0, 1}, {false, false, 0x19, true, false, false, false}},
        {"no extended leaves", {0x6FB, 0x20, 0x4, 4, 1}, {true, false, 6, false, false, false, false}},
        {"extended range ends before 8000000Ah", {0x40F33, 0, 0x80000008, 4, 1}, {false, false, 0xF, true, true, false, false}},
    };
    for (const auto& row : rows) {
        Current = row.Cpu;
        const auto fields = [](const CpuidFeatures& F) {
            return std::tuple(F.Vmx, F.Smx, F.Family, F.SvmKnown, F.Svm, F.NestedPagingKnown, F.NestedPaging);
        };
        EXPECT_EQ(fields(ReadCpuidFeatures(FeatureLeaves)), fields(row.Expected)) << row.Case;
    }
}

TEST(WindowsView, EachFeatureNumberAndMemoryIntegrity)
{
    static unsigned long present;  // the one feature IsProcessorFeaturePresent answers yes for
    const ProcessorFeatureQuery query = [](unsigned long Feature) { return Feature == present; };
    const unsigned long hvci = 0x400, other = 0x3FF;
    present = 21;  // PF_VIRT_FIRMWARE_ENABLED
    WindowsView view = DecideWindowsView(false, query, &hvci);
    EXPECT_TRUE(view.Meaningful && view.FirmwareEnabled && !view.Slat && view.MemoryIntegrityRunning);
    present = 20;  // PF_SECOND_LEVEL_ADDRESS_TRANSLATION
    view = DecideWindowsView(false, query, &other);
    EXPECT_TRUE(!view.FirmwareEnabled && view.Slat && view.MemoryIntegrityKnown && !view.MemoryIntegrityRunning);
    view = DecideWindowsView(true, query, nullptr);
    EXPECT_TRUE(!view.Meaningful && !view.Slat && !view.MemoryIntegrityKnown);
}

Report Reported(const wchar_t* Vendor, const wchar_t* Name)
{
    Report report;
    report.KeyPresent = report.VendorPresent = report.NamePresent = true;
    report.Vendor.Append(Vendor);
    report.Name.Append(Name);
    return report;
}

constexpr std::uint64_t Written = 134410977450000000;  // 2026-12-07T06:15:45Z
constexpr std::uint64_t Hour = 36'000'000'000;

TEST(ReportFreshness, ThisBootThisProcessorAndTheTimeItNames)
{
    const ProcessorIdentity now = ReadProcessorIdentity(IdentityLeaves);
    const Report same = Reported(L"GenuineIntel", L"Intel(R) Xeon(R) Processor");
    const struct {
        const char* Case;
        Report Values;
        std::uint64_t LastWrite, Clock, UptimeMs;
        bool Known, ThisBoot, Matches;
    } rows[] = {
        {"written an hour after the boot", same, Written, Written + Hour, 2 * 3'600'000, true, true, true},
        {"written an hour before the boot", same, Written, Written + 2 * Hour, 3'600'000, true, false, true},
        {"written during the boot's first seconds", same, Written, Written + Hour, 3'600'000 + 2000, true, true, true},
        {"clock and tick count drift apart", same, Written, Written + Hour, 3'600'000 - 3000, true, true, true},
        {"six seconds before the boot", same, Written, Written + Hour, 3'600'000 - 6000, true, false, true},
        {"write time unknown", same, 0, Written, 1000, false, true, true},
        {"another brand", Reported(L"GenuineIntel", L"Intel(R) Core(TM) i7"), Written, Written, 1000, true, true,
         false},
    };
    for (const auto& row : rows) {
        const ReportFreshness fresh = AssessFreshness(row.Values, now, row.LastWrite, row.Clock, row.UptimeMs);
        EXPECT_EQ(fresh.Known, row.Known) << row.Case;
        EXPECT_EQ(fresh.ThisBoot, row.ThisBoot) << row.Case;
        EXPECT_EQ(fresh.MatchesProcessor, row.Matches) << row.Case;
        EXPECT_EQ(fresh.Stale(), !row.ThisBoot || !row.Matches) << row.Case;
    }
    const struct {
        std::uint64_t FileTime;
        const wchar_t* Iso;
    } dates[] = {{Written, L"2026-12-07T06:15:45Z"},
                 {133537247990000000, L"2024-02-29T23:59:59Z"},
                 {125963424000000000, L"2000-03-01T00:00:00Z"}};
    for (const auto& date : dates) {
        EXPECT_EQ(std::wstring(AssessFreshness(same, now, date.FileTime, date.FileTime, 1).WrittenUtc.View()),
                  date.Iso);
    }
}

TEST(ReportFreshness, OnlyTheReportsOwnVendorsValuesCount)
{
    const struct {
        const wchar_t* Vendor;
        unsigned Kept;  // how many of the eleven stay
        ReportFlag Survivor;
    } rows[] = {{L"GenuineIntel", 8, ReportFlag::Cr4Vmxe}, {L"AuthenticAMD", 3, ReportFlag::Svm},
                {L"HygonGenuine", 0, ReportFlag::Svm}};
    for (const auto& row : rows) {
        Report values = Reported(row.Vendor, L"x");
        for (FlagValue& flag : values.Flags) {
            flag = FlagValue{true, 1};
        }
        KeepOwnVendorsValues(values);
        unsigned kept = 0;
        for (const FlagValue& flag : values.Flags) {
            kept += flag.Present ? 1 : 0;
        }
        EXPECT_EQ(kept, row.Kept);
        EXPECT_EQ(values[row.Survivor].Present, row.Kept != 0);
    }
}

// A raw SMBIOS table as GetSystemFirmwareTable('RSMB') returns it.
std::vector<unsigned char> Table(std::vector<std::vector<unsigned char>> Structures)
{
    std::vector<unsigned char> body;
    for (const auto& structure : Structures) {
        body.insert(body.end(), structure.begin(), structure.end());
    }
    std::vector<unsigned char> raw = {0, 3, 4, 0};
    const auto size = static_cast<std::uint32_t>(body.size());
    for (int i = 0; i < 4; ++i) {
        raw.push_back(static_cast<unsigned char>(size >> (8 * i)));
    }
    raw.insert(raw.end(), body.begin(), body.end());
    return raw;
}

const std::vector<unsigned char> Bios = {0, 4, 0, 0, 'S', 'e', 'a', 'B', 'I', 'O', 'S', 0, 0};
const std::vector<unsigned char> Qemu = {1,   8,   1,   0,   1,   2,   0,   0,   'Q', 'E', 'M', 'U', ' ', ' ', 0,
                                         'S', 't', 'a', 'n', 'd', 'a', 'r', 'd', ' ', 'P', 'C', 0,   0};

TEST(Smbios, SystemInformationAfterOtherStructures)
{
    const auto raw = Table({Bios, Qemu});
    const SystemIdentity system = ParseSmbiosSystem(raw.data(), raw.size());
    EXPECT_TRUE(system.Present);
    EXPECT_EQ(std::wstring(system.Manufacturer.View()), L"QEMU");
    EXPECT_EQ(std::wstring(system.Product.View()), L"Standard PC");
    EXPECT_TRUE(NamesVirtualMachine(system));
}

TEST(Smbios, MalformedTablesGiveNothingMadeUp)
{
    auto badLength = Qemu;
    badLength[1] = 3;
    const auto whole = Table({Bios, Qemu});
    auto badString = Qemu;
    badString[5] = 9;  // no ninth string
    const struct {
        const char* Case;
        std::vector<unsigned char> Raw;
        bool Present;
    } rows[] = {
        {"empty", {}, false},
        {"header only", Table({}), false},
        {"structure shorter than its header", Table({Bios, badLength}), false},
        {"cut inside the structure's declared length", std::vector<unsigned char>(whole.begin(), whole.begin() + 27),
         false},
        {"cut one byte short of it", std::vector<unsigned char>(whole.begin(), whole.begin() + 28), false},
        {"strings without their final NUL", Table({{0, 4, 0, 0, 'S', 'e', 'a'}}), false},
        {"a string number past the strings", Table({badString}), true},
    };
    for (const auto& row : rows) {
        const SystemIdentity system = ParseSmbiosSystem(row.Raw.data(), row.Raw.size());
        EXPECT_EQ(system.Present, row.Present) << row.Case;
        EXPECT_FALSE(NamesVirtualMachine(system) && !row.Present) << row.Case;
    }
}

TEST(Smbios, VirtualMachineNames)
{
    const struct {
        const wchar_t* Manufacturer;
        const wchar_t* Product;
        bool Virtual;
    } rows[] = {
        {L"QEMU", L"Standard PC (i440FX + PIIX, 1996)", true}, {L"VMware, Inc.", L"VMware20,1", true},
        {L"innotek GmbH", L"VirtualBox", true}, {L"Microsoft Corporation", L"Virtual Machine", true},
        {L"FreeBSD", L"BHYVE", true}, {L"Microsoft Corporation", L"Surface Laptop 5", false},
        {L"Dell Inc.", L"Precision 5570", false},
    };
    for (const auto& row : rows) {
        SystemIdentity system;
        system.Present = true;
        system.Manufacturer.Append(row.Manufacturer);
        system.Product.Append(row.Product);
        EXPECT_EQ(NamesVirtualMachine(system), row.Virtual) << std::wstring(row.Product).size();
    }
}

}  // namespace
