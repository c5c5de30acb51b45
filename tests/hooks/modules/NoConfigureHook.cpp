// A module with Process only: fine without arguments, refused with them.

#include "hooks/HookApi.h"

extern "C" __attribute__((visibility("default"))) void Process(void* Context, TZembraHookPicture* Picture,
                                                               int, int, int, int64_t) {
    // No Configure, so the context stays what the loader set: nothing.
    Picture->data[0][0] = Context == nullptr ? 77 : 66;
}
