// A bounded wide-character text on the stack. The operator's program keeps to
// Win32 and small types like this one instead of std::wstring, which drags
// libstdc++'s exception machinery into a static exe and triples its size.
#pragma once

#include <cstddef>
#include <string_view>

// The work of FixedText, once for every capacity (text.cpp): inlined at each
// call it made the program a tenth larger.
struct TextSpan {
    wchar_t* Chars;
    std::size_t Capacity;
    std::size_t& Length;
    bool& Truncated;
};
void AppendWide(TextSpan Text, std::wstring_view Part);
void AppendAscii(TextSpan Text, std::string_view Part);  // plain ASCII, widened
void AppendDecimal(TextSpan Text, unsigned long Number);
// Appends Part; where it does not fit, ends the text with CutMarker instead
// of its last characters, so a cut never passes for the whole.
void AppendMarked(TextSpan Text, std::wstring_view Part);

constexpr std::wstring_view CutMarker = L" [cut]";

template <std::size_t Capacity>
struct FixedText {
    wchar_t Chars[Capacity] = {};
    std::size_t Length = 0;
    bool Truncated = false;  // an Append did not fit and was cut short

    void Append(std::wstring_view Part) { AppendWide(Span(), Part); }
    // English texts are kept as single-byte literals, half the size in the
    // program.
    void Append(std::string_view Ascii) { AppendAscii(Span(), Ascii); }
    void AppendNumber(unsigned long Number) { AppendDecimal(Span(), Number); }
    void AppendOrCut(std::wstring_view Part) { AppendMarked(Span(), Part); }

    void Clear()
    {
        Length = 0;
        Truncated = false;
        Chars[0] = 0;
    }

    std::wstring_view View() const { return std::wstring_view(Chars, Length); }
    const wchar_t* CStr() const { return Chars; }

private:
    TextSpan Span() { return TextSpan{Chars, Capacity, Length, Truncated}; }
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

// starts_with, whose libstdc++ form would link the exception's runtime support.
inline bool StartsWith(std::wstring_view Text, std::wstring_view Prefix)
{
    return Head(Text, Prefix.size()) == Prefix;
}

// The first half of a UTF-16 surrogate pair: a cut after it would leave half
// a character.
inline bool IsHighSurrogate(wchar_t Character)
{
    return Character >= 0xD800 && Character <= 0xDBFF;
}

// Equal but for the case of ASCII letters, as Windows compares the fixed
// parts of paths.
bool EqualsIgnoringAsciiCase(std::wstring_view A, std::wstring_view B);
// Part somewhere in Text, the case of ASCII letters aside.
bool ContainsIgnoringAsciiCase(std::wstring_view Text, std::wstring_view Part);

// The characters of a REG_SZ value as the registry returned it: at most
// Bytes / 2 of them and at most Capacity - 1, up to the first NUL. A value
// may be stored without its NUL, or with no bytes at all.
std::size_t StoredTextLength(const wchar_t* Chars, std::size_t Bytes, std::size_t Capacity);
