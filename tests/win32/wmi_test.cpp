// WMI as Microsoft Learn documents it for Win32_DeviceGuard and the BCD WMI
// provider: ConnectServer answers WBEM_E_INVALID_NAMESPACE or
// WBEM_E_ACCESS_DENIED, ExecQuery WBEM_E_INVALID_CLASS; uint32 comes as
// VT_I4, uint32[] as a SAFEARRAY, uint64 as a string; a BCD method answers
// ReturnValue false (GetElement: the element is not set). The doubles are
// C-style interfaces (CINTERFACE), so they fill only the methods korimath
// calls; every object they hand out must come back through Release.
#define CINTERFACE
#include <map>
#include <string>
#include <vector>

#include <windows.h>

#include <wbemidl.h>

#include "operator/win32/wmi_readers.h"
#include "tests/win32/expect.h"

namespace {

constexpr HRESULT NoNamespace = static_cast<HRESULT>(WBEM_E_INVALID_NAMESPACE);
constexpr HRESULT NoClass = static_cast<HRESULT>(WBEM_E_INVALID_CLASS);
constexpr HRESULT Denied = static_cast<HRESULT>(WBEM_E_ACCESS_DENIED);

struct WmiWorld {
    HRESULT Create = S_OK, Connect = S_OK, Query = S_OK;  // CoCreateInstance, ConnectServer, ExecQuery or GetObject
    bool Instance = true, Opened = true, Element = true;  // an instance found; OpenStore and GetElement answer true
    LONG Status = 0;
    std::vector<LONG> Configured, Running;
    const wchar_t* Integer = L"1";
    std::wstring Namespace, Calls;
    int Live = 0, Uninitialized = 0;
} World;

struct Object : IWbemClassObject {
    ULONG References = 1;
    std::map<std::wstring, VARIANT> Properties;
    Object();
    ~Object()
    {
        for (auto& property : Properties) {
            VariantClear(&property.second);
        }
        --World.Live;
    }
    Object* Set(const wchar_t* Name, VARTYPE Type, LONG Number, const wchar_t* Text = nullptr, IUnknown* Unknown = nullptr)
    {
        VARIANT& value = Properties[Name];
        value.vt = Type;
        Type == VT_BSTR ? void(value.bstrVal = SysAllocString(Text)) : Type == VT_UNKNOWN ? void(value.punkVal = Unknown)
                                                                    : void(value.lVal = Number);
        return this;
    }
    Object* Array(const wchar_t* Name, const std::vector<LONG>& Numbers)
    {
        SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(Numbers.size()));
        for (LONG i = 0; i < static_cast<LONG>(Numbers.size()); ++i) {
            SafeArrayPutElement(array, &i, const_cast<LONG*>(&Numbers[i]));
        }
        VARIANT& value = Properties[Name];
        value.vt = VT_ARRAY | VT_I4;
        value.parray = array;
        return this;
    }
    std::wstring Text(const wchar_t* Name) { return Properties.count(Name) ? Properties[Name].bstrVal : L"?"; }
};

ULONG STDMETHODCALLTYPE Release(IWbemClassObject* This)
{
    auto* object = static_cast<Object*>(This);
    const ULONG left = --object->References;
    if (left == 0) {
        delete object;
    }
    return left;
}

template <typename Interface>
HRESULT Hand(Interface* Given, Interface** To)
{
    *To = Given;
    return S_OK;
}

IWbemClassObjectVtbl ObjectCalls = [] {
    IWbemClassObjectVtbl calls{};
    calls.QueryInterface = [](IWbemClassObject* This, REFIID, void** To) {
        ++static_cast<Object*>(This)->References;
        return Hand<void>(This, To);
    };
    calls.AddRef = [](IWbemClassObject* This) { return ++static_cast<Object*>(This)->References; };
    calls.Release = Release;
    calls.Get = [](IWbemClassObject* This, LPCWSTR Name, LONG, VARIANT* Value, CIMTYPE*, LONG*) -> HRESULT {
        auto& properties = static_cast<Object*>(This)->Properties;
        return properties.count(Name) ? VariantCopy(Value, &properties[Name]) : WBEM_E_NOT_FOUND;
    };
    calls.Put = [](IWbemClassObject* This, LPCWSTR Name, LONG, VARIANT* Value, CIMTYPE) {
        return VariantCopy(&static_cast<Object*>(This)->Properties[Name], Value);
    };
    calls.GetMethod = [](IWbemClassObject*, LPCWSTR, LONG, IWbemClassObject** In, IWbemClassObject**) {
        return Hand<IWbemClassObject>(new Object, In);
    };
    calls.SpawnInstance = [](IWbemClassObject*, LONG, IWbemClassObject** Instance) {
        return Hand<IWbemClassObject>(new Object, Instance);
    };
    return calls;
}();

