// Reads what this Windows has and runs (operator/decisions/windows_side.h):
// its edition, its optional features through the DISM API (elevated only),
// the Windows Hypervisor Platform, virtualization-based security as the
// registry configures it and WMI says it runs, the hypervisor's launch
// setting in the boot configuration, and its launch events. Each reader
// takes the functions it calls as a table (system_library.h).
#pragma once

#include <windows.h>

#include <winhvplatformdefs.h>

#include "operator/decisions/windows_side.h"

// Elevated: whether to ask what only administrators may (DISM, which refuses
// others with 740, and the boot configuration).
WindowsSide ReadWindowsSide(bool Elevated);

// winhvplatform.dll exists only where its feature is on.
struct PlatformApi {
    HRESULT(WINAPI* GetCapability)(WHV_CAPABILITY_CODE, VOID*, UINT32, UINT32*) = nullptr;
};
Platform ReadPlatform(const PlatformApi& Whv);

struct RegistryApi {
    decltype(&RegGetValueW) GetValue = nullptr;
};
// The DeviceGuard and Lsa values, local and those Group Policy and Intune write.
void ReadVbsSettings(const RegistryApi& Registry, Vbs& Security);
