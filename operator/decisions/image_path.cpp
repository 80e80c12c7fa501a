#include "operator/decisions/image_path.h"

#include "operator/decisions/text.h"

namespace {

// Removes Prefix from Text when Text starts with it.
bool SkipPrefix(std::wstring_view& Text, std::wstring_view Prefix)
{
    if (Text.size() < Prefix.size() || !EqualsIgnoringAsciiCase(Head(Text, Prefix.size()), Prefix)) {
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
    if (EqualsIgnoringAsciiCase(path, L"System32\\drivers\\korimath.sys")) {
        return InstalledImage::SystemCopy;
    }
    // One package folder (korimath.inf_amd64_<hash>: letters, digits and
    // underscores, no stream, drive or other separator), then the image itself.
    if (SkipPrefix(path, L"System32\\DriverStore\\FileRepository\\korimath.inf_")) {
        const std::size_t slash = path.find(L'\\');
        const std::wstring_view folder = Head(path, slash);
        const bool plain = !folder.empty() && folder.find_first_not_of(L"abcdefghijklmnopqrstuvwxyz"
                                                                       L"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
                                                  std::wstring_view::npos;
        if (slash != std::wstring_view::npos && plain &&
            EqualsIgnoringAsciiCase(Tail(path, slash + 1), L"korimath.sys")) {
            return InstalledImage::DriverStore;
        }
    }
    return InstalledImage::Elsewhere;
}

bool NamesKorimathSys(std::wstring_view Configured)
{
    const std::size_t slash = Configured.find_last_of(L"\\/");
    const std::wstring_view name = slash == std::wstring_view::npos ? Configured : Tail(Configured, slash + 1);
    return EqualsIgnoringAsciiCase(name, L"korimath.sys") || EqualsIgnoringAsciiCase(name, L"korimath.sys\"");
}
