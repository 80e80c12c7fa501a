// The one loop over a folder's names, FindFirstFileW and FindNextFileW, that
// removing leftovers and private folders share.
#pragma once

#include <windows.h>

#include <string_view>

#include "operator/win32/wide_buffer.h"

// Folder, a backslash and Name, in Path; false when memory runs out.
inline bool JoinPath(WideBuffer& Path, std::wstring_view Folder, std::wstring_view Name)
{
    if (!Path.Reserve(Folder.size() + Name.size() + 2)) {
        return false;
    }
    std::char_traits<wchar_t>::copy(Path.Data(), Folder.data(), Folder.size());
    Path.Data()[Folder.size()] = L'\\';
    std::char_traits<wchar_t>::copy(Path.Data() + Folder.size() + 1, Name.data(), Name.size());
    Path.SetLength(Folder.size() + 1 + Name.size());
    return true;
}

// Calls Each(path, found) for every name Pattern ("*", "korimath.sys.*.new")
// matches in Folder, "." and ".." left out. FindFirstFileW lists a link as a
// link; what Each does with it decides whether anything follows it.
template <typename Visit>
void ForEachFileIn(std::wstring_view Folder, std::wstring_view Pattern, Visit Each)
{
    WideBuffer pattern;
    if (!JoinPath(pattern, Folder, Pattern)) {
        return;
    }
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.CStr(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring_view name(found.cFileName);
        WideBuffer path;
        if (name != L"." && name != L".." && JoinPath(path, Folder, name)) {
            Each(path, found);
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
}
