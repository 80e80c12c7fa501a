// Whether the report under HKLM\Software\Korimath is about this boot and this
// processor, and which of its values count: the key outlives reboots, BIOS
// changes, disk images and processor changes.
#pragma once

#include <cstdint>

#include "operator/decisions/hypervisor.h"
#include "operator/decisions/report.h"

struct ReportFreshness {
    bool Known = false;             // the key's last write time could be read
    bool ThisBoot = true;           // written since Windows last started
    bool MatchesProcessor = true;   // CPU_Vendor and CPU_Name are what CPUID says now
    FixedText<24> WrittenUtc;       // "2026-12-07T06:15:45Z"
    bool Stale() const { return !ThisBoot || !MatchesProcessor; }
};

// Times in 100 ns units since 1601-01-01 UTC (FILETIME); UptimeMs is
// GetTickCount64(). LastWrite 0 means unknown.
ReportFreshness AssessFreshness(const Report& Values, const ProcessorIdentity& Now, std::uint64_t LastWrite,
                                std::uint64_t Clock, std::uint64_t UptimeMs);

// "2026-12-07T06:15:45Z": a FILETIME in ISO 8601, UTC.
FixedText<24> Iso8601(std::uint64_t FileTime);

// Only the values the report's own vendor writes count: Intel's eight for
// "GenuineIntel", AMD's three for "AuthenticAMD", none for others. A value of
// another vendor is a leftover of a load on other hardware.
void KeepOwnVendorsValues(Report& Values);
