/* A plug-in component file for the component manager tests, built in three variants:
 * ZEF_TEST_PLUGIN_GOOD, ZEF_TEST_PLUGIN_MISSING_ENTRY (its table names an entry that is not
 * exported) and ZEF_TEST_PLUGIN_NO_TABLE (no table at all). Written in C to keep to the ABI. */
#include "platform/movies/component_abi.h"

#include <stdlib.h>

#define FOURCC(a, b, c, d)                                                                         \
    (((uint32_t)(a) << 24) | ((uint32_t)(b) << 16) | ((uint32_t)(c) << 8) | (uint32_t)(d))
#define BAD_SELECTOR ((int32_t)0x80008002u)

typedef struct AdderStorage {
    int32_t calls;
} AdderStorage;

/* An adder: selector 1 adds its two parameters, selector 2 counts its calls per instance. */
__attribute__((visibility("default"))) int32_t TestAdderDispatch(ZefComponentCall* call)
{
    switch (call->selector) {
    case -1: {
        AdderStorage* s = (AdderStorage*)calloc(1, sizeof(AdderStorage));
        if (!s) return -108;
        call->storage = s;
        return 0;
    }
    case -2:
        free(call->storage);
        call->storage = NULL;
        return 0;
    case -3: {
        const intptr_t sel = call->params[0];
        return (sel >= -4 && sel <= -1) || sel == 1 || sel == 2;
    }
    case -4:
        return 0x00020001;
    case 1:
        if (call->paramCount < 2) return -50;
        return (int32_t)(call->params[0] + call->params[1]);
    case 2: {
        AdderStorage* s = (AdderStorage*)call->storage;
        return s ? ++s->calls : -50;
    }
    default:
        return BAD_SELECTOR;
    }
}

/* A component without Version and storage: selector 3 answers 42. */
__attribute__((visibility("default"))) int32_t TestPlainDispatch(ZefComponentCall* call)
{
    switch (call->selector) {
    case -1:
    case -2:
        return 0;
    case 3:
        return 42;
    default:
        return BAD_SELECTOR;
    }
}

#ifndef ZEF_TEST_PLUGIN_NO_TABLE
static const ZefComponentRegistration kEntries[] = {
    {FOURCC('i', 'm', 'd', 'c'), FOURCC('T', 'E', 'S', 'T'), FOURCC('z', 'e', 'f', 'T'), 0x420u, 0u,
     "Test Adder", "Adds numbers", 0x00020001u, "TestAdderDispatch"},
    {FOURCC('s', 'p', 'i', 't'), FOURCC('T', 'E', 'S', 'T'), FOURCC('z', 'e', 'f', 'T'), 0u, 0u,
     "Test Plain", "Answers 42", 0x00010000u,
#ifdef ZEF_TEST_PLUGIN_MISSING_ENTRY
     "NoSuchDispatch"
#else
     "TestPlainDispatch"
#endif
    },
};

__attribute__((visibility("default")))
const ZefPluginTable ZefComponentTable = {ZEF_COMPONENT_ABI_VERSION, 2, kEntries};
#endif
