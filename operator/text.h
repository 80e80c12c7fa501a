// A bounded wide-character text on the stack. The operator's program keeps to
// Win32 and small types like this one instead of std::wstring, which drags
// libstdc++'s exception machinery into a static exe and triples its size.
#pragma once

#include <cstddef>
#include <string_view>

template <std::size_t Capacity>
struct FixedText {
    wchar_t Chars[Capacity] = {};
    std::size_t Length = 0;
    bool Truncated = false;  // an Append did not fit and was cut short

    void Append(std::wstring_view Part)
    {
        for (const wchar_t c : Part) {
            if (Length + 1 >= Capacity) {
                Truncated = true;
                break;
            }
            Chars[Length++] = c;
        }
        Chars[Length] = 0;
    }

    void AppendNumber(unsigned long Number)
    {
        wchar_t digits[24];
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<wchar_t>(L'0' + Number % 10);
            Number /= 10;
        } while (Number != 0);
        while (count != 0) {
            const wchar_t digit = digits[--count];
            Append(std::wstring_view(&digit, 1));
        }
    }

    void Clear()
    {
        Length = 0;
        Truncated = false;
        Chars[0] = 0;
    }

    std::wstring_view View() const { return std::wstring_view(Chars, Length); }
    const wchar_t* CStr() const { return Chars; }
};

// substr without its out-of-range exception, whose runtime support would
// otherwise be linked in: positions past the end clamp to it.
inline std::wstring_view Head(std::wstring_view Text, std::size_t Count)
{
    return std::wstring_view(Text.data(), Count < Text.size() ? Count : Text.size());
}

inline std::wstring_view Tail(std::wstring_view Text, std::size_t From)
{
    return From < Text.size() ? std::wstring_view(Text.data() + From, Text.size() - From) : std::wstring_view();
}
