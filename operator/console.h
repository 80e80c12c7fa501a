// Console output that survives redirection, and the double-click case.
#pragma once

#include <string_view>

// Writes to standard output (or standard error): UTF-16 to a console, UTF-8
// to a file or pipe, where WriteConsoleW would write nothing.
void WriteOut(std::wstring_view Text);
void WriteErr(std::wstring_view Text);

// True when this program is the only one on its console: it was started from
// Explorer (a double-click, or "Run as administrator"), not from a prompt.
bool OwnsConsole();

// Waits for a key, so that a window Explorer opened stays readable. Returns at
// once when standard input is not a console.
void WaitForKey();
