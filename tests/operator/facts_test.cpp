// Beside the report, without Windows: CPUID's identity texts, the report's
// freshness and own-vendor values, the firmware's SMBIOS names.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "operator/decisions/cpuid_features.h"
#include "operator/decisions/report_freshness.h"
#include "operator/decisions/smbios.h"
#include "operator/decisions/windows_view.h"

namespace {

// Leaf 0's vendor with a NUL inside; brand blocks that each end at their own NUL, garbage after it; garbage past
// 0x80000004.
CpuidRegisters IdentityLeaves(std::uint32_t Leaf)
{
    const char* bytes = Leaf == 0 ? "\x16\0\0\0GenuntelineI" : Leaf == 0x80000002 ? "Intel(R) Xeon\0ab"
                        : Leaf == 0x80000003 ? "(R) Processor\0\0\0" : Leaf == 0x80000004 ? " 2.0GHz\0\0\0\0\0\0\0\0\0"
                                                                                             : "garbage garbage ";
    CpuidRegisters r;
    std::memcpy(&r, bytes, 16);
    return r;
}

constexpr const wchar_t* Brand = L"Intel(R) Xeon(R) Processor 2.0GHz";

TEST(ProcessorIdentity, AsTheDriverFormsIt)
{
    const ProcessorIdentity identity = ReadProcessorIdentity(IdentityLeaves);
    EXPECT_TRUE(identity.Vendor.View() == L"GenuineIntel" && identity.Brand.View() == Brand);
}

// Leaf 1 EAX/ECX, the highest extended leaf, 0x80000001 ECX and EDX, 0x8000000A EDX.
struct Leaves {
    std::uint32_t Eax1, Ecx1, HighestExtended, Ecx80000001, Edx80000001, Edx8000000A;
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
        return {0, 0, Current.Ecx80000001, Current.Edx80000001};
    case 0x8000000A:
        return {0, 0, 0, Current.Edx8000000A};
    }
    return {0xDEAD, 0xDEAD, 0xDEAD, 0xDEAD};  // as a leaf past the highest would answer: garbage
}

