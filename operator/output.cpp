#include "operator/output.h"

#include <windows.h>

#include "operator/console.h"
#include "operator/exit_codes.h"
#include "operator/messages.h"
#include "operator/text.h"

void Say(const Output& To, std::initializer_list<std::wstring_view> Parts)
{
    for (const std::wstring_view part : Parts) {
        To.Json ? WriteErr(part) : WriteOut(part);
    }
}

void SayError(const Output& To, std::wstring_view What, unsigned long Error)
{
    FixedText<16> number;
    number.AppendNumber(Error);
    Say(To, {L"korimath: ", What, L": error ", number.View(), L": "});
    if (const wchar_t* sentence = ExplainError(Error)) {
        Say(To, {sentence, L"\n"});
        return;
    }
    wchar_t* system = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, Error, 0, reinterpret_cast<wchar_t*>(&system), 0, nullptr);
    Say(To, {length != 0 ? std::wstring_view(system, length) : std::wstring_view(L"(no description)\n")});
    LocalFree(system);
}

int Fail(const Output& To, std::wstring_view What, unsigned long Error, int Otherwise)
{
    SayError(To, What, Error);
    return Error == ERROR_ACCESS_DENIED ? ExitNotElevated : Otherwise;
}
