// A module without a Process entry point: it cannot be used.

#include "hooks/HookApi.h"

extern "C" __attribute__((visibility("default"))) int Configure(void**, int, char**, int) {
    return 0;
}
extern "C" __attribute__((visibility("default"))) void Release(void*) {}
