// A wide-character buffer on the process heap, for what Windows returns at
// any length (module and service image paths): grown on demand, never cut
// short. HeapAlloc instead of operator new keeps libstdc++'s exception
// machinery out of the program.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string_view>

class WideBuffer {
public:
    WideBuffer() = default;
    WideBuffer(const WideBuffer&) = delete;
    WideBuffer& operator=(const WideBuffer&) = delete;
    ~WideBuffer() { Release(); }

    // Room for Count characters; false when memory runs out (the old
    // contents are then gone too).
    bool Reserve(std::size_t Count)
    {
        Release();
        chars_ = static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, Count * sizeof(wchar_t)));
        capacity_ = chars_ != nullptr ? Count : 0;
        return chars_ != nullptr;
    }
    wchar_t* Data() { return chars_; }
    std::size_t Capacity() const { return capacity_; }
    void SetLength(std::size_t Length) { length_ = Length < capacity_ ? Length : 0; }
    std::wstring_view View() const { return std::wstring_view(chars_ != nullptr ? chars_ : L"", length_); }
    const wchar_t* CStr() const { return chars_ != nullptr ? chars_ : L""; }

private:
    void Release()
    {
        if (chars_ != nullptr) {
            HeapFree(GetProcessHeap(), 0, chars_);
        }
        chars_ = nullptr;
        capacity_ = length_ = 0;
    }
    wchar_t* chars_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t length_ = 0;
};

// Parts one after another in Buffer, NUL-terminated (none of them may be in
// Buffer itself, which this replaces); false when memory runs out.
inline bool Concatenate(WideBuffer& Buffer, std::initializer_list<std::wstring_view> Parts)
{
    std::size_t length = 0;
    for (const std::wstring_view part : Parts) {
        length += part.size();
    }
    if (!Buffer.Reserve(length + 1)) {
        return false;
    }
    wchar_t* at = Buffer.Data();
    for (const std::wstring_view part : Parts) {
        at = std::char_traits<wchar_t>::copy(at, part.data(), part.size()) + part.size();
    }
    Buffer.SetLength(length);
    return true;
}

// Calls Fill(buffer, capacity) -> length until the text fits; Fill returns a
// length of at least the capacity when it did not (as GetModuleFileNameW and
// GetSystemWindowsDirectoryW do) and 0 on failure. False on failure.
template <typename Filler>
bool FillGrowing(WideBuffer& Buffer, Filler Fill)
{
    for (std::size_t capacity = 256; capacity <= 65536; capacity *= 2) {
        if (!Buffer.Reserve(capacity)) {
            return false;
        }
        const std::size_t length = Fill(Buffer.Data(), static_cast<DWORD>(capacity));
        if (length == 0) {
            return false;
        }
        if (length < capacity) {
            Buffer.SetLength(length);
            return true;
        }
    }
    return false;
}
