// The event log as Microsoft Learn's "Querying for Events", "Rendering Events"
// and "Formatting Event Messages" describe it: newest first with
// EvtQueryReverseDirection; EvtFormatMessage answers ERROR_INSUFFICIENT_BUFFER
// with the size to use, and ERROR_EVT_MESSAGE_NOT_FOUND for a provider
// without message text; every handle is closed.
#include <string>
#include <vector>

#include "operator/win32/launch_events.h"
#include "tests/win32/expect.h"

namespace {

struct Event {
    unsigned short Id;
    unsigned char Level;
    unsigned ProcessId;
    std::wstring Message;  // empty: the provider has no text for it
};

struct LogWorld {
    std::vector<Event> Events;
    size_t Next = 0;
    bool QueryRight = false;
    int Open = 0;  // handles handed out and not closed
} World;

constexpr unsigned long long Boot = 134410977450000000;  // 2026-12-07T06:15:45Z

EVT_HANDLE Handle(size_t Value)
{
    ++World.Open;
    return reinterpret_cast<EVT_HANDLE>(Value);
}

const EventLogApi Double{
    [](EVT_HANDLE, LPCWSTR Path, LPCWSTR Query, DWORD Flags) {
        const std::wstring query(Query);
        World.QueryRight = std::wstring(Path) == L"System" && Flags == (EvtQueryChannelPath | EvtQueryReverseDirection) &&
                           query.find(L"@Name='Microsoft-Windows-Hyper-V-Hypervisor'") != std::wstring::npos &&
                           query.find(L"Execution[@ProcessID=4]") != std::wstring::npos &&
                           query.find(L"@SystemTime>='2026-12-07T06:15:45Z'") != std::wstring::npos;
        return Handle(1);
    },
    [](EVT_HANDLE, DWORD, EVT_HANDLE* Events, DWORD, DWORD, PDWORD Returned) -> BOOL {
        if (World.Next == World.Events.size()) {
            SetLastError(ERROR_NO_MORE_ITEMS);
            return FALSE;
        }
        *Events = Handle(100 + World.Next++);
        *Returned = 1;
        return TRUE;
    },
    [](DWORD Count, LPCWSTR* Paths, DWORD) {
        return Count == 3 && std::wstring(Paths[2]) == L"Event/System/Execution/@ProcessID" ? Handle(2) : nullptr;
    },
    [](EVT_HANDLE, EVT_HANDLE Fragment, DWORD, DWORD Size, PVOID Buffer, PDWORD, PDWORD Count) -> BOOL {
        const Event& event = World.Events[reinterpret_cast<size_t>(Fragment) - 100];
        auto* values = static_cast<EVT_VARIANT*>(Buffer);
        values[0].UInt16Val = event.Id, values[0].Type = EvtVarTypeUInt16;
        values[1].ByteVal = event.Level, values[1].Type = EvtVarTypeByte;
        values[2].UInt32Val = event.ProcessId, values[2].Type = EvtVarTypeUInt32;
        *Count = 3;
        return Size >= 3 * sizeof(EVT_VARIANT);
    },
    [](EVT_HANDLE, LPCWSTR Provider, LPCWSTR, LCID, DWORD) {
        return std::wstring(Provider) == L"Microsoft-Windows-Hyper-V-Hypervisor" ? Handle(3) : nullptr;
    },
    [](EVT_HANDLE, EVT_HANDLE Event, DWORD, DWORD, PEVT_VARIANT, DWORD, DWORD Size, LPWSTR Buffer, PDWORD Used) -> BOOL {
        const std::wstring& message = World.Events[reinterpret_cast<size_t>(Event) - 100].Message;
        *Used = static_cast<DWORD>(message.size() + 1);
        if (message.empty() || Size < *Used) {
            SetLastError(message.empty() ? ERROR_EVT_MESSAGE_NOT_FOUND : ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        message.copy(Buffer, message.size());
        Buffer[message.size()] = 0;
        return TRUE;
    },
    [](EVT_HANDLE) { return --World.Open, TRUE; },
};

}  // namespace

void EventLogTable()
{
    const std::wstring longText(1500, L'x');
    const struct {
        const char* Case;
        std::vector<Event> Events;
        bool Loaded, Found;
        unsigned long Id, Level;
        std::wstring Text;
    } rows[] = {
        {"wevtapi.dll absent", {}, false, false, 0, 0, L""},
        {"no events since the boot", {}, true, false, 0, 0, L""},
        {"one: launch turned off", {{5, 2, 4, L"Hyper-V launch aborted"}}, true, true, 5, 2, L"Hyper-V launch aborted"},
        {"several, newest first", {{41, 2, 4, L"newest"}, {1, 4, 4, L"older"}}, true, true, 41, 2, L"newest"},
        {"another writer's event first", {{5, 2, 1234, L"forged"}, {1, 4, 4, L"started"}}, true, true, 1, 4, L"started"},
        {"longer than the first buffer", {{41, 2, 4, longText}}, true, true, 41, 2, longText.substr(0, 1017) + L" [cut]"},
        {"a provider without message text", {{2, 4, 4, L""}}, true, true, 2, 4, L""},
    };
    for (const auto& row : rows) {
        World = LogWorld{row.Events};
        const LaunchEvent launch = ReadLaunchEvent(row.Loaded ? Double : EventLogApi{}, Boot);
        EXPECT(launch.Read == row.Loaded && launch.Found == row.Found && launch.Id == row.Id && launch.Level == row.Level,
               row.Case);
        EXPECT(launch.Text.View() == row.Text && (!row.Loaded || World.QueryRight) && World.Open == 0, row.Case);
    }
}
