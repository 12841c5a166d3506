// Components: registered services (image decompressors and effects, sound decompressors,
// movie exporters, the capture source) found by type, subtype and manufacturer, opened as
// instances and called with selectors.
//
// Built-in components are C++ classes: registerComponent takes a factory that makes one
// ComponentImplementation per open instance. Plug-in components come from shared libraries
// (see component_abi.h) and are called through their exported dispatch entry. Both are driven
// the same way: open (selector -1), calls, close (selector -2).
//
// Search rules (findNextComponent, countComponents): zero type, subtype and manufacturer in
// the description looked for are wildcards; the flags match when
// (registered flags & looking.componentFlagsMask) == (looking.componentFlags & looking.mask).
// Matches come in registration order.
//
// Delegation: an instance may have a delegate instance. A call that the instance answers with
// badComponentSelector or its 16-bit form (Open and Close excepted) is passed on to its delegate,
// and so on along the chain (at most kMaxDelegationDepth hops, so a cycle cannot hang). Components
// may also pass a call on themselves with delegateCall.
//
// A ComponentManager is created by the program (or a test) and handed to what needs it; it is
// not thread-safe: all calls happen on one thread, which is also the thread components run
// on. Component code may call back into the manager during a call (open other components,
// delegate); closing an instance from inside its own call is deferred until the call returns.
// Destroying the manager closes every open instance and unloads the plug-in libraries.
//
// Plug-in components get the manager's services (ZefComponentHost, component_abi.h) with Open;
// the message box among them is the program's (setAlertHandler), none in a program without
// windows.
#pragma once

#include "platform/movies/component_abi.h"
#include "platform/movies/errors.h"
#include "platform/movies/fourcc.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zef::movies {

struct ComponentDescription {
    OSType componentType = 0;
    OSType componentSubType = 0;
    OSType componentManufacturer = 0;
    uint32_t componentFlags = 0;
    uint32_t componentFlagsMask = 0;
    friend bool operator==(const ComponentDescription&, const ComponentDescription&) = default;
};

// Registration and instance identifiers; 0 is "none".
using Component = uint32_t;
using ComponentInstance = intptr_t;

constexpr int16_t kComponentOpenSelect = -1;
constexpr int16_t kComponentCloseSelect = -2;
constexpr int16_t kComponentCanDoSelect = -3;
constexpr int16_t kComponentVersionSelect = -4;
constexpr int16_t kComponentRegisterSelect = -5;
constexpr int16_t kComponentTargetSelect = -6;
constexpr int16_t kComponentUnregisterSelect = -7;

// The call block given to components: selector, parameters, instance and storage word.
using ComponentCall = ZefComponentCall;

class ComponentManager;

// A built-in component; one object per open instance, made before Open and destroyed after
// Close (or after a refused Open).
class ComponentImplementation {
public:
    virtual ~ComponentImplementation() = default;
    virtual ComponentResult dispatch(ComponentCall& call, ComponentManager& manager) = 0;
};
using ComponentFactory = std::function<std::unique_ptr<ComponentImplementation>()>;

struct ComponentInfo {
    ComponentDescription description;
    std::string name;
    std::string info;
    uint32_t version = 0;
    std::string file; // the plug-in file, empty for built-in components
};

class ComponentManager {
public:
    static constexpr int kMaxDelegationDepth = 16;

    ComponentManager();
    ~ComponentManager();
    ComponentManager(const ComponentManager&) = delete;
    ComponentManager& operator=(const ComponentManager&) = delete;

    // Registers a built-in component; returns its id (never 0). A null factory registers
    // nothing and returns 0.
    Component registerComponent(const ComponentDescription& description, std::string name,
                                std::string info, uint32_t version, ComponentFactory factory);
    // validInstancesExist while instances are open; invalidComponentID for an unknown id.
    OSErr unregisterComponent(Component component);

    // Loads a plug-in file and registers every component of its table, all or none. A file
    // whose components are registered already is not registered again (noErr, none added).
    // fnfErr: no such file; componentDllLoadErr: not a loadable library;
    // componentDllEntryNotFoundErr: no table, or a dispatch entry the library does not export;
    // paramErr: a table of another version, with no or too many entries or without names.
    OSErr registerPluginFile(const std::string& path, std::vector<Component>* registered = nullptr);
    // Registers the plug-ins of every "*.so" file of a folder (in name order); files that fail
    // are listed in failures with their error. Returns the number of components registered.
    int registerPluginFolder(const std::string& folder,
                             std::vector<std::pair<std::string, OSErr>>* failures = nullptr);

