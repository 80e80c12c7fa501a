// The decisions behind what korimath.exe guarantees against a local
// non-administrator: its lock, its service's and its driver file's security,
// the checks on the System32 copy, the service waits, and what reaches the
// console. operator/win32 carries them out.
#pragma once

#include <cstddef>
#include <string_view>

// The lock: a mutex in a private namespace whose boundary holds the
// Administrators SID, both with this DACL (SYSTEM and Administrators only),
// so a standard user (whose Administrators SID is deny-only) can neither
// create it first nor open it.
constexpr const wchar_t* AdministratorsOnlySddl = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
constexpr const wchar_t* LockBoundarySid = L"S-1-5-32-544";  // BUILTIN\Administrators
constexpr const wchar_t* LockNamespace = L"Korimath";
constexpr const wchar_t* LockName = L"Korimath\\InstallRunRemove";

enum class LockOutcome { Held, Busy, Unavailable };
// WaitForSingleObject's result on the opened mutex: WAIT_OBJECT_0 (0), or
// WAIT_ABANDONED (0x80), when its holder ended without letting go, holds it;
// WAIT_TIMEOUT (0x102) is another korimath still at work.
LockOutcome LockOutcomeOf(bool Opened, unsigned long WaitResult);

// A folder only SYSTEM and Administrators may open, theirs and what it holds
// (DISM's scratch folder).
constexpr const wchar_t* AdministratorsOnlyFolderSddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// The service korimath creates: full control for SYSTEM and Administrators,
// nothing for interactive, authenticated or other users.
constexpr const wchar_t* ServiceSddl = L"D:P(A;;CCLCSWRPWPDTLOCRSDRCWDWO;;;SY)(A;;CCLCSWRPWPDTLOCRSDRCWDWO;;;BA)";

// The System32 copy: written with this security descriptor (Administrators
// own it; SYSTEM and Administrators alone may open it), then checked as found.
constexpr const wchar_t* CopySddl = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)";

// Self is this process's own user. An administrator's own account also runs
// unelevated (a split token), so a file it owns or may write is changeable
// without elevation: trusted only where the system keeps no owners and DACLs
// at all (DescriptorsKept false: Wine, which shows every file as its user's).
enum class Trustee { System, Administrators, Self, Other };
struct AccessEntry {
    bool Allow;
    Trustee Who;
    unsigned long Mask;
};
struct CopyFacts {
    bool ReparsePoint = false;  // a symbolic link or junction: what loads is elsewhere
    unsigned long Links = 1;    // hard links: another name may be writable
    Trustee Owner = Trustee::Other;
    bool DaclPresent = false;   // a NULL DACL lets everyone in
    const AccessEntry* Entries = nullptr;
    std::size_t EntryCount = 0;
    bool DescriptorsKept = true;  // a file created with CopySddl reads back owned by Administrators
};
enum class CopyProblem { None, ReparsePoint, HardLinks, Owner, OthersMayWrite };
CopyProblem CheckCopy(const CopyFacts& Copy);
const char* DescribeCopyProblem(CopyProblem Problem);

// Whether a service's state ends the wait for Running (started, or stopped
// again because DriverEntry failed) or for Stopped.
enum class Awaited { Running, Stopped };
bool WaitEnds(Awaited For, unsigned long State);

// What may reach a console: C0 and C1 controls, DEL, the bidirectional
// controls, the line and paragraph separators and the zero-width characters
// become U+FFFD, so a string from CPUID, SMBIOS, the registry, a service's
// configuration or an event cannot move the cursor, recolour, reorder, break
// or hide what korimath prints. Newline stays where Newline is true (the
// program's own line ends).
wchar_t ForConsole(wchar_t Character, bool Newline);
