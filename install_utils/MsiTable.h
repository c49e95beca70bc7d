#pragma once

#include "install_utils/MsiUtil.h"

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace InstallUtils {

// Reads a table of the package (or the rows matching a condition) into memory
// as text. `handle` is a session (pass useActiveDatabase = true) or an open
// database handle. Failures are reported by the boolean results and ERROR
// lines in the installer log; only getStringRecord throws.
class CMsiTable {
public:
    // Column name and column type as the installer reports it (s72, I2, L255, ...).
    using columns = std::vector<std::pair<std::wstring, std::wstring>>;
    // Column name to the field's text.
    using row = std::map<std::wstring, std::wstring>;
    using rows = std::vector<row>;

    explicit CMsiTable(MSIHANDLE handle);
    CMsiTable(const CMsiTable&) = delete;
    CMsiTable& operator=(const CMsiTable&) = delete;

    // Appends the table's persistent columns (temporary columns and objects are
    // left out); false when the table cannot be opened or a column not read.
    bool getColumns(const wchar_t* table, columns& cols, bool useActiveDatabase);

    // Appends one row per record of the table (restricted by `condition` when
    // it is given), with the fields of `cols`: strings as text, integers in
    // decimal (a null integer as the empty string). True when the table was read
    // to its end, even when no row matched.
    bool getRecords(const wchar_t* table, const columns& cols, rows& out, const wchar_t* condition,
                    bool useActiveDatabase);

    // The text of `field` of `record`; an empty string (and a log line) when the
    // value cannot be read; throws CInstallUtilsException when the installer
    // answers the length query unexpectedly.
    std::wstring getStringRecord(MSIHANDLE record, UINT field);

private:
    class OpenedView;
    bool openView(const wchar_t* table, const wchar_t* condition, bool useActiveDatabase, OpenedView& opened);

    CMsiUtil util_;
};

} // namespace InstallUtils
