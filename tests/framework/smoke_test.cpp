#include "tests/support/Package.h"

#include <gtest/gtest.h>

TEST(Smoke, OpensSessionAndCallsExport)
{
    using namespace testsupport;
    PackageBuilder builder(DataPath(L"smoke.msi"));
    const std::wstring package = builder.Commit();
    LogCapture capture;
    Session session(package);
    ExportLibrary clientca(ClientCaPath());
    EXPECT_EQ(1603u, clientca.Call("ForceInstallFailure", session.get()));
    EXPECT_TRUE(capture.Has(L"clientca:  Intentional force of Install Failure!")) << std::string(capture.Joined().begin(), capture.Joined().end());
}
