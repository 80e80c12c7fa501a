// Everything the verdict rests on: the driver's report and its freshness,
// what CPUID says now, the hypervisor, Windows' own view, the firmware's
// SMBIOS names, the native machine and whether the driver loaded.
#pragma once

#include "operator/decisions/cpuid_features.h"
#include "operator/decisions/report_freshness.h"
#include "operator/decisions/windows_side.h"
#include "operator/decisions/windows_view.h"

struct DriverLoad {
    bool Attempted = false;  // run tried to load the driver this time
    bool Failed = false;     // ... and it did not load
    unsigned long Error = 0;
};

struct MachineFacts {
    Report Values;  // with KeepOwnVendorsValues applied
    ReportFreshness Freshness;
    ProcessorIdentity Processor;  // what CPUID says now
    CpuidFeatures Cpu;
    HypervisorFacts Hypervisor;
    WindowsView Windows;
    WindowsSide Side;  // edition, features, the platform, VBS, the hypervisor's launch
    SystemIdentity System;
    bool NativeX64 = true;  // false on Windows on Arm, which runs this program emulated
    DriverLoad Driver;
};
