#include "app/LicenceNotice.h"

namespace zembra {

std::string LicenceNotice() {
    return "Copyright (C) 2026 The Zembra developers\n"
           "Licence GPL-3.0-or-later: GNU GPL version 3 or later <https://www.gnu.org/licenses/gpl.html>\n"
           "This is free software: you are free to change and redistribute it.\n"
           "There is NO WARRANTY, to the extent permitted by law.\n";
}

}  // namespace zembra
