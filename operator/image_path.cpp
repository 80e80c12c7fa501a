#include "operator/image_path.h"

namespace {

wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

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

bool HasDriveLetter(std::wstring_view Path)
{
    return Path.size() >= 2 && Path[1] == L':';
}

}  // namespace

bool StartsWithIgnoringCase(std::wstring_view Text, std::wstring_view Prefix)
{
    return Text.size() >= Prefix.size() && EqualsIgnoringCase(Head(Text, Prefix.size()), Prefix);
}

PathText NormalizeImagePath(std::wstring_view Configured, std::wstring_view SystemRoot)
{
    std::wstring_view path = Configured;
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') {
        path = Head(Tail(path, 1), path.size() - 2);
    }
    PathText result;
    if (StartsWithIgnoringCase(path, L"\\??\\UNC\\") || StartsWithIgnoringCase(path, L"\\\\?\\UNC\\")) {
        result.Append(L"\\\\");
        result.Append(Tail(path, 8));
    } else if (StartsWithIgnoringCase(path, L"\\??\\") || StartsWithIgnoringCase(path, L"\\\\?\\")) {
        result.Append(Tail(path, 4));
    } else if (StartsWithIgnoringCase(path, L"\\SystemRoot\\")) {
        result.Append(SystemRoot);
        result.Append(Tail(path, 11));
    } else if (!HasDriveLetter(path) && !path.empty() && path.front() != L'\\') {
        // The kernel takes a relative ImagePath (System32\drivers\x.sys) from the Windows folder.
        result.Append(SystemRoot);
        result.Append(L"\\");
        result.Append(path);
    } else {
        result.Append(path);
    }
    return result;
}

bool IsDriverStoreImage(std::wstring_view Path, std::wstring_view SystemRoot)
{
    PathText store;
    store.Append(SystemRoot);
    store.Append(L"\\System32\\DriverStore\\FileRepository\\");
    if (!StartsWithIgnoringCase(Path, store.View())) {
        return false;
    }
    // One package folder (korimath.inf_amd64_<hash>), then the image itself.
    const std::wstring_view rest = Tail(Path, store.Length);
    const std::size_t slash = rest.find(L'\\');
    return slash != std::wstring_view::npos && StartsWithIgnoringCase(rest, L"korimath.inf_") &&
           EqualsIgnoringCase(Tail(rest, slash + 1), L"korimath.sys");
}

bool IsUncPath(std::wstring_view Path)
{
    if (StartsWithIgnoringCase(Path, L"\\\\?\\UNC\\") || StartsWithIgnoringCase(Path, L"\\??\\UNC\\")) {
        return true;
    }
    return Path.size() >= 3 && Path[0] == L'\\' && Path[1] == L'\\' && Path[2] != L'?' && Path[2] != L'.';
}
