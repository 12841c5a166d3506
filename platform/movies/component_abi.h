/* The C interface between the movie toolbox and plug-in component files.
 *
 * A plug-in component file is a shared library placed in the program's plug-in folder. It
 * exports one data symbol, ZEF_COMPONENT_TABLE_SYMBOL ("ZefComponentTable"), a
 * ZefPluginTable that lists the components it holds. Each entry names, by its exported
 * symbol name, the dispatch entry the toolbox calls for that component:
 *
 *     int32_t entry(ZefComponentCall* call);
 *
 * The toolbox fills the call block with the selector and its parameters and passes the
 * instance's storage word; the entry may replace call->storage (usually in Open and Close)
 * and the toolbox keeps the new value for the following calls of that instance. The entry
 * returns a component result: 0 (noErr), a negative toolbox error code, badComponentSelector
 * (0x80008002) for selectors it does not implement, or a selector-specific value.
 *
 * Standard selectors (negative) and their parameters:
 *   -1 Open    params[0] = the new instance (an opaque integer); params[1] = the toolbox's
 *              services (const ZefComponentHost*, below), valid until the instance is closed;
 *              result 0 to accept
 *   -2 Close   params[0] = the instance being closed
 *   -3 CanDo   params[0] = a selector; result 1 when implemented, else 0
 *   -4 Version result = (version << 16) | revision
 *   -6 Target  params[0] = the instance that now targets this one (0 = none)
 * Other selectors are the component type's own; their parameters are pointer-sized integers
 * in call order.
 *
 * Strings in the table are zero-terminated UTF-8; names and information strings are read up
 * to 255 bytes. The table and its strings must stay valid while the library is loaded.
 *
 * Toolbox services: a plug-in component reaches the toolbox that loaded it only through the
 * ZefComponentHost given with Open. It may open, call and close other components (the
 * toolbox's own exporters, for instance) and show a message to the user. Every service is
 * called on the thread the component is called on, and passes `context` back as its first
 * argument.
 */
#ifndef ZEF_PLATFORM_MOVIES_COMPONENT_ABI_H
#define ZEF_PLATFORM_MOVIES_COMPONENT_ABI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZEF_COMPONENT_ABI_VERSION 1
#define ZEF_COMPONENT_TABLE_SYMBOL "ZefComponentTable"
#define ZEF_COMPONENT_MAX_PARAMS 8
#define ZEF_COMPONENT_MAX_ENTRIES 64

typedef struct ZefComponentCall {
    int32_t selector; /* the request, sign-extended from 16 bits */
    uint32_t paramCount;
    intptr_t params[ZEF_COMPONENT_MAX_PARAMS];
    intptr_t instance; /* the instance the call is made on */
    void* storage;     /* the instance's storage word, in and out */
} ZefComponentCall;

typedef int32_t (*ZefComponentEntry)(ZefComponentCall* call);

typedef struct ZefComponentRegistration {
    uint32_t type; /* four-char codes, first character in the high byte */
    uint32_t subType;
    uint32_t manufacturer;
    uint32_t flags;
    uint32_t flagsMask;
    const char* name;
    const char* info;
    uint32_t version;
    const char* entryName; /* exported symbol of the dispatch entry */
} ZefComponentRegistration;

typedef struct ZefComponentHost {
    uint32_t size; /* sizeof(ZefComponentHost) of the toolbox; later services are appended */
    void* context;
    /* Opens the first component of that type, subtype and manufacturer (0 = any); 0 and the
     * new instance in *instance, or an error. */
    int32_t (*openComponent)(void* context, uint32_t type, uint32_t subType, uint32_t manufacturer,
                             intptr_t* instance);
    /* Calls a selector of an open instance with the block's selector and parameters. */
    int32_t (*callComponent)(void* context, intptr_t instance, ZefComponentCall* call);
    int32_t (*closeComponent)(void* context, intptr_t instance);
    /* Shows text in a message box titled title with an OK button and returns once the user
     * dismissed it: 1. Returns 0 at once when the program has no user to show it to (a
     * command-line render); the component then goes on as its settings say. */
    int32_t (*alert)(void* context, const char* title, const char* text);
} ZefComponentHost;

typedef struct ZefPluginTable {
    uint32_t abiVersion; /* ZEF_COMPONENT_ABI_VERSION */
    uint32_t count;      /* 1 .. ZEF_COMPONENT_MAX_ENTRIES */
    const ZefComponentRegistration* entries;
} ZefPluginTable;

#ifdef __cplusplus
}
#endif

#endif
