#include "actions/embedded/WmiInfo.h"

#include "imdp/UniqueHandle.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <stdexcept>

namespace WmiUtil {
namespace {

// Balances a successful CoInitializeEx.
class CComApartment {
public:
    CComApartment()
    {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (FAILED(hr))
            throw wmi_error("CoInitializeEx() failed", hr);
    }
    ~CComApartment() { CoUninitialize(); }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;
};

class CBstr {
public:
    explicit CBstr(const std::wstring& text) : value_(SysAllocString(text.c_str())) {}
    ~CBstr() { SysFreeString(value_); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    BSTR get() const { return value_; }

private:
    BSTR value_;
};

WmiValue ToValue(VARIANT& v)
{
    WmiValue value;
    if (v.vt == VT_BOOL) {
        value.kind = WmiValue::Bool;
        value.boolean = v.boolVal != VARIANT_FALSE;
    } else if (v.vt == VT_BSTR) {
        value.kind = WmiValue::Text;
        value.text = v.bstrVal != nullptr ? v.bstrVal : L"";
    } else if (v.vt != VT_NULL && v.vt != VT_EMPTY) {
        VARIANT converted;
        VariantInit(&converted);
        if (SUCCEEDED(VariantChangeType(&converted, &v, 0, VT_I8))) {
            value.kind = WmiValue::Integer;
            value.integer = converted.llVal;
        }
        VariantClear(&converted);
    }
    return value;
}

} // namespace

struct CWmiInfoBase::Impl {
    CComApartment apartment; // first in, last out
    imdp::com_ptr<IWbemLocator> locator;
    imdp::com_ptr<IWbemServices> services;
};

CWmiInfoBase::CWmiInfoBase(const std::wstring& nameSpace)
{
    if (nameSpace.empty())
        throw wmi_error("No namespace specified.", E_INVALIDARG);
    impl_.reset(new Impl);
    HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                      RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    // Security already set for this process (by the host or an earlier connection) stays as it is.
    if (FAILED(hr) && hr != RPC_E_TOO_LATE)
        throw wmi_error("CoInitializeSecurity() failed", hr);
    hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                          impl_->locator.put_void());
    if (FAILED(hr))
        throw wmi_error("CoCreateInstance() failed", hr);
    if (!impl_->locator)
        throw wmi_error("CoCreateInstance() gave a NULL pointer", E_POINTER);
    CBstr ns(nameSpace);
    hr = impl_->locator->ConnectServer(ns.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                       impl_->services.put());
    if (FAILED(hr))
        throw wmi_error("ConnectServer() failed", hr);
    hr = CoSetProxyBlanket(impl_->services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                           RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr))
        throw wmi_error("CoSetProxyBlanket() failed", hr);
}

CWmiInfoBase::~CWmiInfoBase() = default;

std::vector<WmiRow> CWmiInfoBase::Query(const std::wstring& wql, const std::vector<std::wstring>& properties,
                                        size_t maxRows)
{
    CBstr language(L"WQL");
    CBstr query(wql);
    imdp::com_ptr<IEnumWbemClassObject> enumerator;
    const HRESULT hr = impl_->services->ExecQuery(
        language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
        enumerator.put());
    if (FAILED(hr) || !enumerator)
        throw wmi_error("ExecQuery() failed", FAILED(hr) ? hr : E_POINTER);
    std::vector<WmiRow> rows;
    while (rows.size() < maxRows) {
        imdp::com_ptr<IWbemClassObject> object;
        ULONG returned = 0;
        const HRESULT next = enumerator->Next(static_cast<long>(WBEM_INFINITE), 1, object.put(), &returned);
        if (FAILED(next))
            throw wmi_error("Next() failed", next);
        if (returned == 0 || !object)
            break;
        WmiRow row;
        for (const std::wstring& name : properties) {
            VARIANT v;
            VariantInit(&v);
            if (SUCCEEDED(object->Get(name.c_str(), 0, &v, nullptr, nullptr)))
                row[name] = ToValue(v);
            VariantClear(&v);
        }
        rows.push_back(row);
    }
    return rows;
}

namespace {

class CSystemWmi : public IWmiQuery {
public:
    std::vector<WmiRow> Query(const std::wstring& nameSpace, const std::wstring& wql,
                              const std::vector<std::wstring>& properties, size_t maxRows) override
    {
        CWmiInfoBase connection(nameSpace);
        return connection.Query(wql, properties, maxRows);
    }
};

} // namespace

IWmiQuery& SystemWmi()
{
    static CSystemWmi real;
    return real;
}

} // namespace WmiUtil
