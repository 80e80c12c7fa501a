// UEFI variables and the restart as Microsoft Learn describes
// GetFirmwareEnvironmentVariableExW (ERROR_ENVVAR_NOT_FOUND for a variable
// that is not there), SetFirmwareEnvironmentVariableExW (size 0 deletes),
// InitiateShutdownW (its Win32 error) and GetSystemMetrics(SM_SHUTTINGDOWN).
// A restart that goes ahead ends the process: here, the reader's thread.
#include <cstdint>
#include <vector>

#include "operator/win32/firmware.h"
#include "tests/win32/expect.h"

namespace {

struct FirmwareWorld {
    unsigned long Type = 2;  // FirmwareTypeUefi
    bool Privilege = true;
    bool HasSupported = true, HasIndications = false;
    std::uint64_t Supported = 1, Indications = 0;
    DWORD WriteRefused = 0, RestoreRefused = 0, Shutdown = 0;
    std::vector<int> ShuttingDown;  // SM_SHUTTINGDOWN's answers; past them the restart ends the process
    std::vector<std::uint64_t> Writes;  // each write's value, ~0 for a deletion
} World;

constexpr std::uint64_t Deleted = ~0ULL;

bool Variable(LPCWSTR Name, LPCWSTR Guid, std::uint64_t*& Value)
{
    const bool global = std::wstring_view(Guid) == L"{8BE4DF61-93CA-11D2-AA0D-00E098032B8C}";
    const std::wstring_view name(Name);
    Value = name == L"OsIndications" ? &World.Indications : name == L"OsIndicationsSupported" ? &World.Supported : nullptr;
    return global && Value != nullptr && (Value == &World.Supported ? World.HasSupported : World.HasIndications);
}

const FirmwareApi Double{
    [](FIRMWARE_TYPE* Type) -> BOOL { return *Type = static_cast<FIRMWARE_TYPE>(World.Type), TRUE; },
    [](LPCWSTR Name, LPCWSTR Guid, PVOID Buffer, DWORD Size, PDWORD) -> DWORD {
        std::uint64_t* value = nullptr;
        if (!Variable(Name, Guid, value) || Size < 8) {
            SetLastError(ERROR_ENVVAR_NOT_FOUND);
            return 0;
        }
        *static_cast<std::uint64_t*>(Buffer) = *value;
        return 8;
    },
    [](LPCWSTR Name, LPCWSTR Guid, PVOID Buffer, DWORD Size, DWORD Attributes) -> BOOL {
        std::uint64_t* value = nullptr;
        Variable(Name, Guid, value);
        World.Writes.push_back(Size == 0 ? Deleted : *static_cast<std::uint64_t*>(Buffer));
        const DWORD refused = World.Writes.size() == 1 ? World.WriteRefused : World.RestoreRefused;
        if (refused != 0 || Attributes != 7 || value != &World.Indications) {
            SetLastError(refused != 0 ? refused : ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return TRUE;
    },
    [](const wchar_t*) { return World.Privilege; },
    [](LPWSTR, LPWSTR, DWORD, DWORD Flags, DWORD) { return Flags == SHUTDOWN_RESTART ? World.Shutdown : ERROR_BAD_ARGUMENTS; },
    [](int Index) {
        if (Index != SM_SHUTTINGDOWN || World.ShuttingDown.empty()) {
            ExitThread(0);  // the restart went ahead
        }
        const int answer = World.ShuttingDown.front();
        World.ShuttingDown.erase(World.ShuttingDown.begin());
        return answer;
    },
    [](DWORD) {},
};

struct Attempt {
    bool Returned = false;
    FirmwareRestart Restart;
};

Attempt Restart()
{
    Attempt attempt;
    const HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* Into) -> DWORD {
            auto* into = static_cast<Attempt*>(Into);
            into->Restart = RestartIntoFirmwareSetup(Double);
            into->Returned = true;
            return 0;
        },
        &attempt, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return attempt;
}

}  // namespace

void FirmwareTable()
{
    const struct { const char* Case; FirmwareWorld World; bool SupportRead; } facts[] = {
        {"UEFI that can open its setup", {}, true},
        {"legacy BIOS", {1}, false},
        {"the privilege withheld", {2, false}, false},
        {"OsIndicationsSupported absent", {2, true, false}, false},
    };
    for (const auto& row : facts) {
        World = row.World;
        const FirmwareFacts read = ReadFirmwareFacts(Double);
        EXPECT(read.FunctionsPresent && read.Type == row.World.Type && read.SupportRead == row.SupportRead &&
                   read.Supported == (row.SupportRead ? 1 : 0),
               row.Case);
    }
    EXPECT(!ReadFirmwareFacts(FirmwareApi{}).FunctionsPresent, "the functions missing");

    const std::vector<int> cancelled = {0, 1, 1, 0};
    const struct {
        const char* Case;
        FirmwareWorld World;
        bool Returned, Cancelled, Restored;
        DWORD Error;
        std::vector<std::uint64_t> Writes;
    } restarts[] = {
        {"no OsIndications yet", {2, true, true, false, 1, 0, 0, 0, 0, {0, 1}}, false, false, false, 0, {1}},
        {"other bits kept", {2, true, true, true, 1, 0x40, 0, 0, 0, {1}}, false, false, false, 0, {0x41}},
        {"a request already pending stays", {2, true, true, true, 1, 0x41, 0, 0, 0, {1}}, false, false, false, 0, {0x41}},
        {"the write refused", {2, true, true, true, 1, 0x40, ERROR_ACCESS_DENIED}, true, false, false, ERROR_ACCESS_DENIED,
         {0x41}},
        {"the restart refused: put back", {2, true, true, true, 1, 0x40, 0, 0, ERROR_SHUTDOWN_IN_PROGRESS}, true, false,
         true, ERROR_SHUTDOWN_IN_PROGRESS, {0x41, 0x40}},
        {"the restart refused: removed again", {2, true, true, false, 1, 0, 0, 0, ERROR_SHUTDOWN_IN_PROGRESS}, true,
         false, true, ERROR_SHUTDOWN_IN_PROGRESS, {1, Deleted}},
        {"the restart cancelled", {2, true, true, true, 1, 0x40, 0, 0, 0, cancelled}, true, true, true, 0, {0x41, 0x40}},
        {"the restart never began", {2, true, true, true, 1, 0x40, 0, 0, 0, std::vector<int>(60, 0)}, true, true, true,
         0, {0x41, 0x40}},
        {"the restore refused", {2, true, true, true, 1, 0x40, 0, ERROR_ACCESS_DENIED, 1115}, true, false, false, 1115,
         {0x41, 0x40}},
    };
    for (const auto& row : restarts) {
        World = row.World;
        const Attempt attempt = Restart();
        EXPECT(attempt.Returned == row.Returned && World.Writes == row.Writes, row.Case);
        EXPECT(!row.Returned || (attempt.Restart.Cancelled == row.Cancelled && attempt.Restart.Restored == row.Restored &&
                                 attempt.Restart.Error == row.Error), row.Case);
        EXPECT(row.Restored || !row.Returned || attempt.Restart.RestoreError == row.World.RestoreRefused, row.Case);
    }
}
