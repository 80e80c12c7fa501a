// An optional DLL of Windows' own, loaded at run time from System32 only
// (LOAD_LIBRARY_SEARCH_SYSTEM32), never from this program's folder. A DLL
// or function that is missing is a fact about this Windows ("not
// available"), never a failure of the program. The readers take the
// functions they call as a table, which the program fills from here and the
// tests under Wine fill with doubles.
#pragma once

#include <windows.h>

class SystemLibrary {
public:
    explicit SystemLibrary(const wchar_t* Name)
        : module_(LoadLibraryExW(Name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
    {
    }
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;
    ~SystemLibrary()
    {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }

    // The function, or nullptr when the DLL or the function is missing.
    template <typename Function>
    Function Find(const char* Name) const
    {
        return module_ != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module_, Name)))
                                  : nullptr;
    }

private:
    HMODULE module_;
};

// Name's address in Library, typed as the SDK declares Name.
#define KORIMATH_FIND(Library, Name) (Library).Find<decltype(&(Name))>(#Name)
