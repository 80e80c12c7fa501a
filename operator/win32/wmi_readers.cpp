#include "operator/win32/wmi_readers.h"

#include <wbemidl.h>

namespace {

// Releases a COM interface when it goes out of scope.
template <typename Interface>
class Com {
public:
    Com() = default;
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() { Reset(); }
    void Reset()
    {
        if (pointer_ != nullptr) {
            pointer_->Release();
        }
        pointer_ = nullptr;
    }
    Interface** Put()
    {
        Reset();
        return &pointer_;
    }
    Interface* operator->() const { return pointer_; }
    Interface* Get() const { return pointer_; }

private:
    Interface* pointer_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const wchar_t* Text) : text_(SysAllocString(Text)) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(text_); }
    operator BSTR() const { return text_; }

private:
    BSTR text_;
};

// A VARIANT cleared, whatever it holds, when it goes out of scope.
struct Variant : VARIANT {
    Variant() { VariantInit(this); }
    Variant(VARTYPE Type, LONG Number, const wchar_t* Text) : Variant()
    {
        vt = Type;
        if (Type == VT_BSTR) {
            bstrVal = SysAllocString(Text);
        } else {
            lVal = Number;
        }
    }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(this); }
};

// CLSID_WbemLocator (wbemcli.h), without linking wbemuuid.
constexpr GUID WbemLocator = {0x4590f811, 0x1d3a, 0x11d0, {0x89, 0x1f, 0x00, 0xaa, 0x00, 0x4b, 0x2e, 0x24}};
// {current}: the loader of the running Windows (bcdedit /? ID).
constexpr const wchar_t* CurrentLoader = L"{fa926493-6f1c-4193-a414-58f0b2456d1e}";
constexpr LONG HypervisorLaunchType = 0x250000F0;  // BcdOSLoaderInteger_HypervisorLaunchType

// One WMI namespace, connected as Microsoft Learn's "Example: Getting WMI Data
// from the Local Computer" does: COM, default security, the locator, the
// namespace, and the proxy's blanket allowing impersonation.
class Wmi {
public:
    Wmi(const ComApi& Com, const wchar_t* Namespace) : com_(Com)
    {
        const HRESULT started = Com.Initialize(nullptr, COINIT_MULTITHREADED);
        initialized_ = SUCCEEDED(started);  // S_FALSE too: COM was already on, and is left as it was
        status_ = started == RPC_E_CHANGED_MODE ? S_OK : started;
        const HRESULT security = SUCCEEDED(status_) ? Com.InitializeSecurity(nullptr, -1, nullptr, nullptr,
                                                                             RPC_C_AUTHN_LEVEL_DEFAULT,
                                                                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                                                                             EOAC_NONE, nullptr)
                                                    : status_;
        status_ = security == RPC_E_TOO_LATE ? S_OK : security;  // set already in this process
        if (SUCCEEDED(status_)) {
            status_ = Com.CreateInstance(WbemLocator, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWbemLocator),
                                         reinterpret_cast<void**>(locator_.Put()));
        }
        if (SUCCEEDED(status_)) {
            status_ = locator_->ConnectServer(Bstr(Namespace), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                              services_.Put());
        }
        if (SUCCEEDED(status_)) {
            status_ = Com.SetProxyBlanket(services_.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                                          RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        }
    }
    Wmi(const Wmi&) = delete;
    Wmi& operator=(const Wmi&) = delete;
    ~Wmi()
    {
        services_.Reset();
        locator_.Reset();
        if (initialized_) {
            com_.Uninitialize();
        }
    }
    HRESULT Status() const { return status_; }

    // The first object Query finds; WBEM_E_NOT_FOUND where there is none.
    HRESULT First(const wchar_t* Query, Com<IWbemClassObject>& Found)
    {
        Com<IEnumWbemClassObject> results;
        HRESULT result = services_->ExecQuery(Bstr(L"WQL"), Bstr(Query),
                                              WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                              results.Put());
        ULONG returned = 0;
        if (SUCCEEDED(result)) {
            result = results->Next(10000, 1, Found.Put(), &returned);
        }
        return FAILED(result) ? result : returned == 1 ? S_OK : WBEM_E_NOT_FOUND;
    }

    // Method of Class, called on Path with one in-parameter; its out-parameters into Out.
    HRESULT Call(const wchar_t* Class, const wchar_t* Path, const wchar_t* Method, const wchar_t* Name,
                 VARIANT* Value, Com<IWbemClassObject>& Out)
    {
        Com<IWbemClassObject> definition, signature, in;
        HRESULT result = services_->GetObject(Bstr(Class), 0, nullptr, definition.Put(), nullptr);
        if (SUCCEEDED(result)) {
            result = definition->GetMethod(Method, 0, signature.Put(), nullptr);
        }
        if (SUCCEEDED(result)) {
            result = signature->SpawnInstance(0, in.Put());
        }
        if (SUCCEEDED(result)) {
            result = in->Put(Name, 0, Value, 0);
        }
        if (SUCCEEDED(result)) {
            result = services_->ExecMethod(Bstr(Path), Bstr(Method), 0, nullptr, in.Get(), Out.Put(), nullptr);
        }
        return result;
    }

private:
    const ComApi& com_;
    bool initialized_ = false;
    HRESULT status_ = E_FAIL;
    Com<IWbemLocator> locator_;
    Com<IWbemServices> services_;
};

