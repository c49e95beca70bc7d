#include "install_utils/CustomActionData.h"

namespace InstallUtils {

std::vector<std::wstring> SplitAllFields(const std::wstring& data, wchar_t delimiter)
{
    return TakeFields(data, delimiter, data.size() + 1);
}

std::vector<std::wstring> TakeFields(const std::wstring& data, wchar_t delimiter, size_t count)
{
    std::vector<std::wstring> fields;
    size_t start = 0;
    while (fields.size() < count) {
        const size_t end = data.find(delimiter, start);
        if (end == std::wstring::npos) {
            fields.push_back(data.substr(start));
            break;
        }
        fields.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

} // namespace InstallUtils
