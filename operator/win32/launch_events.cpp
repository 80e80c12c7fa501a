// The System log's account of Microsoft's hypervisor since this boot, through
// the Windows Event Log API (Microsoft Learn, "Querying for Events",
// "Rendering Events", "Formatting Event Messages"), from wevtapi.dll.
#include <windows.h>

#include <winevt.h>

#include "operator/win32/system_library.h"
#include "operator/win32/windows_side.h"

namespace {

class EventHandle {
public:
    EventHandle(decltype(&EvtClose) Close, EVT_HANDLE Handle) : close_(Close), handle_(Handle) {}
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
    ~EventHandle()
    {
        if (handle_ != nullptr) {
            close_(handle_);
        }
    }
    EVT_HANDLE Get() const { return handle_; }

private:
    decltype(&EvtClose) close_;
    EVT_HANDLE handle_;
};

}  // namespace

LaunchEvent ReadLaunchEvent()
{
    LaunchEvent launch;
    const SystemLibrary log(L"wevtapi.dll");
    const auto query = log.Find<decltype(&EvtQuery)>("EvtQuery");
    const auto next = log.Find<decltype(&EvtNext)>("EvtNext");
    const auto context = log.Find<decltype(&EvtCreateRenderContext)>("EvtCreateRenderContext");
    const auto render = log.Find<decltype(&EvtRender)>("EvtRender");
    const auto publisher = log.Find<decltype(&EvtOpenPublisherMetadata)>("EvtOpenPublisherMetadata");
    const auto format = log.Find<decltype(&EvtFormatMessage)>("EvtFormatMessage");
    const auto close = log.Find<decltype(&EvtClose)>("EvtClose");
    if (query == nullptr || next == nullptr || context == nullptr || render == nullptr || publisher == nullptr ||
        format == nullptr || close == nullptr) {
        return launch;
    }
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG boot = ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
                           GetTickCount64() * 10000;
    // Newest first: the last attempt is the one that counts.
    const EventHandle results(close, query(nullptr, L"System", LaunchEventQuery(boot).CStr(),
                                           EvtQueryChannelPath | EvtQueryReverseDirection));
    if (results.Get() == nullptr) {
        return launch;
    }
    launch.Read = true;
    EVT_HANDLE found = nullptr;
    DWORD returned = 0;
    if (!next(results.Get(), 1, &found, 5000, 0, &returned) || returned != 1) {
        return launch;
    }
    const EventHandle event(close, found);
    LPCWSTR paths[] = {L"Event/System/EventID"};
    const EventHandle values(close, context(1, paths, EvtRenderContextValues));
    EVT_VARIANT id[4] = {};
    DWORD used = 0;
    DWORD count = 0;
    if (values.Get() == nullptr ||
        !render(values.Get(), event.Get(), EvtRenderEventValues, sizeof(id), id, &used, &count) || count != 1) {
        return launch;
    }
    launch.Found = true;
    launch.Id = id[0].Type == EvtVarTypeUInt16 ? id[0].UInt16Val : 0;
    const EventHandle metadata(close, publisher(nullptr, L"Microsoft-Windows-Hyper-V-Hypervisor", nullptr, 0, 0));
    wchar_t text[1024];
    if (metadata.Get() != nullptr &&
        format(metadata.Get(), event.Get(), 0, 0, nullptr, EvtFormatMessageEvent, 1024, text, &used)) {
        launch.Text.Append(text);
    }
    return launch;
}
