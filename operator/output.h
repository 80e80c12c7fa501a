// What the program says: progress and failures, each failure with its Win32
// error number and one sentence on what to do.
#pragma once

#include <initializer_list>
#include <string_view>

struct Output {
    bool Json = false;  // standard output then carries the JSON object alone; the rest goes to standard error
};

void Say(const Output& To, std::initializer_list<std::wstring_view> Parts);

// "korimath: What: error N: what it means and what to do."
void SayError(const Output& To, std::wstring_view What, unsigned long Error);

// SayError, then the exit code: access denied means the prompt is not
// elevated, anything else gives Otherwise.
int Fail(const Output& To, std::wstring_view What, unsigned long Error, int Otherwise);
