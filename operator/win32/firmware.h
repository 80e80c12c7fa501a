// UEFI firmware variables and the restart into firmware setup (Microsoft
// Learn: GetFirmwareType, GetFirmwareEnvironmentVariableExW,
// SetFirmwareEnvironmentVariableExW, InitiateShutdownW, GetSystemMetrics).
// The functions are looked up at run time: a Windows without them refuses,
// it does not fail to start.
#pragma once

#include <windows.h>

#include "operator/decisions/firmware_setup.h"

struct FirmwareApi {
    BOOL(WINAPI* GetType)(FIRMWARE_TYPE*) = nullptr;
    DWORD(WINAPI* GetVariable)(LPCWSTR, LPCWSTR, PVOID, DWORD, PDWORD) = nullptr;
    BOOL(WINAPI* SetVariable)(LPCWSTR, LPCWSTR, PVOID, DWORD, DWORD) = nullptr;
    bool (*EnablePrivilege)(const wchar_t* Name) = nullptr;
    decltype(&InitiateShutdownW) InitiateShutdown = nullptr;
    decltype(&GetSystemMetrics) GetMetric = nullptr;
    decltype(&Sleep) Wait = nullptr;
};
// Kernel is kernel32.dll, User user32.dll (GetSystemMetrics), loaded at run
// time so that a console program does not import the windowing DLL.
FirmwareApi LoadFirmwareApi(const class SystemLibrary& Kernel, const class SystemLibrary& User);

// Also enables SeSystemEnvironmentPrivilege, which both variable calls need.
FirmwareFacts ReadFirmwareFacts(const FirmwareApi& Firmware);

// Sets bit 0 of OsIndications, keeping its other bits, and restarts; then
// watches the restart. If it cannot start, or is cancelled (a program
// refused to close, and the person chose Cancel), OsIndications is put back
// as it was, or removed where there was none, so the next restart does not
// land in firmware setup unasked. A restart that goes ahead ends this
// process: this returns only when there is none.
FirmwareRestart RestartIntoFirmwareSetup(const FirmwareApi& Firmware);
