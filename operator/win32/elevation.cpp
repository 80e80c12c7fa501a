#include "operator/win32/elevation.h"

#include <windows.h>
#include <shellapi.h>

#include "operator/decisions/command_line.h"
#include "operator/decisions/exit_codes.h"
#include "operator/decisions/text.h"
#include "operator/win32/wide_buffer.h"

bool IsElevated()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    const BOOL ok = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size);
    CloseHandle(token);
    return ok && elevation.TokenIsElevated != 0;
}

int RelaunchElevated(Output& To)
{
    WideBuffer program;
    if (!FillGrowing(program, [](wchar_t* Chars, DWORD Capacity) {
            return GetModuleFileNameW(nullptr, Chars, Capacity);
        })) {
        SayError(To, L"cannot find this program's own path", GetLastError());
        return ExitNotElevated;
    }
    // The elevated copy starts in System32, not in the (user-writable) folder
    // this one was started from.
    WideBuffer system;
    if (!FillGrowing(system, [](wchar_t* Chars, DWORD Capacity) { return GetSystemDirectoryW(Chars, Capacity); })) {
        SayError(To, L"cannot find System32", GetLastError());
        return ExitNotElevated;
    }
    FixedText<64> parameters;
    parameters.Append(L"run ");
    parameters.Append(FromExplorerMarker);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.lpVerb = L"runas";
    info.lpFile = program.CStr();
    info.lpParameters = parameters.CStr();
    info.lpDirectory = system.CStr();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) {
        return ExitDone;
    }
    SayError(To, L"cannot run as administrator", GetLastError());
    return ExitNotElevated;
}
