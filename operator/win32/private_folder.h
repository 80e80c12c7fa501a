// Names no one can predict, and a folder only administrators can open: what
// korimath creates where a standard user may create things first.
#pragma once

#include <windows.h>

#include "operator/decisions/text.h"
#include "operator/win32/wide_buffer.h"

// Prefix and 16 hex digits from the system's random number generator
// (BCryptGenRandom); false when it refuses.
bool UnpredictableName(std::wstring_view Prefix, FixedText<64>& Name);

// A new folder under %SystemRoot%\Temp, where standard users may create
// folders too: an unpredictable name, created fail-if-exists with SYSTEM and
// Administrators alone in its DACL, so nothing of theirs is in it; removed
// with its contents when this goes.
class PrivateFolder {
public:
    PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;
    ~PrivateFolder();
    const wchar_t* Path() const { return created_ ? path_.CStr() : nullptr; }
    DWORD Error() const { return error_; }

private:
    WideBuffer path_;
    bool created_ = false;
    DWORD error_ = ERROR_SUCCESS;
};
