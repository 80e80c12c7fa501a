// The one loop over a folder's names, FindFirstFileW and FindNextFileW, that
// removing leftovers and private folders share.
#pragma once

#include <windows.h>

#include <string_view>

#include "operator/win32/wide_buffer.h"

// Calls Each(path, found) for every name Pattern ("*", "korimath.sys.*.new")
// matches in Folder, "." and ".." left out. FindFirstFileW lists a link as a
// link; what Each does with it decides whether anything follows it.
template <typename Visit>
void ForEachFileIn(std::wstring_view Folder, std::wstring_view Pattern, Visit Each)
{
    WideBuffer pattern;
    if (!Concatenate(pattern, {Folder, L"\\", Pattern})) {
        return;
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.CStr(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring_view name(found.cFileName);
        WideBuffer path;
        if (name != L"." && name != L".." && Concatenate(path, {Folder, L"\\", name})) {
            Each(path, found);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
}
