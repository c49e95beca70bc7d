#pragma once

namespace imdp {

// Base of a process-wide object created on first use. Creation is thread-safe
// (function-local static); a constructor that throws leaves nothing behind and
// the next Instance() call tries again.
template <typename T>
class CSingleton {
public:
    static T& Instance()
    {
        static T instance;
        return instance;
    }

    CSingleton(const CSingleton&) = delete;
    CSingleton& operator=(const CSingleton&) = delete;

protected:
    CSingleton() = default;
    ~CSingleton() = default;
};

} // namespace imdp
