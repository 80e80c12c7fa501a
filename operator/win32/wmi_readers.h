// What Windows documents through WMI: which virtualization-based security
// services run (Win32_DeviceGuard) and the hypervisor's launch setting in the
// boot configuration (the BCD WMI provider). COM's own calls come as a table,
// which the tests under Wine fill with doubles of WMI's interfaces.
#pragma once

#include <windows.h>

#include <objbase.h>

#include "operator/decisions/windows_side.h"

struct ComApi {
    decltype(&CoInitializeEx) Initialize = nullptr;
    decltype(&CoUninitialize) Uninitialize = nullptr;
    decltype(&CoInitializeSecurity) InitializeSecurity = nullptr;
    decltype(&CoCreateInstance) CreateInstance = nullptr;
    decltype(&CoSetProxyBlanket) SetProxyBlanket = nullptr;
};
ComApi WindowsCom();

// Win32_DeviceGuard in ROOT\Microsoft\Windows\DeviceGuard (Microsoft Learn,
// "Enable virtualization-based protection of code integrity", validating
// VBS): VirtualizationBasedSecurityStatus and the security services
// configured and running; or why it could not be read.
void ReadDeviceGuard(const ComApi& Com, Vbs& Security);

// BcdStore.OpenStore(""), OpenObject({current}) and GetElement of
// BcdOSLoaderInteger_HypervisorLaunchType (0x250000F0) in ROOT\WMI (Microsoft
// Learn, "BCD WMI Provider Classes"); administrators only.
void ReadLaunchSetting(const ComApi& Com, WindowsSide& Side);
