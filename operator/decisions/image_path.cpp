#include "operator/decisions/image_path.h"

#include "operator/decisions/text.h"

namespace {

wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Case-insensitive for ASCII letters, as Windows compares the fixed parts of
// these paths; the Windows folder's own name comes from Windows itself.
bool EqualsIgnoringCase(std::wstring_view A, std::wstring_view B)
{
    if (A.size() != B.size()) {
        return false;
    }
    for (std::size_t i = 0; i < A.size(); ++i) {
        if (FoldAscii(A[i]) != FoldAscii(B[i])) {
            return false;
        }
    }
    return true;
}

// Removes Prefix from Text when Text starts with it.
bool SkipPrefix(std::wstring_view& Text, std::wstring_view Prefix)
{
    if (Text.size() < Prefix.size() || !EqualsIgnoringCase(Head(Text, Prefix.size()), Prefix)) {
        return false;
    }
    Text.remove_prefix(Prefix.size());
    return true;
}

bool HasDriveLetter(std::wstring_view Path)
{
    return Path.size() >= 2 && Path[1] == L':';
}

}  // namespace

InstalledImage ClassifyImagePath(std::wstring_view Configured, std::wstring_view SystemRoot)
{
    // Only the forms the kernel itself loads from: "\SystemRoot\...", a path
    // relative to the Windows folder, or "\??\" and the Windows folder. A
    // quoted path, a bare "C:\..." or a "\\?\" path is a Win32 form the I/O
    // manager does not take for a driver: elsewhere, and repaired.
    std::wstring_view path = Configured;
    if (!SkipPrefix(path, L"\\SystemRoot\\")) {
        const bool nt = SkipPrefix(path, L"\\??\\");
        if (nt ? !SkipPrefix(path, SystemRoot) || !SkipPrefix(path, L"\\")
               : path.empty() || path.front() == L'\\' || path.front() == L'"' || HasDriveLetter(path)) {
            return InstalledImage::Elsewhere;  // another folder, a share, another NT path, or nothing at all
        }
    }
    if (EqualsIgnoringCase(path, L"System32\\drivers\\korimath.sys")) {
        return InstalledImage::SystemCopy;
    }
    // One package folder (korimath.inf_amd64_<hash>), then the image itself.
    if (SkipPrefix(path, L"System32\\DriverStore\\FileRepository\\korimath.inf_")) {
        const std::size_t slash = path.find(L'\\');
        if (slash != std::wstring_view::npos && EqualsIgnoringCase(Tail(path, slash + 1), L"korimath.sys")) {
            return InstalledImage::DriverStore;
        }
    }
    return InstalledImage::Elsewhere;
}

bool NamesKorimathSys(std::wstring_view Configured)
{
    const std::size_t slash = Configured.find_last_of(L"\\/");
    const std::wstring_view name = slash == std::wstring_view::npos ? Configured : Tail(Configured, slash + 1);
    return EqualsIgnoringCase(name, L"korimath.sys") || EqualsIgnoringCase(name, L"korimath.sys\"");
}
