#include "app/ListEditLog.h"

namespace zembra {

void TListEditLog::Removed(uint64_t EditsAfter, int Index) {
    FEdits.push_back({EditsAfter, Index});
}

void TListEditLog::Cleared(uint64_t EditsAfter) {
    FEdits.push_back({EditsAfter, -1});
}

int TListEditLog::RowOf(uint64_t Edits, int Index) const {
    if (Index < 0) return Index;
    for (const TEdit& E : FEdits) {
        if (E.After <= Edits) continue;  // the event already saw this one
        if (E.Index < 0 || E.Index == Index) return -1;
        if (E.Index < Index) --Index;
    }
    return Index;
}

}  // namespace zembra
