#include "operator/win32/console.h"

#include <windows.h>

#include "operator/decisions/safeguards.h"
#include "operator/decisions/text.h"

namespace {

// Every character passes ForConsole: only the program's own line ends remain
// controls. Untrusted texts reach here through WriteLine, which keeps none.
void Write(DWORD Which, std::wstring_view Text, bool Newlines = true)
{
    const HANDLE handle = GetStdHandle(Which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    const bool console = GetConsoleMode(handle, &mode) != 0;
    while (!Text.empty()) {
        std::size_t count = Text.size() < 1024 ? Text.size() : 1024;
        if (count < Text.size() && IsHighSurrogate(Text[count - 1])) {
            --count;  // keep a surrogate pair together
        }
        wchar_t safe[1024];
        for (std::size_t i = 0; i < count; ++i) {
            safe[i] = ForConsole(Text[i], Newlines);
        }
        DWORD written = 0;
        if (console) {
            WriteConsoleW(handle, safe, static_cast<DWORD>(count), &written, nullptr);
        } else {
            char utf8[1024 * 3];
            const int bytes = WideCharToMultiByte(CP_UTF8, 0, safe, static_cast<int>(count), utf8, sizeof(utf8),
                                                  nullptr, nullptr);
            WriteFile(handle, utf8, static_cast<DWORD>(bytes), &written, nullptr);
        }
        Text.remove_prefix(count);
    }
}

void WriteAscii(DWORD Which, std::string_view Ascii)
{
    while (!Ascii.empty()) {
        FixedText<512> chunk;
        const std::size_t count = Ascii.size() < 500 ? Ascii.size() : 500;
        chunk.Append(std::string_view(Ascii.data(), count));
        Write(Which, chunk.View());
        Ascii.remove_prefix(count);
    }
}

}  // namespace

void WriteOut(std::string_view Ascii)
{
    WriteAscii(STD_OUTPUT_HANDLE, Ascii);
}

void WriteErr(std::string_view Ascii)
{
    WriteAscii(STD_ERROR_HANDLE, Ascii);
}

void WriteOut(std::wstring_view Text)
{
    Write(STD_OUTPUT_HANDLE, Text);
}

void WriteUntrusted(std::wstring_view Text)
{
    Write(STD_OUTPUT_HANDLE, Text, false);
}

void WriteErr(std::wstring_view Text)
{
    Write(STD_ERROR_HANDLE, Text);
}

Console DescribeConsole()
{
    Console where;
    DWORD processes[2];
    where.OwnedAlone = GetConsoleProcessList(processes, 2) == 1;
    DWORD mode = 0;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    where.InputIsConsole = input != nullptr && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &mode) != 0;
    DWORD session = 0;
    where.SessionZero = !ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0;
    return where;
}

void WaitForKey()
{
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE) {
        return;
    }
    constexpr std::wstring_view prompt = L"\nPress any key to close this window.\n";
    DWORD written = 0;
    WriteConsoleW(console, prompt.data(), static_cast<DWORD>(prompt.size()), &written, nullptr);
    CloseHandle(console);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    INPUT_RECORD record;
    DWORD read = 0;
    while (ReadConsoleInputW(input, &record, 1, &read) != 0 && read == 1) {
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) {
            return;
        }
    }
}

bool AskYes(std::wstring_view Question)
{
    const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (output == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    WriteConsoleW(output, Question.data(), static_cast<DWORD>(Question.size()), &written, nullptr);
    CloseHandle(output);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    wchar_t answer[16] = {};
    DWORD read = 0;
    return ReadConsoleW(input, answer, 15, &read, nullptr) != 0 && read > 0 && (answer[0] == L'y' || answer[0] == L'Y');
}
