#include "operator/win32/launch_events.h"

#include "operator/win32/system_library.h"
#include "operator/win32/wide_buffer.h"

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

// How many of the newest events are looked at for one the System process logged.
constexpr int EventsLookedAt = 8;

// Windows' own message for the event, localized: shown, never parsed; cut
// with a mark where it is longer than the event's text holds.
void FormatText(const EventLogApi& Log, EVT_HANDLE Event, LaunchEvent& Launch)
{
    const EventHandle metadata(Log.Close,
                               Log.OpenPublisherMetadata(nullptr, L"Microsoft-Windows-Hyper-V-Hypervisor", nullptr, 0, 0));
    if (metadata.Get() == nullptr) {
        return;
    }
    wchar_t first[256];
    DWORD used = 0;
    if (Log.FormatMessage(metadata.Get(), Event, 0, 0, nullptr, EvtFormatMessageEvent, 256, first, &used)) {
        Launch.Text.AppendOrCut(first);
        return;
    }
    WideBuffer whole;  // longer than the first buffer: Windows said how long
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER && whole.Reserve(used) &&
        Log.FormatMessage(metadata.Get(), Event, 0, 0, nullptr, EvtFormatMessageEvent, used, whole.Data(), &used)) {
        Launch.Text.AppendOrCut(whole.CStr());
    }
}

}  // namespace

EventLogApi LoadEventLogApi(const SystemLibrary& Dll)
{
    return EventLogApi{KORIMATH_FIND(Dll, EvtQuery),  KORIMATH_FIND(Dll, EvtNext),
                       KORIMATH_FIND(Dll, EvtCreateRenderContext), KORIMATH_FIND(Dll, EvtRender),
                       KORIMATH_FIND(Dll, EvtOpenPublisherMetadata), KORIMATH_FIND(Dll, EvtFormatMessage),
                       KORIMATH_FIND(Dll, EvtClose)};
}

LaunchEvent ReadLaunchEvent(const EventLogApi& Log, unsigned long long BootTime)
{
    LaunchEvent launch;
    if (Log.Query == nullptr || Log.Next == nullptr || Log.CreateRenderContext == nullptr || Log.Render == nullptr ||
        Log.OpenPublisherMetadata == nullptr || Log.FormatMessage == nullptr || Log.Close == nullptr) {
        return launch;
    }
    // Newest first: the last attempt is the one that counts.
    const EventHandle results(Log.Close, Log.Query(nullptr, L"System", LaunchEventQuery(BootTime).CStr(),
                                                   EvtQueryChannelPath | EvtQueryReverseDirection));
    if (results.Get() == nullptr) {
        return launch;  // before any other call: Wine exports the rest as stubs that raise
    }
    LPCWSTR paths[] = {L"Event/System/EventID", L"Event/System/Level", L"Event/System/Execution/@ProcessID"};
    const EventHandle values(Log.Close, Log.CreateRenderContext(3, paths, EvtRenderContextValues));
    if (values.Get() == nullptr) {
        return launch;
    }
    launch.Read = true;
    for (int i = 0; i < EventsLookedAt; ++i) {
        EVT_HANDLE found = nullptr;
        DWORD returned = 0;
        if (!Log.Next(results.Get(), 1, &found, 5000, 0, &returned) || returned != 1) {
            break;
        }
        const EventHandle event(Log.Close, found);
        EVT_VARIANT value[3] = {};
        DWORD used = 0;
        DWORD count = 0;
        if (!Log.Render(values.Get(), event.Get(), EvtRenderEventValues, sizeof(value), value, &used, &count) ||
            count != 3 || !FromSystemProcess(value[2].Type == EvtVarTypeUInt32 ? value[2].UInt32Val : 0)) {
            continue;  // not the hypervisor's own: another writer used its provider name
        }
        launch.Found = true;
        launch.Id = value[0].Type == EvtVarTypeUInt16 ? value[0].UInt16Val : 0;
        launch.Level = value[1].Type == EvtVarTypeByte ? value[1].ByteVal : 0;
        FormatText(Log, event.Get(), launch);
        break;
    }
    return launch;
}