// uint32 arrives as VT_I4 (Microsoft Learn, "Numbers" in WMI's data types).
unsigned long Number(IWbemClassObject* Object, const wchar_t* Name)
{
    Variant value;
    return SUCCEEDED(Object->Get(Name, 0, &value, nullptr, nullptr)) && value.vt == VT_I4
               ? static_cast<unsigned long>(value.lVal)
               : 0;
}

// An array of service numbers as bits: service n is bit n.
unsigned long ServiceBits(IWbemClassObject* Object, const wchar_t* Name)
{
    Variant value;
    unsigned long bits = 0;
    LONG* numbers = nullptr;
    if (FAILED(Object->Get(Name, 0, &value, nullptr, nullptr)) || value.vt != (VT_ARRAY | VT_I4) ||
        FAILED(SafeArrayAccessData(value.parray, reinterpret_cast<void**>(&numbers)))) {
        return 0;
    }
    for (ULONG i = 0; i < value.parray->rgsabound[0].cElements; ++i) {
        bits |= numbers[i] >= 0 && numbers[i] < 32 ? 1UL << numbers[i] : 0;
    }
    SafeArrayUnaccessData(value.parray);
    return bits;
}

// The call succeeded and its ReturnValue is true; Named is then its object out-parameter.
HRESULT Returned(HRESULT Result, IWbemClassObject* Out, const wchar_t* Named, Com<IWbemClassObject>& Object)
{
    Variant ok, value;
    if (FAILED(Result) || FAILED(Out->Get(L"ReturnValue", 0, &ok, nullptr, nullptr)) || ok.vt != VT_BOOL ||
        ok.boolVal == VARIANT_FALSE) {
        return FAILED(Result) ? Result : WBEM_E_NOT_FOUND;
    }
    if (FAILED(Out->Get(Named, 0, &value, nullptr, nullptr)) || value.vt != VT_UNKNOWN || value.punkVal == nullptr) {
        return WBEM_E_NOT_FOUND;
    }
    return value.punkVal->QueryInterface(__uuidof(IWbemClassObject), reinterpret_cast<void**>(Object.Put()));
}

// Where an object is, for calling its methods.
HRESULT PathOf(IWbemClassObject* Object, Variant& Path)
{
    const HRESULT result = Object->Get(L"__RELPATH", 0, &Path, nullptr, nullptr);
    return SUCCEEDED(result) && Path.vt == VT_BSTR ? S_OK : WBEM_E_NOT_FOUND;
}

}  // namespace

ComApi WindowsCom()
{
    return ComApi{CoInitializeEx, CoUninitialize, CoInitializeSecurity, CoCreateInstance, CoSetProxyBlanket};
}

void ReadDeviceGuard(const ComApi& ComCalls, Vbs& Security)
{
    Wmi wmi(ComCalls, L"ROOT\\Microsoft\\Windows\\DeviceGuard");
    Com<IWbemClassObject> guard;
    const HRESULT result = SUCCEEDED(wmi.Status()) ? wmi.First(L"SELECT * FROM Win32_DeviceGuard", guard)
                                                   : wmi.Status();
    if (FAILED(result)) {
        Security.StatusError = static_cast<unsigned long>(result);
        return;
    }
    Security.StatusRead = true;
    Security.Status = Number(guard.Get(), L"VirtualizationBasedSecurityStatus");
    Security.Configured = ServiceBits(guard.Get(), L"SecurityServicesConfigured");
    Security.Running = ServiceBits(guard.Get(), L"SecurityServicesRunning");
}

void ReadLaunchSetting(const ComApi& ComCalls, WindowsSide& Side)
{
    Wmi wmi(ComCalls, L"ROOT\\WMI");
    Com<IWbemClassObject> out, store, loader, element;
    Variant file(VT_BSTR, 0, L""), id(VT_BSTR, 0, CurrentLoader), type(VT_I4, HypervisorLaunchType, nullptr);
    Variant storePath, loaderPath, value;  // File "": the system store
    HRESULT result = wmi.Status();
    if (SUCCEEDED(result)) {
        result = Returned(wmi.Call(L"BcdStore", L"BcdStore", L"OpenStore", L"File", &file, out), out.Get(), L"Store",
                          store);
    }
    if (SUCCEEDED(result) && SUCCEEDED(result = PathOf(store.Get(), storePath))) {
        result = Returned(wmi.Call(L"BcdStore", storePath.bstrVal, L"OpenObject", L"Id", &id, out), out.Get(),
                          L"Object", loader);
    }
    if (SUCCEEDED(result) && SUCCEEDED(result = PathOf(loader.Get(), loaderPath))) {
        result = wmi.Call(L"BcdObject", loaderPath.bstrVal, L"GetElement", L"Type", &type, out);
        const HRESULT found = Returned(result, SUCCEEDED(result) ? out.Get() : nullptr, L"Element", element);
        if (SUCCEEDED(result) && FAILED(found)) {
            Side.HypervisorLaunch = LaunchSetting::Absent;  // GetElement answers false: not set in {current}
            return;
        }
        result = found;
    }
    if (FAILED(result) || FAILED(element->Get(L"Integer", 0, &value, nullptr, nullptr)) || value.vt != VT_BSTR) {
        Side.HypervisorLaunchError = static_cast<unsigned long>(FAILED(result) ? result : WBEM_E_NOT_FOUND);
        return;
    }
    // uint64 arrives as a string of decimal digits; hypervisorlaunchtype Off is 0, Auto 1.
    const std::wstring_view digits(value.bstrVal, SysStringLen(value.bstrVal));
    Side.HypervisorLaunch = digits == L"0" ? LaunchSetting::Off : digits == L"1" ? LaunchSetting::Auto
                                                                                : LaunchSetting::Other;
}
