#include "install_utils/MsiTable.h"

#include "imdp/msi/InstallerString.h"
#include "imdp/UniqueHandle.h"

#include <cwchar>
#include <ostream>

namespace InstallUtils {
namespace {

const int kError = 5;
const DWORD kNameBufferLength = MAX_PATH;

bool TypeIn(const std::wstring& type, const wchar_t* letters)
{
    return !type.empty() && std::wcschr(letters, type[0]) != nullptr;
}

// Reads every field of a column-information record into buffers of 260 characters.
bool ReadColumnInfo(MSIHANDLE record, std::vector<std::wstring>& values)
{
    const UINT count = MsiRecordGetFieldCount(record);
    if (count == static_cast<UINT>(-1))
        return false;
    for (UINT field = 1; field <= count; ++field) {
        wchar_t buffer[kNameBufferLength] = {};
        DWORD length = kNameBufferLength;
        if (MsiRecordGetStringW(record, field, buffer, &length) != ERROR_SUCCESS)
            return false;
        values.emplace_back(buffer, length);
    }
    return true;
}

bool ReadColumnInfo(MSIHANDLE view, MSICOLINFO kind, std::vector<std::wstring>& values)
{
    imdp::unique_msi_handle record;
    if (MsiViewGetColumnInfo(view, kind, record.put()) != ERROR_SUCCESS)
        return false;
    return ReadColumnInfo(record.get(), values);
}

} // namespace

// An executed view and, when it was opened here, the active database; the view
// is closed before the database.
class CMsiTable::OpenedView {
public:
    imdp::unique_msi_handle database;
    imdp::unique_msi_handle view;

    ~OpenedView()
    {
        if (view)
            MsiViewClose(view.get());
    }
};

CMsiTable::CMsiTable(MSIHANDLE handle) : util_(handle, L"") {}

bool CMsiTable::openView(const wchar_t* table, const wchar_t* condition, bool useActiveDatabase, OpenedView& opened)
{
    // Names are put into the query as they are: a backquote would end the name.
    if (table == nullptr || *table == L'\0' || std::wcschr(table, L'`') != nullptr) {
        util_.log(kError) << L"Invalid table name" << std::endl;
        return false;
    }
    std::wstring query = std::wstring(L"SELECT * FROM `") + table + L"`";
    if (condition != nullptr && *condition != L'\0')
        query += std::wstring(L" WHERE ") + condition;

    MSIHANDLE database = util_.handle();
    if (useActiveDatabase) {
        opened.database.reset(MsiGetActiveDatabase(util_.handle()));
        if (!opened.database) {
            util_.log(kError) << L"MsiGetActiveDatabase failed" << std::endl;
            return false;
        }
        database = opened.database.get();
    }
    UINT result = MsiDatabaseOpenViewW(database, query.c_str(), opened.view.put());
    if (result != ERROR_SUCCESS) {
        util_.log(kError) << L"MsiDatabaseOpenView failed with result " << result << std::endl;
        return false;
    }
    result = MsiViewExecute(opened.view.get(), 0);
    if (result != ERROR_SUCCESS) {
        util_.log(kError) << L"MsiViewExecute failed with result " << result << L" GetLastError() " << GetLastError()
                          << std::endl;
        MsiViewClose(opened.view.get());
        opened.view.reset();
        return false;
    }
    return true;
}

bool CMsiTable::getColumns(const wchar_t* table, columns& cols, bool useActiveDatabase)
{
    OpenedView opened;
    if (!openView(table, nullptr, useActiveDatabase, opened))
        return false;
    std::vector<std::wstring> names;
    std::vector<std::wstring> types;
    if (!ReadColumnInfo(opened.view.get(), MSICOLINFO_NAMES, names) ||
        !ReadColumnInfo(opened.view.get(), MSICOLINFO_TYPES, types) || names.size() != types.size()) {
        util_.log(kError) << L"Unable to read the columns of " << table << std::endl;
        return false;
    }
    for (size_t i = 0; i < names.size(); ++i) {
        if (!TypeIn(types[i], L"gGjJO"))
            cols.emplace_back(names[i], types[i]);
    }
    return true;
}

bool CMsiTable::getRecords(const wchar_t* table, const columns& cols, rows& out, const wchar_t* condition,
                           bool useActiveDatabase)
{
    OpenedView opened;
    if (!openView(table, condition, useActiveDatabase, opened)) {
        util_.log(kError) << L"Unable to open table view (" << GetLastError() << L")" << std::endl;
        return false;
    }

    // Each column is read from the field the view gives it, so that a column
    // list without the temporary columns still finds every field.
    std::vector<std::wstring> names;
    if (!ReadColumnInfo(opened.view.get(), MSICOLINFO_NAMES, names)) {
        util_.log(kError) << L"Unable to read the columns of " << table << std::endl;
        return false;
    }
    std::vector<UINT> fields;
    for (const auto& column : cols) {
        UINT field = 0;
        for (size_t i = 0; i < names.size(); ++i) {
            if (names[i] == column.first) {
                field = static_cast<UINT>(i + 1);
                break;
            }
        }
        if (field == 0) {
            util_.log(kError) << L"No column " << column.first << L" in " << table << std::endl;
            return false;
        }
        fields.push_back(field);
    }

    for (;;) {
        imdp::unique_msi_handle record;
        const UINT result = MsiViewFetch(opened.view.get(), record.put());
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS) {
            util_.log(kError) << L"MsiViewFetch failed with result " << result << std::endl;
            return false;
        }
        row values;
        for (size_t i = 0; i < cols.size(); ++i) {
            const std::wstring& name = cols[i].first;
            const std::wstring& type = cols[i].second;
            if (TypeIn(type, L"sSlLg")) {
                values[name] = getStringRecord(record.get(), fields[i]);
            } else if (TypeIn(type, L"iIj")) {
                const int number = MsiRecordGetInteger(record.get(), fields[i]);
                values[name] = number == static_cast<int>(MSI_NULL_INTEGER) ? std::wstring() : std::to_wstring(number);
            } else {
                util_.log(kError) << L"Unknown data type in " << table << L" for column " << name << L", " << type
                                  << L", i = " << i << std::endl;
            }
        }
        out.push_back(std::move(values));
    }
    return true;
}

std::wstring CMsiTable::getStringRecord(MSIHANDLE record, UINT field)
{
    const imdp::msi::InstallerString text = imdp::msi::ReadInstallerString(
        [&](wchar_t* buffer, DWORD* length) { return MsiRecordGetStringW(record, field, buffer, length); });
    if (text.firstAnswer != ERROR_SUCCESS && text.firstAnswer != ERROR_MORE_DATA)
        throw CInstallUtilsException(L"Unexpected return code from MsiRecordGetString", text.firstAnswer);
    if (text.answer != ERROR_SUCCESS) {
        util_.logFields("ssII", L"InstallUtils::CMsiTable::getStringRecord", L"Unable to read field",
                        static_cast<int>(field), static_cast<int>(text.answer));
        return std::wstring();
    }
    return text.value;
}

} // namespace InstallUtils
