// The driver image's path as the service manager stores it, turned back into
// the Win32 path a person would type, so that an installed service can be
// compared with the korimath.sys beside the program.
#pragma once

#include <string_view>

#include "operator/text.h"

using PathText = FixedText<1024>;

// Undoes what the service manager and the kernel write into ImagePath:
// surrounding quotes, the "\??\" and "\\?\" prefixes, "\SystemRoot\" and a
// path relative to the Windows folder. SystemRoot is e.g. "C:\Windows".
PathText NormalizeImagePath(std::wstring_view Configured, std::wstring_view SystemRoot);

// A korimath.sys that Windows' driver store holds (installed with
// pnputil /add-driver korimath.inf /install); Path is normalized.
bool IsDriverStoreImage(std::wstring_view Path, std::wstring_view SystemRoot);

// \\server\share\... : a path the kernel's loader cannot reach for a driver.
bool IsUncPath(std::wstring_view Path);

// Case-insensitive for ASCII letters only: enough for the fixed parts of
// Windows paths this program matches; whole paths are compared by Windows.
bool StartsWithIgnoringCase(std::wstring_view Text, std::wstring_view Prefix);
