// The driver this program carries as a resource, and its copy in
// %SystemRoot%\System32\drivers: the one folder the kernel loads korimath.sys
// from, since only administrators can write there. The copy is written
// under another name with an administrators-only security descriptor and
// renamed over korimath.sys (which replaces a link rather than writing
// through it), then opened without following a reparse point, checked and
// compared byte for byte, and held, readable but not changeable or
// deletable, until the driver has started.
#pragma once

#include <windows.h>

#include <string_view>

#include "operator/decisions/driver_plan.h"
#include "operator/decisions/safeguards.h"
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

class HeldCopy {
public:
    HeldCopy() = default;
    HeldCopy(const HeldCopy&) = delete;
    HeldCopy& operator=(const HeldCopy&) = delete;
    ~HeldCopy() { Release(); }
    void Release();

    // Opens the copy (FILE_FLAG_OPEN_REPARSE_POINT, sharing read only) and
    // checks it: Missing, SameAsCarried (checked, same bytes: held), or
    // Different (other bytes, or a Problem: released).
    SystemCopyState Open(const wchar_t* Path, const CarriedDriver& Driver);
    CopyProblem Problem() const { return problem_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    CopyProblem problem_ = CopyProblem::None;
};

// Each returns ERROR_SUCCESS or the Win32 error. Deleting a copy that is not
// there is no failure.
DWORD WriteSystemCopy(const wchar_t* Path, const CarriedDriver& Driver);
DWORD DeleteSystemCopy(const wchar_t* Path);

// Path.<this process's id>.new: the name a new copy is written under beside
// Path before it is renamed over it, and the file-system probe's; false when
// memory runs out.
bool TemporaryBeside(std::wstring_view Path, WideBuffer& Temporary);

// Deletes the temporary copies (korimath.sys.<pid>.new) a run that died left
// beside Path.
void RemoveCopyLeftovers(const wchar_t* Path);
