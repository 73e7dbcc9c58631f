// Events are std::function members that may be empty. Fire() is the one way
// a component calls them, so an unassigned event is never called.
#pragma once

#include <functional>
#include <utility>

namespace qm {

template <class Sig, class... Args>
void Fire(const std::function<Sig>& event, Args&&... args)
{
    if (event)
        event(std::forward<Args>(args)...);
}

} // namespace qm
