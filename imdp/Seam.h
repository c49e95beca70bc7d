#pragma once

namespace imdp {

// The one point through which actions reach an outside component that must be
// replaceable: Interface::Production() answers unless a caller has put another
// implementation in place for the lifetime of a Seam<Interface>::Scoped.
// Scopes nest; each restores what was in place before it.
template <typename Interface>
class Seam {
public:
    static Interface& Current() { return installed_ != nullptr ? *installed_ : Interface::Production(); }

    class Scoped {
    public:
        explicit Scoped(Interface& replacement) : previous_(installed_) { installed_ = &replacement; }
        ~Scoped() { installed_ = previous_; }
        Scoped(const Scoped&) = delete;
        Scoped& operator=(const Scoped&) = delete;

    private:
        Interface* previous_;
    };

private:
    inline static Interface* installed_ = nullptr;
};

} // namespace imdp
