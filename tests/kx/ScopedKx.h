#pragma once

// Puts a test double in place of one framework service for the guard's scope:
//   FakeSettings settings;
//   ScopedKxService<imdp::kx::ISettings> guard(settings);
// Only code linked into the test program sees the double (clientca.dll loaded
// with LoadLibrary keeps its own production services).

#include "imdp/Seam.h"

namespace kxtest {

template <typename Interface>
using ScopedKxService = typename imdp::Seam<Interface>::Scoped;

} // namespace kxtest
