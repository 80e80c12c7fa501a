// The Windows-side tests' one check, without a framework: a failed
// expectation prints its file, line, row and condition; the program's exit
// code is the number of failures.
#pragma once

#include <cstdio>

inline int Failures = 0;

#define EXPECT(Condition, Row)                                                                    \
    ((Condition) ? void()                                                                         \
                 : (std::printf("FAIL %s:%d %s: %s\n", __FILE__, __LINE__, (Row), #Condition), \
                    void(++Failures)))

// Each table of rows, one reader each.
void DismTable();
void EventLogTable();
void FirmwareTable();
void SettingsTable();
void ServiceTable();
void WmiTable();
