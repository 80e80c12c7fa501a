// One install, run or remove at a time, machine-wide: a fleet tool retrying
// or a second double-click waits for the first instead of racing it through
// the service manager (errors 1073 and 1072). The mutex lives in a private
// namespace only administrators can create, so a standard user cannot take
// its name first and stop every korimath.
#pragma once

#include <windows.h>

#include "operator/decisions/safeguards.h"

class InstanceLock {
public:
    // Waits up to TimeoutMs for the lock.
    explicit InstanceLock(DWORD TimeoutMs);
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();
    LockOutcome Outcome() const { return outcome_; }
    DWORD Error() const { return error_; }  // why it is unavailable

private:
    HANDLE boundary_ = nullptr;
    HANDLE space_ = nullptr;
    HANDLE mutex_ = nullptr;
    LockOutcome outcome_ = LockOutcome::Unavailable;
    DWORD error_ = ERROR_SUCCESS;
};

constexpr DWORD InstanceLockTimeoutMs = 30000;
