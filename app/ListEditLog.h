#pragma once

// Rows removed while a run goes on. The component's events name a task by its index in the
// list as it stood when the event was raised, and they reach the window's thread later: a row
// removed in between shifts the rows behind it. Each removal is kept with the component's edit
// count after it, so an event's index can be brought up to the present list.

#include <cstdint>
#include <vector>

namespace zembra {

class TListEditLog {
  public:
    // EditsAfter: the component's ListEdits() once the removal was done.
    void Removed(uint64_t EditsAfter, int Index);
    void Cleared(uint64_t EditsAfter);
    // The row that an event's index means now; -1 when that task's row is gone. Edits: the
    // count the event was raised at. Negative indexes (the final event) are kept as they are.
    int RowOf(uint64_t Edits, int Index) const;
    // Once no event of an earlier edit count can still arrive.
    void Forget() { FEdits.clear(); }

  private:
    struct TEdit {
        uint64_t After;
        int Index;  // -1: all rows
    };
    std::vector<TEdit> FEdits;
};

}  // namespace zembra
