// The machine the host tests load the driver on: a processor and a kernel
// behind the same declarations the image takes from the hardware and from
// ntoskrnl.exe. Every read and write goes to one log, and whatever would
// crash or corrupt a real machine goes to Faults.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/driver_entry.h"
#include "probe/processor_access.h"

namespace sim {

struct Machine {
    std::map<ULONG, CpuidResult> Cpuid;  // by leaf; any other leaf answers zeros
    std::map<ULONG, ULONG64> Msrs;       // implemented; reading another one is a #GP
    std::set<ULONG> RefusedMsrs;         // reported but refused: a #GP the guarded read absorbs
    ULONG64 Cr0 = 0;
    ULONG64 Cr4 = 0;

    std::set<std::string> FailingWrites;  // value names whose write is refused; "*" for all
    bool FailConversion = false;
    // The report key's values as "sz TEXT" or "dword N"; malformed data shows
    // as "bad ...". A write to any other key is a fault.
    std::map<std::string, std::string> Report;

    std::vector<std::string> Log;  // "cpuid 1", "rdmsr 3A", "cr0", "write CPU_VT", ...
    std::vector<std::string> Faults;
    std::set<const void*> LiveBuffers;
    const DRIVER_OBJECT* Loading = nullptr;  // a write before its unload slot is set is a fault
};

Machine& Current();
void Reset();

// A vendor text (12 characters, stored EBX, EDX, ECX) and a brand text (48
// characters, in leaves 0x80000002..4) as CPUID holds them.
void SetIdentity(Machine& Cpu, const std::string& Vendor, const std::string& Brand);

// DriverEntry as the platform calls it, then the unload routine it left.
NTSTATUS LoadAndUnload();

}  // namespace sim
