#pragma once

#include <windows.h>
#include <msi.h>

namespace InstallUtils {

// Copies and deletes registry key trees, logging into the installer log of
// `hInstall`. Never throws: each returns whether all of its work succeeded and
// leaves what it copied or deleted so far.
class CRegUtil {
public:
    // Copies the tree below srcRoot\srcPath (subkeys first, then the values)
    // into dstRoot\dstPath, creating destination keys with `options`
    // (REG_OPTION_NON_VOLATILE, REG_OPTION_VOLATILE). A subkey that fails does
    // not stop the others; the result is true only when everything was copied.
    static bool copyKeys(MSIHANDLE hInstall, HKEY srcRoot, const wchar_t* srcPath, HKEY dstRoot,
                         const wchar_t* dstPath, DWORD options);

    // Copies every value of srcKey into dstKey under the same name, type and data;
    // true when all values were read and written.
    static bool copyValues(MSIHANDLE hInstall, HKEY srcKey, HKEY dstKey);

    // Deletes root\path with all its subkeys; true when the key itself was deleted.
    static bool deleteKeys(MSIHANDLE hInstall, HKEY root, const wchar_t* path);
};

} // namespace InstallUtils
