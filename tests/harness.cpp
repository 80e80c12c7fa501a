#include "tests/harness.h"

#include <cstring>
#include <gtest/gtest.h>

namespace harness {

namespace {

ULONG Pack(const std::string& Text, std::size_t Offset)
{
    ULONG value = 0;
    std::memcpy(&value, Text.data() + Offset, sizeof(value));
    return value;
}

}  // namespace

CpuidResult VendorLeaf(const std::string& Twelve)
{
    EXPECT_EQ(Twelve.size(), 12U);
    return CpuidResult{0x16, Pack(Twelve, 0), Pack(Twelve, 8), Pack(Twelve, 4)};
}

void SetBrand(sim::Processor& Cpu, const std::string& FortyEight)
{
    EXPECT_EQ(FortyEight.size(), 48U);
    for (ULONG block = 0; block < 3; ++block) {
        CpuidResult result{};
        std::memcpy(&result, FortyEight.data() + 16 * block, sizeof(result));
        Cpu.Cpuid[0x80000002 + block] = result;
    }
}

sim::Processor PlainCpu(const std::string& Vendor)
{
    sim::Processor cpu;
    cpu.Cpuid[0] = VendorLeaf(Vendor);
    SetBrand(cpu, std::string("Simulated Processor") + std::string(29, '\0'));
    return cpu;
}

NTSTATUS Load(DRIVER_OBJECT& Driver)
{
    UNICODE_STRING registryPath{};
    sim::Current().Os.WatchedDriver = &Driver;
    const NTSTATUS status = DriverEntry(&Driver, &registryPath);
    sim::Current().Os.WatchedDriver = nullptr;
    return status;
}

NTSTATUS Load()
{
    DRIVER_OBJECT driver{};
    return Load(driver);
}

bool HasValue(const std::string& Name)
{
    const auto& registry = sim::Current().Os.Registry;
    const auto key = registry.find(ReportKey);
    return key != registry.end() && key->second.count(Name) != 0;
}

const sim::RegistryValue& Value(const std::string& Name)
{
    static const sim::RegistryValue missing{};
    if (!HasValue(Name)) {
        ADD_FAILURE() << "no value " << Name;
        return missing;
    }
    return sim::Current().Os.Registry.at(ReportKey).at(Name);
}

ULONG Flag(const std::string& Name)
{
    const sim::RegistryValue& value = Value(Name);
    EXPECT_EQ(value.Type, static_cast<ULONG>(REG_DWORD)) << Name;
    EXPECT_EQ(value.Data.size(), 4U) << Name;
    ULONG flag = 0xFFFFFFFF;
    if (value.Data.size() == 4) {
        std::memcpy(&flag, value.Data.data(), sizeof(flag));
    }
    return flag;
}

std::u16string Text(const std::string& Name)
{
    const sim::RegistryValue& value = Value(Name);
    EXPECT_EQ(value.Type, static_cast<ULONG>(REG_SZ)) << Name;
    std::u16string text(value.Data.size() / 2, u'\0');
    std::memcpy(text.data(), value.Data.data(), text.size() * 2);
    EXPECT_FALSE(text.empty()) << Name << " lacks its NUL";
    if (!text.empty()) {
        EXPECT_EQ(text.back(), u'\0') << Name << " is not NUL-terminated";
        text.pop_back();
    }
    return text;
}

std::vector<std::string> LogEntries(const std::string& Prefix)
{
    std::vector<std::string> entries;
    for (const std::string& entry : sim::Current().Log) {
        if (entry.rfind(Prefix, 0) == 0) {
            entries.push_back(entry);
        }
    }
    return entries;
}

std::size_t LogIndex(const std::string& Entry)
{
    const auto& log = sim::Current().Log;
    for (std::size_t i = 0; i < log.size(); ++i) {
        if (log[i] == Entry) {
            return i;
        }
    }
    return std::string::npos;
}

}  // namespace harness
