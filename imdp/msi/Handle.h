#pragma once

#include "imdp/msi/Errors.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <memory>
#include <string>
#include <vector>

namespace imdp {
namespace msi {

// One installer handle; closed on destruction (or Close) when owned.
class msi_handle_wrapper {
public:
    msi_handle_wrapper(MSIHANDLE handle, bool owns) noexcept : handle_(handle), owns_(owns) {}
    virtual ~msi_handle_wrapper() { Close(); }
    msi_handle_wrapper(const msi_handle_wrapper&) = delete;
    msi_handle_wrapper& operator=(const msi_handle_wrapper&) = delete;

    MSIHANDLE get() const noexcept { return handle_; }
    bool owns() const noexcept { return owns_; }
    virtual void Close() noexcept;

protected:
    MSIHANDLE handle_;
    bool owns_;
};

// A view handle: MsiViewClose before MsiCloseHandle.
class view_handle_wrapper : public msi_handle_wrapper {
public:
    using msi_handle_wrapper::msi_handle_wrapper;
    ~view_handle_wrapper() override { Close(); }
    void Close() noexcept override;
};

// Shared ownership of one installer handle; the last holder closes it.
class CHandle {
public:
    CHandle() = default;
    explicit CHandle(std::shared_ptr<msi_handle_wrapper> wrapper) : wrapper_(std::move(wrapper)) {}
    virtual ~CHandle() = default;

    static CHandle Owning(MSIHANDLE handle);
    static CHandle NonOwning(MSIHANDLE handle);

    MSIHANDLE Get() const noexcept { return wrapper_ ? wrapper_->get() : 0; }
    bool IsValid() const noexcept { return Get() != 0; }

protected:
    std::shared_ptr<msi_handle_wrapper> wrapper_;
};

class CRecord : public CHandle {
public:
    CRecord() = default;
    explicit CRecord(std::shared_ptr<msi_handle_wrapper> wrapper) : CHandle(std::move(wrapper)) {}

    // A new owned record with `fields` fields.
    static CRecord Create(UINT fields);

    std::wstring GetString() const;
    void SetString(UINT field, const std::wstring& value);
    std::vector<char> ReadStream() const;
};

// What a fetch returns; empty (not valid) after the last row.
class CViewRecord : public CRecord {
public:
    CViewRecord() = default;
    explicit CViewRecord(std::shared_ptr<msi_handle_wrapper> wrapper) : CRecord(std::move(wrapper)) {}
};

class CView : public CHandle {
public:
    CView() = default;
    explicit CView(std::shared_ptr<msi_handle_wrapper> wrapper) : CHandle(std::move(wrapper)) {}

    void Execute();
    void Execute(const CRecord& params);
    CViewRecord Fetch();
    void Close();
};

class CDatabase : public CHandle {
public:
    CDatabase() = default;
    explicit CDatabase(std::shared_ptr<msi_handle_wrapper> wrapper) : CHandle(std::move(wrapper)) {}

    CView OpenView(const std::wstring& sql);
    // Writes the data of the Binary row `name` into `path`; writes nothing when there is no such row.
    void WriteBinaryToFile(const std::wstring& name, std::wstring path);
};

} // namespace msi
} // namespace imdp
