#include "operator/win32/copy_inspection.h"

#include <aclapi.h>
#include <sddl.h>

#include "operator/win32/driver_file.h"

namespace {

// This process's user, as its token says.
bool IsSelf(PSID Sid)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    const bool self = GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) &&
                      EqualSid(Sid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
    CloseHandle(token);
    return self;
}

Trustee TrusteeOf(PSID Sid)
{
    if (IsSelf(Sid)) {
        return Trustee::Self;
    }
    if (IsWellKnownSid(Sid, WinLocalSystemSid)) {
        return Trustee::System;
    }
    return IsWellKnownSid(Sid, WinBuiltinAdministratorsSid) ? Trustee::Administrators : Trustee::Other;
}

// Whether this system keeps a file's owner: a file created beside Path with
// CopySddl reads back owned by Administrators on Windows; Wine keeps no
// descriptors and shows every file as its user's.
bool DescriptorsKept(std::wstring_view Path)
{
    WideBuffer probe;  // a leftover of this name is removed like the copy's
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!TemporaryBeside(Path, probe) ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(CopySddl, SDDL_REVISION_1, &descriptor, nullptr)) {
        return true;
    }
    SECURITY_ATTRIBUTES security{sizeof(security), descriptor, FALSE};
    DeleteFileW(probe.CStr());
    const HANDLE file = CreateFileW(probe.CStr(), GENERIC_READ | GENERIC_WRITE, 0, &security, CREATE_NEW,
                                    FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    LocalFree(descriptor);
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR read = nullptr;
    const bool kept = file == INVALID_HANDLE_VALUE ||
                      GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                      nullptr, &read) != ERROR_SUCCESS ||
                      IsWellKnownSid(owner, WinBuiltinAdministratorsSid);
    LocalFree(read);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
    }
    return kept;
}

}  // namespace

CopyProblem InspectCopy(HANDLE File, std::wstring_view Path)
{
    BY_HANDLE_FILE_INFORMATION info{};
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!GetFileInformationByHandle(File, &info) ||
        GetSecurityInfo(File, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return CopyProblem::OthersMayWrite;  // what cannot be read cannot be trusted
    }
    AccessEntry entries[32];
    CopyFacts facts;
    facts.ReparsePoint = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    facts.Links = info.nNumberOfLinks;
    facts.Owner = TrusteeOf(owner);
    facts.DaclPresent = dacl != nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || (ace->AceFlags & INHERIT_ONLY_ACE) != 0) {
            continue;
        }
        const bool known = ace->AceType == ACCESS_ALLOWED_ACE_TYPE || ace->AceType == ACCESS_DENIED_ACE_TYPE;
        auto* simple = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        // Any other kind of entry, or more than fit here, counts as a door left open.
        const bool last = facts.EntryCount == 31;
        entries[facts.EntryCount++] = known && !last ? AccessEntry{ace->AceType == ACCESS_ALLOWED_ACE_TYPE,
                                                                   TrusteeOf(&simple->SidStart), simple->Mask}
                                                     : AccessEntry{true, Trustee::Other, GENERIC_ALL};
        if (last) {
            break;
        }
    }
    facts.Entries = entries;
    bool self = facts.Owner == Trustee::Self;
    for (std::size_t i = 0; i < facts.EntryCount; ++i) {
        self = self || entries[i].Who == Trustee::Self;
    }
    facts.DescriptorsKept = !self || DescriptorsKept(Path);  // asked only where it matters
    const CopyProblem problem = CheckCopy(facts);
    LocalFree(descriptor);
    return problem;
}
