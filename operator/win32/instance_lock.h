// One install, run or remove at a time, machine-wide: a fleet tool retrying
// or a second double-click waits for the first instead of racing it through
// the service manager (errors 1073 and 1072).
#pragma once

#include <windows.h>

class InstanceLock {
public:
    // Waits up to TimeoutMs for the named mutex Global\Korimath.
    explicit InstanceLock(DWORD TimeoutMs);
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    ~InstanceLock();
    bool Held() const { return held_; }

private:
    HANDLE mutex_ = nullptr;
    bool held_ = false;
};

constexpr DWORD InstanceLockTimeoutMs = 30000;
