// WMI as Microsoft Learn documents Win32_DeviceGuard and the BCD provider: ConnectServer fails with
// WBEM_E_INVALID_NAMESPACE or WBEM_E_ACCESS_DENIED, ExecQuery and GetObject with WBEM_E_INVALID_CLASS; uint32 is
// VT_I4, uint32[] a SAFEARRAY, uint64 a string; a BCD method answers ReturnValue false (GetElement: not set).
// C-style interfaces let the doubles fill only the methods korimath calls; every object must come back.
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
    HRESULT Create = S_OK, Connect = S_OK, Query = S_OK;  // CoCreateInstance, ConnectServer, ExecQuery/GetObject
    bool Instance = true, Opened = true, Element = true;  // an instance found; OpenStore and GetElement say true
    LONG Status = 0;
    std::vector<LONG> Configured, Running;
    const wchar_t* Integer = L"1";
    std::wstring Namespace, Calls;
    int Live = 0, Uninitialized = 0;
} World;

HRESULT Handed(void* Given, void** To)
{
    return *To = Given, ++World.Live, S_OK;
}

ULONG STDMETHODCALLTYPE Released(void*)
{
    return --World.Live, 0;
}

// Every WMI object: its properties by name; reference counted, deleted at the last Release.
struct Object : IWbemClassObject {
    ULONG References = 1;
    std::map<std::wstring, VARIANT> Properties;
    Object();
    ~Object()
    {
        for (auto& [name, value] : Properties) {
            VariantClear(&value);
        }
    }
    Object* Set(const wchar_t* Name, VARTYPE Type, LONG Number, const wchar_t* Text = nullptr)
    {
        VARIANT& value = Properties[Name];
        value.vt = Type;
        Type == VT_BSTR ? void(value.bstrVal = SysAllocString(Text)) : void(value.lVal = Number);
        return this;
    }
    Object* Array(const wchar_t* Name, const std::vector<LONG>& Numbers)
    {
        VARIANT& value = Properties[Name];
        value.vt = VT_ARRAY | VT_I4;
        value.parray = SafeArrayCreateVector(VT_I4, 0, static_cast<ULONG>(Numbers.size()));
        for (LONG i = 0; i < static_cast<LONG>(Numbers.size()); ++i) {
            SafeArrayPutElement(value.parray, &i, const_cast<LONG*>(&Numbers[i]));
        }
        return this;
    }
    std::wstring Text(const wchar_t* Name) { return Properties.count(Name) != 0 ? Properties[Name].bstrVal : L"?"; }
};

IWbemClassObjectVtbl ObjectCalls = [] {
    IWbemClassObjectVtbl calls{};
    calls.QueryInterface = [](IWbemClassObject* This, REFIID, void** To) {
        return ++static_cast<Object*>(This)->References, *To = This, S_OK;
    };
    calls.AddRef = [](IWbemClassObject* This) { return ++static_cast<Object*>(This)->References; };
    calls.Release = [](IWbemClassObject* This) -> ULONG {
        auto* object = static_cast<Object*>(This);
        return --object->References != 0 ? object->References : (delete object, Released(nullptr));
    };
    calls.Get = [](IWbemClassObject* This, LPCWSTR Name, LONG, VARIANT* Value, CIMTYPE*, LONG*) -> HRESULT {
        auto& properties = static_cast<Object*>(This)->Properties;
        return properties.count(Name) != 0 ? VariantCopy(Value, &properties[Name]) : WBEM_E_NOT_FOUND;
    };
    calls.Put = [](IWbemClassObject* This, LPCWSTR Name, LONG, VARIANT* Value, CIMTYPE) {
        return VariantCopy(&static_cast<Object*>(This)->Properties[Name], Value);
    };
    calls.GetMethod = [](IWbemClassObject*, LPCWSTR, LONG, IWbemClassObject** In, IWbemClassObject**) {
        return *In = new Object, S_OK;
    };
    calls.SpawnInstance = [](IWbemClassObject*, LONG, IWbemClassObject** Made) { return *Made = new Object, S_OK; };
    return calls;
}();

