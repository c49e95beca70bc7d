#pragma once

#include "imdp/log/Logger.h"

#include <memory>

namespace imdp {
namespace msi {

class CSession;

// Sends each finished, timestamped line into the installer log of a session.
class CMsiBuffer : public log::CLogBuffer {
public:
    explicit CMsiBuffer(CSession* session) : session_(session) {}
    void Write(const FILETIME& time, log::LogLevel level, const std::wstring& text) override;

private:
    CSession* session_;
};

class CMsiLogger : public log::CLogger {
public:
    using log::CLogger::CLogger;
    static std::unique_ptr<log::CLogBuffer> CreateLogBuffer(CSession* session);
};

} // namespace msi
} // namespace imdp
