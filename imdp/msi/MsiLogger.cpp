#include "imdp/msi/MsiLogger.h"

#include "imdp/UniqueHandle.h"
#include "imdp/msi/Errors.h"
#include "imdp/msi/Session.h"

#include <msiquery.h>

namespace imdp {
namespace msi {

void CMsiBuffer::Write(const FILETIME& time, log::LogLevel level, const std::wstring& text)
{
    const std::wstring line = log::FormatLine(time, level, text);
    unique_msi_handle record(MsiCreateRecord(1));
    if (!record)
        return;
    MsiRecordSetStringW(record.get(), 0, line.c_str());
    const int answer = MsiProcessMessage(session_->Get(), INSTALLMESSAGE_INFO, record.get());
    if (answer < 0)
        throw msi_error("MsiProcessMessage failed", ERROR_FUNCTION_FAILED);
}

std::unique_ptr<log::CLogBuffer> CMsiLogger::CreateLogBuffer(CSession* session)
{
    return std::unique_ptr<log::CLogBuffer>(new CMsiBuffer(session));
}

} // namespace msi
} // namespace imdp