Object::Object() : IWbemClassObject{&ObjectCalls}
{
    ++World.Live;
}

// OpenStore, OpenObject, GetElement: each checks its object's path and its in-parameter.
HRESULT Method(const std::wstring& Path, const std::wstring& Name, IWbemClassObject* In, IWbemClassObject** Out)
{
    auto* in = static_cast<Object*>(In);
    const bool store = Name == L"OpenStore" && Path == L"BcdStore" && in->Text(L"File").empty();
    const bool open = Name == L"OpenObject" && Path == L"BcdStore.FilePath=\"\"" &&
                      in->Text(L"Id") == L"{fa926493-6f1c-4193-a414-58f0b2456d1e}";
    const bool element = Name == L"GetElement" && Path == L"BcdObject.Id=\"{current}\"" &&
                         in->Properties[L"Type"].lVal == 0x250000F0;
    World.Calls += (store || open || element ? Name : L"wrong-" + Name) + L" ";
    const bool answer = store ? World.Opened : element ? World.Element : open;
    auto* out = (new Object)->Set(L"ReturnValue", VT_BOOL, answer ? VARIANT_TRUE : VARIANT_FALSE);
    if (answer) {
        VARIANT& made = out->Properties[store ? L"Store" : open ? L"Object" : L"Element"];
        made.vt = VT_UNKNOWN;
        made.punkVal = reinterpret_cast<IUnknown*>(static_cast<IWbemClassObject*>(
            (new Object)->Set(L"__RELPATH", VT_BSTR, 0, store ? L"BcdStore.FilePath=\"\"" : L"BcdObject.Id=\"{current}\"")
                ->Set(L"Integer", VT_BSTR, 0, World.Integer)));
    }
    return *Out = out, S_OK;
}

IEnumWbemClassObjectVtbl EnumeratorCalls = [] {
    IEnumWbemClassObjectVtbl calls{};
    calls.Release = [](IEnumWbemClassObject* This) { return Released(This); };
    calls.Next = [](IEnumWbemClassObject*, LONG, ULONG, IWbemClassObject** Found, ULONG* Returned) -> HRESULT {
        *Returned = World.Instance ? 1 : 0;
        if (World.Instance) {
            *Found = (new Object)->Set(L"VirtualizationBasedSecurityStatus", VT_I4, World.Status)
                         ->Array(L"SecurityServicesConfigured", World.Configured)
                         ->Array(L"SecurityServicesRunning", World.Running);
        }
        return World.Instance ? WBEM_S_NO_ERROR : WBEM_S_FALSE;
    };
    return calls;
}();
IEnumWbemClassObject Enumerator{&EnumeratorCalls};

IWbemServicesVtbl ServicesCalls = [] {
    IWbemServicesVtbl calls{};
    calls.Release = [](IWbemServices* This) { return Released(This); };
    calls.ExecQuery = [](IWbemServices*, const BSTR Language, const BSTR Query, LONG, IWbemContext*,
                         IEnumWbemClassObject** Results) -> HRESULT {
        World.Calls += std::wstring(Language) + L": " + Query;
        return FAILED(World.Query) ? World.Query : Handed(&Enumerator, reinterpret_cast<void**>(Results));
    };
    calls.GetObject = [](IWbemServices*, const BSTR Path, LONG, IWbemContext*, IWbemClassObject** Found,
                         IWbemCallResult**) -> HRESULT {
        const bool bcd = std::wstring(Path) == L"BcdStore" || std::wstring(Path) == L"BcdObject";
        return FAILED(World.Query) ? World.Query : bcd ? (*Found = new Object, S_OK) : NoClass;
    };
    calls.ExecMethod = [](IWbemServices*, const BSTR Path, const BSTR Name, LONG, IWbemContext*, IWbemClassObject* In,
                          IWbemClassObject** Out, IWbemCallResult**) { return Method(Path, Name, In, Out); };
    return calls;
}();
IWbemServices Services{&ServicesCalls};

