// Runs a function when the scope is left, however it is left (a return or
// an exception): one guard for every "set, and reset on the way out".
#pragma once

#include <utility>

namespace qm {

template <class TFn>
class TScopeExit {
public:
    explicit TScopeExit(TFn Fn) : fn_(std::move(Fn)) {}
    ~TScopeExit() { fn_(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    TFn fn_;
};

} // namespace qm
