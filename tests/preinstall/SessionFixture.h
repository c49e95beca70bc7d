#pragma once

#include "tests/support/Package.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace preinstalltest {

inline std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

// A session on a plain package, with every log line of the test captured.
class SessionTest : public ::testing::Test {
protected:
    static const std::wstring& Package()
    {
        static const std::wstring package = testsupport::PackageBuilder(testsupport::DataPath(L"preinstall.msi")).Commit();
        return package;
    }

    void SetUp() override { session_ = std::make_unique<testsupport::Session>(Package()); }
    void TearDown() override { session_.reset(); }

    MSIHANDLE handle() const { return session_->get(); }
    testsupport::Session& session() { return *session_; }
    std::wstring Property(const wchar_t* name) const { return session_->Property(name); }
    bool Logged(const std::wstring& line) const { return capture_->Has(line); }
    std::string Log() const { return Narrow(capture_->Joined()); }
    testsupport::LogCapture& capture() { return *capture_; }

    std::unique_ptr<testsupport::LogCapture> capture_ = std::make_unique<testsupport::LogCapture>();
    std::unique_ptr<testsupport::Session> session_;
};

} // namespace preinstalltest
