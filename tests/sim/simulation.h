// The machine the host tests load the driver on: a scripted processor and a
// simulated kernel (registry, string conversion, sprintf_s) behind the same
// declarations the driver image takes from the hardware and ntoskrnl.exe.
// Both record every call in one ordered log.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "probe/processor_access.h"

namespace sim {

struct RegistryValue {
    ULONG Type = 0;
    std::vector<std::uint8_t> Data;
    bool operator==(const RegistryValue&) const = default;
};

// Key path and value names are held as ASCII, which is all the driver uses.
using RegistryKey = std::map<std::string, RegistryValue>;

struct Processor {
    // CPUID answers by leaf (sub-leaf 0); a leaf not listed answers zeros.
    std::map<ULONG, CpuidResult> Cpuid;
    // Implemented MSRs. Reading any other one is a #GP, which in a driver is a
    // crash: it is recorded as a fault.
    std::map<ULONG, ULONG64> Msrs;
    // MSRs a hypervisor refuses although it reports their feature: the read
    // raises #GP, which the driver's guarded read must absorb.
    std::set<ULONG> RefusedMsrs;
    ULONG64 Cr0 = 0;
    ULONG64 Cr4 = 0;
};

struct Kernel {
    std::map<std::string, RegistryKey> Registry;
    bool FailEveryWrite = false;
    std::set<std::string> FailingWrites;  // value names whose write is refused
    bool FailConversion = false;
    std::set<const void*> LiveAllocations;
    // When set, a registry write before its unload slot is filled is a fault.
    const DRIVER_OBJECT* WatchedDriver = nullptr;
};

struct Machine {
    Processor Cpu;
    Kernel Os;
    std::vector<std::string> Log;     // every call, in order
    std::vector<std::string> Faults;  // what would crash or corrupt a real machine
};

// The one machine the simulated routines act on; Reset() gives a new one.
Machine& Current();
void Reset();

std::string ToAscii(PCWSTR Text);

}  // namespace sim
