#include "operator/decisions/text.h"

void AppendWide(TextSpan Text, std::wstring_view Part)
{
    for (const wchar_t c : Part) {
        if (Text.Length + 1 >= Text.Capacity) {
            Text.Truncated = true;
            break;
        }
        Text.Chars[Text.Length++] = c;
    }
    Text.Chars[Text.Length] = 0;
}

void AppendAscii(TextSpan Text, std::string_view Part)
{
    for (const char c : Part) {
        const wchar_t wide = static_cast<unsigned char>(c);
        AppendWide(Text, std::wstring_view(&wide, 1));
    }
}

void AppendDecimal(TextSpan Text, unsigned long Number)
{
    wchar_t digits[24];
    std::size_t count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + Number % 10);
        Number /= 10;
    } while (Number != 0);
    while (count != 0) {
        const wchar_t digit = digits[--count];
        AppendWide(Text, std::wstring_view(&digit, 1));
    }
}

void AppendMarked(TextSpan Text, std::wstring_view Part)
{
    AppendWide(Text, Part);
    if (Text.Truncated && Text.Capacity > CutMarker.size()) {
        Text.Length = Text.Length < Text.Capacity - 1 - CutMarker.size() ? Text.Length
                                                                          : Text.Capacity - 1 - CutMarker.size();
        if (Text.Length != 0 && IsHighSurrogate(Text.Chars[Text.Length - 1])) {
            --Text.Length;  // half a surrogate pair
        }
        AppendWide(Text, CutMarker);
    }
}

namespace {

// The first Length characters of A and B are equal, the case of ASCII letters aside.
bool SameIgnoringAsciiCase(const wchar_t* A, const wchar_t* B, std::size_t Length)
{
    const auto fold = [](wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; };
    for (std::size_t i = 0; i < Length; ++i) {
        if (fold(A[i]) != fold(B[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::wstring_view A, std::wstring_view B)
{
    return A.size() == B.size() && SameIgnoringAsciiCase(A.data(), B.data(), A.size());
}

bool ContainsIgnoringAsciiCase(std::wstring_view Text, std::wstring_view Part)
{
    for (std::size_t from = 0; from + Part.size() <= Text.size(); ++from) {
        if (SameIgnoringAsciiCase(Text.data() + from, Part.data(), Part.size())) {
            return true;
        }
    }
    return false;
}

std::size_t StoredTextLength(const wchar_t* Chars, std::size_t Bytes, std::size_t Capacity)
{
    const std::size_t limit = Capacity == 0 ? 0 : (Bytes / sizeof(wchar_t) < Capacity ? Bytes / sizeof(wchar_t)
                                                                                         : Capacity - 1);
    std::size_t length = 0;
    while (length < limit && Chars[length] != 0) {
        ++length;
    }
    return length;
}
