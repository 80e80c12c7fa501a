#include "operator/decisions/safeguards.h"

namespace {

// Rights that change the file or who may: FILE_WRITE_DATA, FILE_APPEND_DATA,
// FILE_WRITE_EA, FILE_WRITE_ATTRIBUTES, DELETE, WRITE_DAC, WRITE_OWNER,
// GENERIC_WRITE, GENERIC_ALL (winnt.h).
constexpr unsigned long WriteRights = 0x2 | 0x4 | 0x10 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x40000000 | 0x10000000;

// Windows services' states (winsvc.h).
constexpr unsigned long Stopped = 1, StartPending = 2, StopPending = 3;

}  // namespace

LockOutcome LockOutcomeOf(bool Opened, unsigned long WaitResult)
{
    if (!Opened) {
        return LockOutcome::Unavailable;
    }
    if (WaitResult == 0 || WaitResult == 0x80) {
        return LockOutcome::Held;
    }
    return WaitResult == 0x102 ? LockOutcome::Busy : LockOutcome::Unavailable;
}

CopyProblem CheckCopy(const CopyFacts& Copy)
{
    if (Copy.ReparsePoint) {
        return CopyProblem::ReparsePoint;
    }
    if (Copy.Links > 1) {
        return CopyProblem::HardLinks;
    }
    const auto untrusted = [&](Trustee Who) {
        return Who == Trustee::Other || (Who == Trustee::Self && Copy.DescriptorsKept);
    };
    if (untrusted(Copy.Owner)) {
        return CopyProblem::Owner;
    }
    if (!Copy.DaclPresent) {
        return CopyProblem::OthersMayWrite;
    }
    for (std::size_t i = 0; i < Copy.EntryCount; ++i) {
        const AccessEntry& entry = Copy.Entries[i];
        if (entry.Allow && untrusted(entry.Who) && (entry.Mask & WriteRights) != 0) {
            return CopyProblem::OthersMayWrite;
        }
    }
    return CopyProblem::None;
}

const char* DescribeCopyProblem(CopyProblem Problem)
{
    switch (Problem) {
    case CopyProblem::None:
        return "";
    case CopyProblem::ReparsePoint:
        return "it is a symbolic link or junction";
    case CopyProblem::HardLinks:
        return "it has other names (hard links)";
    case CopyProblem::Owner:
        return "it is owned by someone other than SYSTEM or Administrators";
    case CopyProblem::OthersMayWrite:
        return "its permissions let someone other than SYSTEM or Administrators change it";
    }
    return "";
}

bool WaitEnds(Awaited For, unsigned long State)
{
    if (For == Awaited::Stopped) {
        return State == Stopped;
    }
    return State != StartPending && State != StopPending;  // running, or stopped again: DriverEntry failed
}

wchar_t ForConsole(wchar_t Character, bool Newline)
{
    const wchar_t c = Character;
    const bool lineEnd = Newline && c == L'\n';
    const bool control = (c >= L'\x00' && c < L'\x20') || (c >= L'\x7F' && c <= L'\x9F');
    const bool bidi = c == L'\x061C' || (c >= L'\x202A' && c <= L'\x202E') || (c >= L'\x2066' && c <= L'\x2069');
    // Zero-width space, non-joiner, joiner, LRM and RLM; line and paragraph
    // separators; word joiner and the invisible operators; the byte order mark.
    const bool unseen = (c >= L'\x200B' && c <= L'\x200F') || c == L'\x2028' || c == L'\x2029' ||
                        (c >= L'\x2060' && c <= L'\x2064') || c == L'\xFEFF';
    return (control && !lineEnd) || bidi || unseen ? L'\xFFFD' : c;
}
