// Where the installed korimath service loads its image from, read from the
// ImagePath the service manager stores, by text alone and for a path of any
// length: nothing is copied into a bounded buffer.
#pragma once

#include <string_view>

enum class InstalledImage {
    SystemCopy,   // %SystemRoot%\System32\drivers\korimath.sys, which only administrators can write
    DriverStore,  // a driver-store copy, installed with pnputil /add-driver korimath.inf /install
    Elsewhere,    // anywhere else: a user's folder, a share, a file that is gone
};

// Configured as the service manager and the kernel accept it: quoted or not,
// "\??\" or "\\?\", "\SystemRoot\", relative to the Windows folder, or a
// Win32 path. SystemRoot is e.g. "C:\Windows".
InstalledImage ClassifyImagePath(std::wstring_view Configured, std::wstring_view SystemRoot);

// What this program registers: the kernel resolves \SystemRoot\ itself.
constexpr const wchar_t* SystemCopyImagePath = L"\\SystemRoot\\System32\\drivers\\korimath.sys";
