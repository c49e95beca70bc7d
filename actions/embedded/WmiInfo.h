#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace WmiUtil {

// A failed WMI step: its text and the HRESULT the step answered.
class wmi_error : public std::runtime_error {
public:
    wmi_error(const char* text, HRESULT result) : std::runtime_error(text), result_(result) {}
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};

// One value of a WMI property as the callers need it.
struct WmiValue {
    enum Kind { Empty, Bool, Integer, Text } kind = Empty;
    bool boolean = false;
    long long integer = 0;
    std::wstring text;
};

using WmiRow = std::map<std::wstring, WmiValue>;

// Runs a WQL query in a namespace and reads the named properties of at most
// maxRows instances. Connection and query failures are wmi_error.
class IWmiQuery {
public:
    virtual ~IWmiQuery() = default;
    virtual std::vector<WmiRow> Query(const std::wstring& nameSpace, const std::wstring& wql,
                                      const std::vector<std::wstring>& properties, size_t maxRows) = 0;
};

// A connection to one WMI namespace: COM (multithreaded apartment), security,
// locator, ConnectServer and the proxy blanket. Failures raise wmi_error
// with the failing step's text and result.
class CWmiInfoBase {
public:
    explicit CWmiInfoBase(const std::wstring& nameSpace);
    virtual ~CWmiInfoBase();
    CWmiInfoBase(const CWmiInfoBase&) = delete;
    CWmiInfoBase& operator=(const CWmiInfoBase&) = delete;

    std::vector<WmiRow> Query(const std::wstring& wql, const std::vector<std::wstring>& properties,
                              size_t maxRows);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The real WMI, one connection per query.
IWmiQuery& SystemWmi();

} // namespace WmiUtil
