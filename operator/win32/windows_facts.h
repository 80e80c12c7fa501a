// What Windows itself says about the machine, beside the driver's report:
// its virtualization flags, memory integrity, the firmware's SMBIOS names and
// the processor it really runs on.
#pragma once

#include "operator/decisions/smbios.h"
#include "operator/decisions/windows_view.h"

// IsProcessorFeaturePresent's flags (meaningful only without a hypervisor)
// and whether memory integrity runs.
WindowsView ReadWindowsView(bool HypervisorPresent);

SystemIdentity ReadSystemIdentity();

// False on Windows on Arm, where this x64 program runs emulated and an x64
// driver cannot load.
bool NativeMachineIsX64();
