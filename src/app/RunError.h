// The download run's own failures (not the server's): a bad list line, a
// file that cannot be created, a list that cannot be verified. The message
// names what failed and is shown to the user as it is; the run then returns
// to idle.
#pragma once

#include "base/Exception.h"

namespace qm {

class ERunError : public Exception {
public:
    using Exception::Exception;
};

} // namespace qm
