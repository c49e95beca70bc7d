#pragma once

// The framework services are reached through one current instance per
// interface: the production implementation unless a replacement has been put
// in its place (tests put doubles there for their own scope).

namespace imdp {
namespace kx {

template <typename Interface>
Interface*& ReplacementSlot()
{
    static Interface* replacement = nullptr;
    return replacement;
}

// Puts `replacement` (null: the production implementation) in place and gives
// back what was there before.
template <typename Interface>
Interface* ReplaceService(Interface* replacement)
{
    Interface* previous = ReplacementSlot<Interface>();
    ReplacementSlot<Interface>() = replacement;
    return previous;
}

} // namespace kx
} // namespace imdp
