#pragma once

namespace imdp {
namespace nca_ {

// Base for types that must be neither copied nor assigned.
class CNonCopyable {
protected:
    CNonCopyable() = default;
    ~CNonCopyable() = default;

public:
    CNonCopyable(const CNonCopyable&) = delete;
    CNonCopyable& operator=(const CNonCopyable&) = delete;
};

} // namespace nca_
} // namespace imdp
