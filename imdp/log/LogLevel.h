#pragma once

namespace imdp {
namespace log {

// Levels shared by both log writers; as a threshold, 0 means "log nothing".
enum LogLevel : int {
    LOG_NONE = 0,
    LOG_TRACE = 1,
    LOG_DEBUG = 2,
    LOG_INFO = 3,
    LOG_WARN = 4,
    LOG_ERROR = 5,
    LOG_FATAL = 6,
};

// "TRACE" .. "FATAL" for 1..6, the empty string otherwise.
const wchar_t* LevelName(LogLevel level);

} // namespace log
} // namespace imdp
