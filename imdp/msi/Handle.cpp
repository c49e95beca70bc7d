#include "imdp/msi/Handle.h"

#include "imdp/msi/InstallerString.h"

#include <fstream>

namespace imdp {
namespace msi {

void msi_handle_wrapper::Close() noexcept
{
    if (owns_ && handle_ != 0)
        MsiCloseHandle(handle_);
    handle_ = 0;
}

void view_handle_wrapper::Close() noexcept
{
    if (owns_ && handle_ != 0)
        MsiViewClose(handle_);
    msi_handle_wrapper::Close();
}

CHandle CHandle::Owning(MSIHANDLE handle)
{
    return CHandle(std::make_shared<msi_handle_wrapper>(handle, true));
}

CHandle CHandle::NonOwning(MSIHANDLE handle)
{
    return CHandle(std::make_shared<msi_handle_wrapper>(handle, false));
}

CRecord CRecord::Create(UINT fields)
{
    const MSIHANDLE record = MsiCreateRecord(fields);
    if (record == 0)
        throw msi_error("MsiCreateRecord failed", ERROR_FUNCTION_FAILED);
    return CRecord(std::make_shared<msi_handle_wrapper>(record, true));
}

std::wstring CRecord::GetString() const
{
    const InstallerString text =
        ReadInstallerString([this](wchar_t* buffer, DWORD* length) { return MsiRecordGetStringW(Get(), 1, buffer, length); });
    if (text.answer != ERROR_SUCCESS)
        throw msi_error("MsiRecordGetString failed", text.answer);
    return text.value;
}

void CRecord::SetString(UINT field, const std::wstring& value)
{
    const UINT result = MsiRecordSetStringW(Get(), field, value.c_str());
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiRecordSetString failed", result);
}

std::vector<char> CRecord::ReadStream() const
{
    DWORD size = 0;
    UINT result = MsiRecordReadStream(Get(), 1, nullptr, &size);
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiRecordReadStream failed", result);
    std::vector<char> data(size);
    if (size == 0)
        return data;
    result = MsiRecordReadStream(Get(), 1, data.data(), &size);
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiRecordReadStream failed", result);
    data.resize(size);
    return data;
}

void CView::Execute()
{
    const UINT result = MsiViewExecute(Get(), 0);
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiViewExecute failed", result);
}

void CView::Execute(const CRecord& params)
{
    const UINT result = MsiViewExecute(Get(), params.Get());
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiViewExecute failed", result);
}

CViewRecord CView::Fetch()
{
    MSIHANDLE record = 0;
    const UINT result = MsiViewFetch(Get(), &record);
    if (result == ERROR_NO_MORE_ITEMS)
        return CViewRecord();
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiViewFetch failed", result);
    return CViewRecord(std::make_shared<msi_handle_wrapper>(record, true));
}

void CView::Close()
{
    const UINT result = MsiViewClose(Get());
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiViewClose failed", result);
}

CView CDatabase::OpenView(const std::wstring& sql)
{
    MSIHANDLE view = 0;
    const UINT result = MsiDatabaseOpenViewW(Get(), sql.c_str(), &view);
    if (result != ERROR_SUCCESS)
        throw msi_error("MsiDatabaseOpenView failed", result);
    return CView(std::make_shared<view_handle_wrapper>(view, true));
}

void CDatabase::WriteBinaryToFile(const std::wstring& name, std::wstring path)
{
    // The name goes into the query as it is: a quote would end the literal.
    if (name.find_first_of(L"'`") != std::wstring::npos)
        throw msi_error("Invalid Binary row name", ERROR_INVALID_PARAMETER);
    CView view = OpenView(L"SELECT `Binary`.`Data` FROM `Binary` WHERE `Binary`.`Name` = '" + name + L"'");
    view.Execute();
    CViewRecord record = view.Fetch();
    if (!record.IsValid())
        return;
    const std::vector<char> data = record.ReadStream();
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    if (!out)
        throw msi_error("Unable to create file", ERROR_FUNCTION_FAILED);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        // A cut-off copy of the row must not pass for the whole one.
        DeleteFileW(path.c_str());
        throw msi_error("Unable to write file", ERROR_WRITE_FAULT);
    }
}

} // namespace msi
} // namespace imdp
