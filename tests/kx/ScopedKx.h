#pragma once

// Puts a test double in place of one framework service for the guard's scope:
//   FakeSettings settings;
//   ScopedKxService<imdp::kx::ISettings> guard(settings);
// Only code linked into the test program sees the double (clientca.dll loaded
// with LoadLibrary keeps its own production services).

#include "imdp/kx/ServiceSlot.h"

namespace kxtest {

template <typename Interface>
class ScopedKxService {
public:
    explicit ScopedKxService(Interface& replacement) : previous_(imdp::kx::ReplaceService<Interface>(&replacement)) {}
    ~ScopedKxService() { imdp::kx::ReplaceService<Interface>(previous_); }
    ScopedKxService(const ScopedKxService&) = delete;
    ScopedKxService& operator=(const ScopedKxService&) = delete;

private:
    Interface* previous_;
};

} // namespace kxtest