TEST(CpuidFeatures, BitsFamilyAndOnlyLeavesThatExist)
{
    constexpr std::uint32_t Nx = 1U << 20;
    const struct { const char* Case; Leaves Cpu; CpuidFeatures Expected; } rows[] = {
        {"intel with vmx, smx, nx", {0x906A3, 0x60, 0x80000008, 0, Nx, 0}, {true, true, 6, true, false, false, false, true}},
        {"intel, vmx alone, nx off", {0x906A3, 0x20, 0x80000008, 0, ~Nx, 1}, {true, false, 6, true, false, false, false}},
        {"zen 3 with svm and np", {0xA20F10, 0, 0x80000021, 4, 0, 1}, {false, false, 0x19, true, true, true, true}},
        {"zen without np", {0x800F12, 0, 0x8000001F, 4, 0, 0}, {false, false, 0x17, true, true, true, false}},
        {"svm clear: 8000000Ah reserved", {0xA20F10, 0, 0x80000021, 0, 0, 1}, {false, false, 0x19, true, false, false}},
        {"no extended leaves", {0x6FB, 0x20, 0x4, 4, Nx, 1}, {true, false, 6, false, false, false, false}},
        {"a highest leaf out of range", {0x6FB, 0x20, 0x80010000, 4, Nx, 1}, {true, false, 6, false, false, false}},
        {"the extended range ends at 80000001h", {0x6FB, 0, 0x80000001, 4, Nx, 1}, {false, false, 6, true, true, false, false, true}},
        {"it ends before 8000000Ah", {0x40F33, 0, 0x80000008, 4, 0, 1}, {false, false, 0xF, true, true, false, false}},
        {"it ends at 8000000Ah", {0x40F33, 0, 0x8000000A, 4, 0, 1}, {false, false, 0xF, true, true, true, true}},
    };
    for (const auto& row : rows) {
        Current = row.Cpu;
        const auto fields = [](const CpuidFeatures& F) {
            return std::tuple(F.Vmx, F.Smx, F.Family, F.SvmKnown, F.Svm, F.NestedPagingKnown, F.NestedPaging, F.Nx);
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
    EXPECT_TRUE(view.Meaningful && view.FirmwareEnabled && !view.Slat && !view.NxEnabled && view.MemoryIntegrityRunning);
    present = 20;  // PF_SECOND_LEVEL_ADDRESS_TRANSLATION
    view = DecideWindowsView(false, query, &other);
    EXPECT_TRUE(!view.FirmwareEnabled && view.Slat && view.MemoryIntegrityKnown && !view.MemoryIntegrityRunning);
    present = 12;  // PF_NX_ENABLED, which counts under a hypervisor too
    view = DecideWindowsView(true, query, nullptr);
    EXPECT_TRUE(!view.Meaningful && !view.Slat && view.NxEnabled && !view.MemoryIntegrityKnown);
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
    const Report same = Reported(L"GenuineIntel", Brand);
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
        {"five seconds before the boot", same, Written, Written + Hour, 3'600'000 - 5000, true, true, true},
        {"written at 1970-01-01T00:00:00Z", same, 116444736000000000, Written, 1000, true, false, true},
        {"write time unknown", same, 0, Written, 1000, false, true, true},
        {"another brand", Reported(L"GenuineIntel", L"Intel(R) Core(TM) i7"), Written, Written, 1000, true, true,
         false},
    };
    for (const auto& row : rows) {
        const ReportFreshness fresh = AssessFreshness(row.Values, now, row.LastWrite, row.Clock, row.UptimeMs);
        EXPECT_TRUE(fresh.Known == row.Known && fresh.ThisBoot == row.ThisBoot && fresh.MatchesProcessor == row.Matches &&
                    fresh.Stale() == (!row.ThisBoot || !row.Matches))
            << row.Case;
    }
    const struct { std::uint64_t FileTime; const wchar_t* Iso; } dates[] = {{Written, L"2026-12-07T06:15:45Z"},
                 {133537247990000000, L"2024-02-29T23:59:59Z"},
                 {116444736000000000, L"1970-01-01T00:00:00Z"},
                 {134458644300000000, L"2027-01-31T10:20:30Z"},
                 {134509248000000000, L"2027-03-31T00:00:00Z"},
                 {157520159990000000, L"2100-02-28T23:59:59Z"},
                 {157520160000000000, L"2100-03-01T00:00:00Z"},
                 {252190800000000000, L"2400-02-29T12:00:00Z"},
                 {125963424000000000, L"2000-03-01T00:00:00Z"}};
    for (const auto& date : dates) {
        EXPECT_EQ(std::wstring(AssessFreshness(same, now, date.FileTime, date.FileTime, 1).WrittenUtc.View()),
                  date.Iso);
    }
}

TEST(ReportFreshness, OnlyTheReportsOwnVendorsValuesCount)
{
    // Kept: how many of the eleven stay.
    const struct { const wchar_t* Vendor; unsigned Kept; ReportFlag Survivor; } rows[] = {
        {L"GenuineIntel", 8, ReportFlag::Cr4Vmxe}, {L"AuthenticAMD", 3, ReportFlag::Svm},
        {L"HygonGenuine", 0, ReportFlag::Svm}};
    for (const auto& row : rows) {
        Report values = Reported(row.Vendor, L"x");
        std::fill(std::begin(values.Flags), std::end(values.Flags), FlagValue{true, 1});
        KeepOwnVendorsValues(values);
        const auto kept = std::ranges::count_if(values.Flags, [](FlagValue F) { return F.Present; });
        EXPECT_TRUE(kept == static_cast<long>(row.Kept) && values[row.Survivor].Present == (row.Kept != 0)) << (&row - rows);
    }
}

// A raw SMBIOS table as GetSystemFirmwareTable('RSMB') returns it, its length as declared (all of it by default).
std::vector<unsigned char> Table(const std::vector<std::vector<unsigned char>>& Structures, std::size_t Declared = ~0UL)
{
    std::vector<unsigned char> body;
    for (const auto& structure : Structures) {
        body.insert(body.end(), structure.begin(), structure.end());
    }
    const auto size = static_cast<std::uint32_t>(Declared == ~0UL ? body.size() : Declared);
    std::vector<unsigned char> raw = {0, 3, 4, 0};
    for (int i = 0; i < 4; ++i) {
        raw.push_back(static_cast<unsigned char>(size >> (8 * i)));
    }
    raw.insert(raw.end(), body.begin(), body.end());
    return raw;
}

TEST(Smbios, SystemAndEnclosureNamesAndNothingMadeUp)
{
    const std::vector<unsigned char> bios = {0, 4, 0, 0, 'S', 'e', 'a', 'B', 'I', 'O', 'S', 0, 0};
    const std::vector<unsigned char> qemu = {1,   8,   1,   0,   1,   2,   0,   0,   'Q', 'E', 'M', 'U', ' ', ' ', 0,
                                             'S', 't', 'a', 'n', 'd', 'a', 'r', 'd', ' ', 'P', 'C', 0,   0};
    // System Enclosures whose Asset Tag Number (offset 8) is the second string, the first, or past their length.
    const std::vector<unsigned char> chassis = {3, 9, 0, 0, 1, 1, 0, 0, 2, 'Q', 'E', 'M', 'U', 0, 'T', 'a', 'g', ' ', 0, 0};
    const std::vector<unsigned char> another = {3, 9, 0, 0, 0, 0, 0, 0, 1, 'X', 0, 0};
    const std::vector<unsigned char> tooShort = {3, 8, 0, 0, 0, 0, 0, 0, 1, 'A', 0, 0};
    std::vector<unsigned char> filler = {0x80, 4, 0, 0};  // an OEM structure whose strings pass 64 KiB
    filler.resize(70004, 'x');
    filler.insert(filler.end(), {0, 0});
    auto badLength = qemu, badString = qemu;
    badLength[1] = 3;
    badString[5] = 9;  // no ninth string
    const auto whole = Table({bios, qemu});
    const struct {
        const char* Case;
        std::vector<unsigned char> Raw;
        const wchar_t *Maker, *Product = L"", *Tag = L"";  // Maker nullptr: no system information
    } rows[] = {
        {"after other structures; the first enclosure's tag", Table({{0, 4, 0, 0, 0, 0}, tooShort, chassis, qemu, another}),
         L"QEMU", L"Standard PC", L"Tag"},
        {"a string number past the strings", Table({badString}), L"QEMU", L"", L""},
        {"length 6: both names", Table({{1, 6, 0, 0, 1, 2, 'Q', 0, 'P', 0, 0}}), L"Q", L"P", L""},
        {"no strings at the very end", Table({{1, 8, 0, 0, 1, 2, 0, 0}}), L"", L"", L""},
        {"its strings run off the end", Table({{1, 8, 0, 0, 2, 2, 0, 0, 'Q', 'E', 'M'}}), L"", L"", L""},
        {"cut in the last eight bytes of its length", std::vector<unsigned char>(whole.begin(), whole.begin() + 45),
         L"QEMU", L"Standard"},
        {"a table past 64 KiB", Table({filler, qemu}), L"QEMU", L"Standard PC", L""},
        {"past its declared length", Table({filler, qemu}, filler.size()), nullptr},
        {"after the end-of-table structure", Table({{127, 4, 0, 0, 0, 0}, qemu}), nullptr},
        {"too short for its names", Table({{1, 5, 0, 0, 1, 'A', 0, 0}}), nullptr},
        {"empty", {}, nullptr},
        {"shorter than its header", {0, 3, 4, 0}, nullptr},
        {"header only", Table({}), nullptr},
        {"structure shorter than its header", Table({bios, badLength}), nullptr},
        {"cut inside the structure's declared length", std::vector<unsigned char>(whole.begin(), whole.begin() + 27),
         nullptr},
        {"cut one byte short of it", std::vector<unsigned char>(whole.begin(), whole.begin() + 28), nullptr},
        {"strings without their final NUL", Table({{0, 4, 0, 0, 'S', 'e', 'a'}}), nullptr},
        {"strings with one final NUL, not two", Table({{0, 4, 0, 0, 'S', 'e', 0}}), nullptr},
    };
    for (const auto& row : rows) {
        const std::unique_ptr<unsigned char[]> exact(new unsigned char[row.Raw.size()]);  // a read past it faults
        std::copy(row.Raw.begin(), row.Raw.end(), exact.get());
        const SystemIdentity system = ParseSmbiosSystem(exact.get(), row.Raw.size());
        EXPECT_EQ(system.Present, row.Maker != nullptr) << row.Case;
        EXPECT_TRUE(row.Maker == nullptr || (system.Manufacturer.View() == row.Maker &&
                                             system.Product.View() == row.Product && system.AssetTag.View() == row.Tag))
            << row.Case;
    }
    const auto raw = Table({bios, qemu});
    EXPECT_TRUE(NamesVirtualMachine(ParseSmbiosSystem(raw.data(), raw.size())));
}

TEST(Smbios, VirtualMachineNames)
{
    const struct { const wchar_t* Manufacturer; const wchar_t* Product; bool Virtual; } rows[] = {
        {L"QEMU", L"Standard PC (i440FX + PIIX, 1996)", true}, {L"VMware, Inc.", L"VMware20,1", true},
        {L"innotek GmbH", L"VirtualBox", true}, {L"Microsoft Corporation", L"Virtual Machine", true},
        {L"FreeBSD", L"BHYVE", true}, {L"Microsoft Corporation", L"Surface Laptop 5", false},
        {L"Dell Inc.", L"Precision 5570", false}, {L"AMAZON EC2", L"", true}, {L"amazon ec2", L"", true},
        {L"XEMU", L"", false},
    };
    for (const auto& row : rows) {
        SystemIdentity system;
        system.Present = true;
        system.Manufacturer.Append(row.Manufacturer), system.Product.Append(row.Product);
        EXPECT_EQ(NamesVirtualMachine(system), row.Virtual) << (&row - rows);
    }
}

}  // namespace
