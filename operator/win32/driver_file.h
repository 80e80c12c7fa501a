// The driver this program carries as a resource, and its copy in
// %SystemRoot%\System32\drivers: the one folder the kernel loads korimath.sys
// from, since only administrators can write there. Nothing beside the
// program is ever loaded.
#pragma once

#include <windows.h>

#include <string_view>

#include "operator/decisions/driver_plan.h"
#include "operator/win32/wide_buffer.h"

struct CarriedDriver {
    const BYTE* Bytes = nullptr;
    DWORD Size = 0;
};

// The resource, or {nullptr, 0} when the program carries none (a damaged
// file).
CarriedDriver FindCarriedDriver();

// The Windows folder (C:\Windows), and in it the Win32 form of
// SystemCopyImagePath (C:\Windows\System32\drivers\korimath.sys); false
// when Windows does not say where it is.
bool WindowsFolder(WideBuffer& Path);
bool SystemCopyPath(std::wstring_view Windows, WideBuffer& Path);

// Compares the copy with the carried bytes.
SystemCopyState InspectSystemCopy(const wchar_t* Path, const CarriedDriver& Driver);

// Each returns ERROR_SUCCESS or the Win32 error. Writing replaces any earlier
// copy; deleting a copy that is not there is no failure.
DWORD WriteSystemCopy(const wchar_t* Path, const CarriedDriver& Driver);
DWORD DeleteSystemCopy(const wchar_t* Path);
