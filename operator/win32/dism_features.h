// The optional features that start Microsoft's hypervisor, through the DISM
// API (Microsoft Learn, "DISM API Functions"), from dismapi.dll.
#pragma once

#include <windows.h>

#include <dismapi.h>

#include "operator/decisions/windows_side.h"

// The functions the reader calls; all null where dismapi.dll is missing.
struct DismApi {
    decltype(&DismInitialize) Initialize = nullptr;
    decltype(&DismOpenSession) OpenSession = nullptr;
    decltype(&DismGetFeatureInfo) GetFeatureInfo = nullptr;
    decltype(&DismDelete) Delete = nullptr;
    decltype(&DismCloseSession) CloseSession = nullptr;
    decltype(&DismShutdown) Shutdown = nullptr;
};
DismApi LoadDismApi(const class SystemLibrary& Dll);

// Each feature's state into Side.Features, or why none was read into
// Side.FeaturesError. DISM works in a scratch folder of its own that only
// administrators can write, removed afterwards: the default, %TEMP%, may be
// the user's, and DISM runs what it copies there.
void ReadFeatures(const DismApi& Dism, WindowsSide& Side);
