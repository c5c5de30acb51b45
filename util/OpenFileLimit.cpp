#include "util/OpenFileLimit.h"

#include <sys/resource.h>

#include <climits>

namespace zembra {

long RaiseOpenFileLimit() {
    rlimit Limit{};
    if (::getrlimit(RLIMIT_NOFILE, &Limit) != 0) return -1;
    // An unlimited hard limit cannot be taken literally: the kernel caps open files at
    // fs.nr_open and refuses more. The soft limit then stays as it is.
    if (Limit.rlim_max != RLIM_INFINITY && Limit.rlim_cur < Limit.rlim_max) {
        rlimit Raised = Limit;
        Raised.rlim_cur = Limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &Raised) == 0) Limit = Raised;
    }
    if (Limit.rlim_cur == RLIM_INFINITY || Limit.rlim_cur > static_cast<rlim_t>(LONG_MAX)) return LONG_MAX;
    return static_cast<long>(Limit.rlim_cur);
}

}  // namespace zembra
