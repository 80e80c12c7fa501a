#include "operator/win32/output.h"

#include <windows.h>

#include "operator/decisions/exit_codes.h"
#include "operator/decisions/messages.h"
#include "operator/win32/console.h"
#include "operator/win32/elevation.h"

namespace {

void Record(Output& To, std::initializer_list<std::wstring_view> Parts, bool HasError, unsigned long Error)
{
    if (To.Ended.Failed) {
        return;  // the first failure is the one that explains the rest
    }
    To.Ended.Failed = true;
    To.Ended.HasError = HasError;
    To.Ended.Error = Error;
    for (const std::wstring_view part : Parts) {
        To.Ended.ErrorText.AppendOrCut(part);  // a long service image path: cut, marked
    }
}

}  // namespace

void Say(const Output& To, std::initializer_list<std::wstring_view> Parts)
{
    for (const std::wstring_view part : Parts) {
        To.Json ? WriteErr(part) : WriteOut(part);
    }
}

void SayError(Output& To, std::wstring_view What, unsigned long Error)
{
    FixedText<16> number;
    number.AppendNumber(Error);
    FixedText<1024> ours;
    if (const char* sentence = ExplainError(Error, IsElevated())) {
        ours.Append(std::string_view(sentence));
    }
    wchar_t* system = nullptr;
    if (ours.Length == 0 &&
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, Error, 0, reinterpret_cast<wchar_t*>(&system), 0, nullptr) != 0) {
        ours.Append(system);
    }
    std::wstring_view explained = ours.Length != 0 ? ours.View() : L"(no description)";
    while (!explained.empty() && (explained.back() == L'\n' || explained.back() == L'\r' || explained.back() == L' ')) {
        explained.remove_suffix(1);  // the system's texts end with CR LF
    }
    Say(To, {L"korimath: ", What, L": error ", number.View(), L": ", explained, L"\n"});
    Record(To, {What, L": error ", number.View(), L": ", explained}, true, Error);
    LocalFree(system);
}

int Fail(Output& To, std::wstring_view What, unsigned long Error, int Otherwise)
{
    SayError(To, What, Error);
    return ExitForFailure(Error, IsElevated(), Otherwise);
}

int Refuse(Output& To, std::wstring_view Text, int Code)
{
    return Refuse(To, {Text}, Code);
}

int Refuse(Output& To, std::initializer_list<std::wstring_view> Parts, int Code)
{
    Say(To, {L"korimath: "});
    Say(To, Parts);
    Say(To, {L"\n"});
    Record(To, Parts, false, 0);
    return Code;
}
