// Console output that survives redirection, and the double-click case.
#pragma once

#include <string_view>

#include "operator/decisions/command_line.h"

// Writes to standard output (or standard error): UTF-16 to a console, UTF-8
// to a file or pipe, where WriteConsoleW would write nothing.
void WriteOut(std::wstring_view Text);
void WriteErr(std::wstring_view Text);
void WriteOut(std::string_view Ascii);  // plain ASCII
// A text built from what others control (CPUID, SMBIOS, the registry, a
// service's configuration, an event): on one line, every control replaced.
void WriteUntrusted(std::wstring_view Text);
void WriteErr(std::string_view Ascii);

// What ShouldWaitForKey needs to know about where this program runs.
Console DescribeConsole();

// Writes the prompt to the console itself (CONOUT$, never into standard
// output) and waits for a key, so that a window Explorer opened stays
// readable.
void WaitForKey();

// Asks Question on the console itself and reads one line from it: true for
// an answer that starts with "y".
bool AskYes(std::wstring_view Question);
