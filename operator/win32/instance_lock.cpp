#include "operator/win32/instance_lock.h"

InstanceLock::InstanceLock(DWORD TimeoutMs)
    : mutex_(CreateMutexW(nullptr, FALSE, L"Global\\Korimath"))
{
    if (mutex_ != nullptr) {
        // Abandoned: the holder ended without letting go; the lock is ours now.
        const DWORD waited = WaitForSingleObject(mutex_, TimeoutMs);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
}

InstanceLock::~InstanceLock()
{
    if (held_) {
        ReleaseMutex(mutex_);
    }
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
    }
}
