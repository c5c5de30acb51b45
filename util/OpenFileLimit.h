#pragma once

// The process's limit of open files.

namespace zembra {

// Raises the soft limit of open files to the hard limit. Desktop sessions start programs with a
// soft limit (often 1024) far below what the system allows, and a converter that works through a
// large list of files should not fail at that line. Returns the soft limit in force afterwards
// (-1 when it cannot be read; an unlimited hard limit is not asked for).
long RaiseOpenFileLimit();

}  // namespace zembra