    // The next matching component after previous (0 = from the first), or 0.
    Component findNextComponent(Component previous, const ComponentDescription& looking) const;
    int countComponents(const ComponentDescription& looking) const;
    OSErr getComponentInfo(Component component, ComponentInfo& info) const;

    // Opens an instance; the component's Open answer is returned when it refuses (the
    // instance is then closed again: Close is sent so it can release what Open made).
    OSErr openComponent(Component component, ComponentInstance* instance);
    // Opens the first component of that type and subtype (0 = any).
    OSErr openDefaultComponent(OSType type, OSType subType, ComponentInstance* instance);
    // Sends Close and releases the instance; badComponentInstance for an unknown instance.
    OSErr closeComponent(ComponentInstance instance);
    bool isOpen(ComponentInstance instance) const;
    int openInstanceCount(Component component) const;
    Component componentOf(ComponentInstance instance) const;

    // Calls a selector with up to ZEF_COMPONENT_MAX_PARAMS parameters (paramErr beyond).
    ComponentResult call(ComponentInstance instance, int16_t selector,
                         std::initializer_list<intptr_t> params = {});
    // Calls with a prepared block (its instance and storage fields are filled here).
    ComponentResult call(ComponentInstance instance, ComponentCall& call);
    // Passes a call on to the delegate of from; badComponentSelector when it has none.
    ComponentResult delegateCall(ComponentInstance from, ComponentCall& call);

    // CanDo: whether the instance (or its delegates) implements the selector.
    bool canDo(ComponentInstance instance, int16_t selector);
    // Version: the component's answer, or the registered version when it has no Version call.
    ComponentResult version(ComponentInstance instance);
    // Target: tells the instance which instance now targets it, and records it.
    ComponentResult setTarget(ComponentInstance instance, ComponentInstance target);
    ComponentInstance target(ComponentInstance instance) const;
    // Delegation (see above). delegate 0 removes it; paramErr when it would delegate to itself.
    OSErr setDelegate(ComponentInstance instance, ComponentInstance delegate);
    ComponentInstance delegate(ComponentInstance instance) const;

    // Shows a message box with an OK button for a component: true once the user dismissed
    // it, false when the program has no handler (no user to ask).
    using AlertHandler = std::function<bool(const std::string& title, const std::string& text)>;
    void setAlertHandler(AlertHandler handler) { m_alert = std::move(handler); }
    bool alert(const std::string& title, const std::string& text);
    // The services given to plug-in components with Open.
    const ZefComponentHost* host() const { return &m_host; }

    // The instance's storage word (as plug-ins set it through the call block).
    void* storage(ComponentInstance instance) const;
    void setStorage(ComponentInstance instance, void* storage);

private:
    struct Library;
    struct Registration {
        Component id = 0;
        ComponentInfo info;
        ComponentFactory factory;
        ZefComponentEntry entry = nullptr;
        std::shared_ptr<Library> library;
    };
    struct Instance {
        Component component = 0;
        std::unique_ptr<ComponentImplementation> impl;
        ZefComponentEntry entry = nullptr;
        std::shared_ptr<Library> library; // keeps the plug-in loaded while open
        void* storage = nullptr;
        ComponentInstance target = 0;
        ComponentInstance delegate = 0;
        int activeCalls = 0;
        bool closePending = false;
    };

    const Registration* findRegistration(Component id) const;
    Instance* findInstance(ComponentInstance instance);
    const Instance* findInstance(ComponentInstance instance) const;
    ComponentResult dispatch(ComponentInstance instance, ComponentCall& call, int depth);
    void destroyInstance(ComponentInstance instance);

    static ZefComponentHost makeHost(ComponentManager* self);

    std::vector<Registration> m_registrations; // registration order
    ZefComponentHost m_host;
    AlertHandler m_alert;
    std::map<ComponentInstance, std::unique_ptr<Instance>> m_instances;
    Component m_nextComponent = 1;
    ComponentInstance m_nextInstance = 1;
};

} // namespace zef::movies
