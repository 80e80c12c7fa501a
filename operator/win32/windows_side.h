// Reads what this Windows has and runs (operator/decisions/windows_side.h):
// its edition, its optional features through the DISM API (elevated only),
// the Windows Hypervisor Platform, virtualization-based security, and the
// hypervisor's launch events in the System log.
#pragma once

#include "operator/decisions/windows_side.h"

// Elevated: whether to ask DISM, which refuses others (740).
WindowsSide ReadWindowsSide(bool Elevated);

// The newest event of Microsoft-Windows-Hyper-V-Hypervisor since this boot.
LaunchEvent ReadLaunchEvent();
