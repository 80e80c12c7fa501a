// The System log's account of Microsoft's hypervisor since this boot, through
// the Windows Event Log API (Microsoft Learn, "Querying for Events",
// "Rendering Events", "Formatting Event Messages"), from wevtapi.dll.
#pragma once

#include <windows.h>

#include <winevt.h>

#include "operator/decisions/windows_side.h"

struct EventLogApi {
    decltype(&EvtQuery) Query = nullptr;
    decltype(&EvtNext) Next = nullptr;
    decltype(&EvtCreateRenderContext) CreateRenderContext = nullptr;
    decltype(&EvtRender) Render = nullptr;
    decltype(&EvtOpenPublisherMetadata) OpenPublisherMetadata = nullptr;
    decltype(&EvtFormatMessage) FormatMessage = nullptr;
    decltype(&EvtClose) Close = nullptr;
};
EventLogApi LoadEventLogApi(const class SystemLibrary& Dll);

// The newest event of Microsoft-Windows-Hyper-V-Hypervisor that the System
// process logged since BootTime (FILETIME).
LaunchEvent ReadLaunchEvent(const EventLogApi& Log, unsigned long long BootTime);
