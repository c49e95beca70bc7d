#include "install_utils/ExportGuard.h"

#include "imdp/StringConv.h"
#include "install_utils/InstallUtilsException.h"
#include "install_utils/MsiLogStream.h"

#include <exception>
#include <string>

namespace InstallUtils {

void LogEscapedException(MSIHANDLE hInstall, const wchar_t* exportName) noexcept
{
    try {
        std::wstring detail;
        try {
            throw;
        } catch (const CInstallUtilsException& e) {
            detail = e.message() + L" (" + std::to_wstring(e.code()) + L")";
        } catch (const std::exception& e) {
            detail = imdp::AnsiToWide(e.what());
        } catch (const std::wstring& text) {
            detail = text;
        } catch (const wchar_t* text) {
            detail = text != nullptr ? text : L"";
        } catch (const char* text) {
            detail = text != nullptr ? imdp::AnsiToWide(text) : L"";
        } catch (...) {
            detail = L"exception of unknown type";
        }
        SendInfoLine(hInstall, std::wstring(L"clientca: ERROR ") + exportName + L": unhandled exception: " +
                                   detail + L"; the action returns 1603.");
    } catch (...) {
    }
}

} // namespace InstallUtils
