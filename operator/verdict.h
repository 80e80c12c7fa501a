// The verdict: what the driver's report and what Windows and CPUID say now
// mean for a person who wants to run virtual machines, as one stable id and
// one text that names the values it rests on.
#pragma once

#include "operator/hypervisor.h"
#include "operator/report.h"
#include "operator/report_freshness.h"
#include "operator/smbios.h"

// Windows' own view (IsProcessorFeaturePresent), which Microsoft defines only
// while no hypervisor is present: under one, even in the root partition, both
// read 0.
struct WindowsView {
    bool Meaningful = false;       // no hypervisor reported by CPUID
    bool FirmwareEnabled = false;  // PF_VIRT_FIRMWARE_ENABLED (21)
    bool Slat = false;             // PF_SECOND_LEVEL_ADDRESS_TRANSLATION (20)
    bool MemoryIntegrityKnown = false;
    bool MemoryIntegrityRunning = false;  // CODEINTEGRITY_OPTION_HVCI_KMCI_ENABLED
};

struct DriverLoad {
    bool Failed = false;  // run could not load the driver this time
    unsigned long Error = 0;
};

struct MachineFacts {
    Report Values;  // with KeepOwnVendorsValues applied
    ReportFreshness Freshness;
    ProcessorIdentity Processor;  // what CPUID says now
    HypervisorFacts Hypervisor;
    WindowsView Windows;
    SystemIdentity System;
    bool NativeX64 = true;  // false on Windows on Arm, which runs this program emulated
    DriverLoad Driver;
};

struct Verdict {
    const wchar_t* Id = L"";  // stable: installers and fleet tools match on it
    FixedText<2048> Text;
};

Verdict DecideVerdict(const MachineFacts& Facts);