IWbemLocatorVtbl LocatorCalls = [] {
    IWbemLocatorVtbl calls{};
    calls.Release = [](IWbemLocator* This) { return Released(This); };
    calls.ConnectServer = [](IWbemLocator*, const BSTR Namespace, const BSTR, const BSTR, const BSTR, LONG, const BSTR,
                             IWbemContext*, IWbemServices** Connected) -> HRESULT {
        World.Namespace = Namespace;
        return FAILED(World.Connect) ? World.Connect : Handed(&Services, reinterpret_cast<void**>(Connected));
    };
    return calls;
}();
IWbemLocator Locator{&LocatorCalls};

const ComApi Double{
    [](LPVOID, DWORD) { return S_OK; },
    [] { ++World.Uninitialized; },
    [](PSECURITY_DESCRIPTOR, LONG, SOLE_AUTHENTICATION_SERVICE*, void*, DWORD, DWORD, void*, DWORD, void*) {
        return RPC_E_TOO_LATE;  // set already in this process: not a failure
    },
    [](REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID* Made) {
        return FAILED(World.Create) ? World.Create : Handed(&Locator, Made);
    },
    [](IUnknown*, DWORD, DWORD, OLECHAR*, DWORD, DWORD, RPC_AUTH_IDENTITY_HANDLE, DWORD) { return S_OK; },
};

}  // namespace

void WmiTable()
{
    const struct {
        const char* Case;
        WmiWorld World;
        unsigned long Error, Status, Configured, Running;  // Error 0: read
    } guards[] = {
        {"COM refused", {REGDB_E_CLASSNOTREG}, static_cast<unsigned long>(REGDB_E_CLASSNOTREG)},
        {"no DeviceGuard namespace", {S_OK, NoNamespace}, WBEM_E_INVALID_NAMESPACE},
        {"access denied", {S_OK, Denied}, WBEM_E_ACCESS_DENIED},
        {"no Win32_DeviceGuard class", {S_OK, S_OK, NoClass}, WBEM_E_INVALID_CLASS},
        {"no instance", {S_OK, S_OK, S_OK, false}, WBEM_E_NOT_FOUND},
        {"VBS off", {}, 0, 0, 0, 0},
        {"enabled, not running", {.Status = 1, .Configured = {2}}, 0, 1, 4, 0},
        {"running: Credential Guard, memory integrity", {.Status = 2, .Configured = {1, 2}, .Running = {1, 2, 3}}, 0,
         2, 6, 14},
    };
    for (const auto& row : guards) {
        World = row.World;
        Vbs read;
        ReadDeviceGuard(Double, read);
        EXPECT(read.StatusRead == (row.Error == 0) && read.StatusError == row.Error && read.Status == row.Status &&
                   read.Configured == row.Configured && read.Running == row.Running,
               row.Case);
        const bool queried = row.World.Create == S_OK && row.World.Connect == S_OK;
        EXPECT(World.Namespace == (row.World.Create == S_OK ? L"ROOT\\Microsoft\\Windows\\DeviceGuard" : L"") &&
                   (!queried || World.Calls == L"WQL: SELECT * FROM Win32_DeviceGuard"),
               row.Case);
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
        {"the store refused", {.Opened = false}, LaunchSetting::NotRead, WBEM_E_NOT_FOUND, L"OpenStore "},
        {"not set", {.Element = false}, LaunchSetting::Absent, 0, all},
        {"Off", {.Integer = L"0"}, LaunchSetting::Off, 0, all},
        {"Auto", {}, LaunchSetting::Auto, 0, all},
        {"another value", {.Integer = L"3"}, LaunchSetting::Other, 0, all},
    };
    for (const auto& row : launches) {
        World = row.World;
        WindowsSide side;
        ReadLaunchSetting(Double, side);
        EXPECT(side.HypervisorLaunch == row.Expected && side.HypervisorLaunchError == row.Error, row.Case);
        EXPECT(World.Namespace == L"ROOT\\WMI" && World.Calls == row.Calls && World.Live == 0, row.Case);
    }
}
