// Loads the driver on the simulated machine and reads back its report.
#pragma once

#include <gtest/gtest.h>
#include <string>

#include "driver/driver_entry.h"
#include "tests/sim/simulation.h"

namespace harness {

constexpr const char* ReportKey = "\\Registry\\Machine\\Software\\Korimath";

// A leaf-0 answer whose vendor text is Twelve (EBX, EDX, ECX order).
CpuidResult VendorLeaf(const std::string& Twelve);

// Puts a 48-byte brand string into leaves 0x80000002..4.
void SetBrand(sim::Processor& Cpu, const std::string& FortyEight);

// A processor of that vendor with every feature off and no optional MSR.
sim::Processor PlainCpu(const std::string& Vendor);

// Calls DriverEntry once on sim::Current(), as the platform would.
NTSTATUS Load(DRIVER_OBJECT& Driver);
NTSTATUS Load();

bool HasValue(const std::string& Name);
const sim::RegistryValue& Value(const std::string& Name);
ULONG Flag(const std::string& Name);
std::u16string Text(const std::string& Name);  // without the trailing NUL

// The log entries, in order, that start with Prefix.
std::vector<std::string> LogEntries(const std::string& Prefix);
// Position of the first log entry equal to Entry, or npos.
std::size_t LogIndex(const std::string& Entry);

// Every test starts on a fresh machine and ends with nothing that would crash
// or leak on a real one: no #GP, no bad free, no overflow, no live buffer.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override
    {
        EXPECT_TRUE(sim::Current().Faults.empty()) << ::testing::PrintToString(sim::Current().Faults);
        EXPECT_TRUE(sim::Current().Os.LiveAllocations.empty()) << "UTF-16 buffer leaked";
        sim::Reset();
    }
};

}  // namespace harness