Object::Object() : IWbemClassObject{&ObjectCalls}
{
    ++World.Live;
}

const std::wstring StorePath = L"BcdStore.FilePath=\"\"", LoaderPath = L"BcdObject.Id=\"{current}\"";

// OpenStore, OpenObject, GetElement: each checks its object's path and its in-parameter.
HRESULT Method(const std::wstring& Path, const std::wstring& Name, IWbemClassObject* In, IWbemClassObject** Out)
{
    auto* in = static_cast<Object*>(In);
    auto* out = new Object;
    const bool store = Name == L"OpenStore" && Path == L"BcdStore" && in->Text(L"File").empty();
    const bool open = Name == L"OpenObject" && Path == StorePath &&
                      in->Text(L"Id") == L"{fa926493-6f1c-4193-a414-58f0b2456d1e}";
    const bool element = Name == L"GetElement" && Path == LoaderPath && in->Properties[L"Type"].lVal == 0x250000F0;
    World.Calls += (store || open || element ? Name : L"wrong-" + Name) + L" ";
    const bool answer = store ? World.Opened : element ? World.Element : open;
    out->Set(L"ReturnValue", VT_BOOL, answer ? VARIANT_TRUE : VARIANT_FALSE);
    if (answer && (store || open || element)) {
        auto* made = (new Object)->Set(L"__RELPATH", VT_BSTR, 0, store ? StorePath.c_str() : LoaderPath.c_str());
        made->Set(L"Integer", VT_BSTR, 0, World.Integer);
        out->Set(store ? L"Store" : open ? L"Object" : L"Element", VT_UNKNOWN, 0, nullptr,
                 reinterpret_cast<IUnknown*>(static_cast<IWbemClassObject*>(made)));
    }
    return Hand<IWbemClassObject>(out, Out);
}

struct Enumerator : IEnumWbemClassObject {
    ULONG References = 1;
    bool Given = false;
};

IEnumWbemClassObjectVtbl EnumeratorCalls = [] {
    IEnumWbemClassObjectVtbl calls{};
    calls.Release = [](IEnumWbemClassObject* This) -> ULONG {
        delete static_cast<Enumerator*>(This);
        --World.Live;
        return 0;
    };
    calls.Next = [](IEnumWbemClassObject* This, LONG, ULONG, IWbemClassObject** Found, ULONG* Returned) -> HRESULT {
        auto* results = static_cast<Enumerator*>(This);
        *Returned = World.Instance && !results->Given ? 1 : 0;
        results->Given = true;
        if (*Returned == 1) {
            *Found = (new Object)->Set(L"VirtualizationBasedSecurityStatus", VT_I4, World.Status);
            static_cast<Object*>(*Found)->Array(L"SecurityServicesConfigured", World.Configured);
            static_cast<Object*>(*Found)->Array(L"SecurityServicesRunning", World.Running);
        }
        return *Returned == 1 ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    };
    return calls;
}();

IWbemServicesVtbl ServicesCalls = [] {
    IWbemServicesVtbl calls{};
    calls.Release = [](IWbemServices*) -> ULONG { return --World.Live, 0; };
    calls.ExecQuery = [](IWbemServices*, const BSTR Language, const BSTR Query, LONG, IWbemContext*,
                         IEnumWbemClassObject** Results) -> HRESULT {
        World.Calls += std::wstring(Language) + L": " + Query + L" ";
        ++World.Live;
        return FAILED(World.Query) ? (--World.Live, World.Query) : Hand<IEnumWbemClassObject>(new Enumerator{{&EnumeratorCalls}}, Results);
    };
    calls.GetObject = [](IWbemServices*, const BSTR Path, LONG, IWbemContext*, IWbemClassObject** Found,
                         IWbemCallResult**) -> HRESULT {
        const std::wstring path(Path);
        if (FAILED(World.Query) || (path != L"BcdStore" && path != L"BcdObject")) {
            return FAILED(World.Query) ? World.Query : NoClass;
        }
        return Hand<IWbemClassObject>(new Object, Found);
    };
    calls.ExecMethod = [](IWbemServices*, const BSTR Path, const BSTR Name, LONG, IWbemContext*, IWbemClassObject* In,
                          IWbemClassObject** Out, IWbemCallResult**) { return Method(Path, Name, In, Out); };
    return calls;
}();
IWbemServices Services{&ServicesCalls};

