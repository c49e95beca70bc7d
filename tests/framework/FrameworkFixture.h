#pragma once

// A session on a freshly built package with every INFO line captured, and the
// process-wide log threshold put back to its default around each test (it
// outlives a CMsiUtil object, so one test would otherwise leak into the next).

#include "install_utils/MsiLogStream.h"
#include "tests/support/Package.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace fwtest {

using PropertyList = std::vector<std::pair<std::wstring, std::wstring>>;

// A package file name no other test of this run uses (an open session keeps its file busy).
inline std::wstring UniquePackageName()
{
    static int counter = 0;
    return L"framework_" + std::to_wstring(++counter) + L".msi";
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override { InstallUtils::SetLogThreshold(2); }
    void TearDown() override
    {
        session_.reset();
        InstallUtils::SetLogThreshold(2);
    }

    // Builds a package, opens a session on it and sets `properties` on the
    // session; the capture is emptied so that it holds only the test's lines.
    MSIHANDLE OpenSession(const PropertyList& properties = {})
    {
        testsupport::PackageBuilder builder(testsupport::DataPath(UniquePackageName()));
        productCode_ = builder.ProductCode();
        package_ = builder.Commit();
        session_.reset(new testsupport::Session(package_));
        for (const auto& property : properties)
            session_->SetProperty(property.first, property.second);
        capture_.Clear();
        return session_->get();
    }

    std::wstring Lines() const { return capture_.Joined(); }

    testsupport::LogCapture capture_;
    std::unique_ptr<testsupport::Session> session_;
    std::wstring package_;
    std::wstring productCode_;
};

// The text of a timestamped line after "<timestamp> ", or the line itself when it has no timestamp.
inline std::wstring WithoutTimestamp(const std::wstring& line)
{
    // "2024-05-01T09:30:12.045Z " is 25 characters.
    if (line.size() >= 25 && line[4] == L'-' && line[10] == L'T' && line[23] == L'Z' && line[24] == L' ')
        return line.substr(25);
    return line;
}

// Index of the first line at or after `from` that equals `text` (timestamps removed), or -1.
inline int FindLine(const std::vector<std::wstring>& lines, const std::wstring& text, int from = 0)
{
    for (size_t i = static_cast<size_t>(from < 0 ? 0 : from); i < lines.size(); ++i)
        if (WithoutTimestamp(lines[i]) == text)
            return static_cast<int>(i);
    return -1;
}

} // namespace fwtest
