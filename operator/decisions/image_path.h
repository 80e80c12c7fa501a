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

// Configured as the service manager stores it; only what the kernel loads
// from System32\drivers or the driver store counts as either. SystemRoot is
// e.g. "C:\Windows".
InstalledImage ClassifyImagePath(std::wstring_view Configured, std::wstring_view SystemRoot);

// The image's file name is korimath.sys, wherever it is: a korimath service of
// ours, which may be repointed, rather than someone else's.
bool NamesKorimathSys(std::wstring_view Configured);

// What this program registers: the kernel resolves \SystemRoot\ itself.
constexpr const wchar_t* SystemCopyImagePath = L"\\SystemRoot\\System32\\drivers\\korimath.sys";