IWbemLocatorVtbl LocatorCalls = [] {
    IWbemLocatorVtbl calls{};
    calls.Release = [](IWbemLocator*) -> ULONG { return --World.Live, 0; };
    calls.ConnectServer = [](IWbemLocator*, const BSTR Namespace, const BSTR, const BSTR, const BSTR, LONG, const BSTR,
                             IWbemContext*, IWbemServices** Connected) -> HRESULT {
        World.Namespace = Namespace;
        ++World.Live;
        return FAILED(World.Connect) ? (--World.Live, World.Connect) : Hand(&Services, Connected);
    };
    return calls;
}();
IWbemLocator Locator{&LocatorCalls};

const ComApi Double{
    [](LPVOID, DWORD) { return S_OK; },
    [] { ++World.Uninitialized; },
    [](PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD, void*, DWORD, void*) {
        return RPC_E_TOO_LATE;  // set already: not a failure
    },
    [](REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID* Made) {
        ++World.Live;
        return FAILED(World.Create) ? (--World.Live, World.Create) : Hand<void>(&Locator, Made);
    },
    [](IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, RPC_AUTH_IDENTITY_HANDLE, DWORD) { return S_OK; },
};

}  // namespace

void WmiTable()
{
    const std::vector<LONG> none;
    const struct {
        const char* Case;
        WmiWorld World;
        bool Read;
        unsigned long Error, Status, Configured, Running;
    } guards[] = {
        {"COM refused", {REGDB_E_CLASSNOTREG}, false, static_cast<unsigned long>(REGDB_E_CLASSNOTREG)},
        {"no DeviceGuard namespace", {S_OK, NoNamespace}, false, WBEM_E_INVALID_NAMESPACE},
        {"access denied", {S_OK, Denied}, false, WBEM_E_ACCESS_DENIED},
        {"no Win32_DeviceGuard class", {S_OK, S_OK, NoClass}, false, WBEM_E_INVALID_CLASS},
        {"no instance", {S_OK, S_OK, S_OK, false}, false, WBEM_E_NOT_FOUND},
        {"VBS off", {}, true, 0, 0, 0, 0},
        {"enabled, not running", {S_OK, S_OK, S_OK, true, true, true, 1, {2}}, true, 0, 1, 4, 0},
        {"running: Credential Guard, memory integrity", {S_OK, S_OK, S_OK, true, true, true, 2, {1, 2}, {1, 2, 3}},
         true, 0, 2, 6, 14},
    };
    for (const auto& row : guards) {
        World = row.World;
        Vbs read;
        ReadDeviceGuard(Double, read);
        EXPECT(read.StatusRead == row.Read && read.StatusError == row.Error, row.Case);
        EXPECT(read.Status == row.Status && read.Configured == row.Configured && read.Running == row.Running, row.Case);
        EXPECT(World.Namespace == (row.World.Create == S_OK ? L"ROOT\\Microsoft\\Windows\\DeviceGuard" : L""), row.Case);
        EXPECT(World.Live == 0 && World.Uninitialized == 1, row.Case);
    }
    const std::wstring all = L"OpenStore OpenObject GetElement ";
    const struct {
        const char* Case;
        WmiWorld World;
        LaunchSetting Expected;
        unsigned long Error;
        std::wstring Calls;
    } launches[] = {
        {"not elevated", {S_OK, Denied}, LaunchSetting::NotRead, WBEM_E_ACCESS_DENIED, L""},
        {"no BCD provider", {S_OK, S_OK, NoClass}, LaunchSetting::NotRead, WBEM_E_INVALID_CLASS, L""},
        {"the store refused", {S_OK, S_OK, S_OK, true, false}, LaunchSetting::NotRead, WBEM_E_NOT_FOUND, L"OpenStore "},
        {"not set", {S_OK, S_OK, S_OK, true, true, false}, LaunchSetting::Absent, 0, all},
        {"Off", {.Integer = L"0"}, LaunchSetting::Off, 0, all},
        {"Auto", {}, LaunchSetting::Auto, 0, all},
        {"another value", {.Integer = L"3"}, LaunchSetting::Other, 0, all},
    };
    for (const auto& row : launches) {
        World = row.World;
        WindowsSide side;
        ReadLaunchSetting(Double, side);
        EXPECT(side.HypervisorLaunch == row.Expected && side.HypervisorLaunchError == row.Error, row.Case);
        EXPECT(World.Namespace == L"ROOT\\WMI" && World.Calls == row.Calls, row.Case);
        EXPECT(World.Live == 0, row.Case);
    }
}
