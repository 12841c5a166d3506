#include "platform/movies/components.h"

#include <algorithm>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <sys/stat.h>

namespace zef::movies {

struct ComponentManager::Library {
    void* handle = nullptr;
    std::string path;
    ~Library()
    {
        if (handle) dlclose(handle);
    }
};

namespace {

bool matches(const ComponentDescription& reg, const ComponentDescription& looking)
{
    if (looking.componentType && reg.componentType != looking.componentType) return false;
    if (looking.componentSubType && reg.componentSubType != looking.componentSubType) return false;
    if (looking.componentManufacturer && reg.componentManufacturer != looking.componentManufacturer)
        return false;
    const uint32_t mask = looking.componentFlagsMask;
    return (reg.componentFlags & mask) == (looking.componentFlags & mask);
}

std::string boundedString(const char* s)
{
    if (!s) return {};
    return std::string(s, strnlen(s, 255));
}

} // namespace

ComponentManager::ComponentManager() : m_host(makeHost(this)) {}

ZefComponentHost ComponentManager::makeHost(ComponentManager* self)
{
    ZefComponentHost h{};
    h.size = sizeof(ZefComponentHost);
    h.context = self;
    h.openComponent = [](void* context, uint32_t type, uint32_t subType, uint32_t manufacturer,
                         intptr_t* instance) -> int32_t {
        auto* m = static_cast<ComponentManager*>(context);
        if (!instance) return paramErr;
        *instance = 0;
        const Component c =
            m->findNextComponent(0, ComponentDescription{type, subType, manufacturer, 0, 0});
        if (!c) return badComponentType;
        ComponentInstance ci = 0;
        const OSErr err = m->openComponent(c, &ci);
        *instance = ci;
        return err;
    };
    h.callComponent = [](void* context, intptr_t instance, ZefComponentCall* call) -> int32_t {
        if (!call) return paramErr;
        return static_cast<ComponentManager*>(context)->call(instance, *call);
    };
    h.closeComponent = [](void* context, intptr_t instance) -> int32_t {
        return static_cast<ComponentManager*>(context)->closeComponent(instance);
    };
    h.alert = [](void* context, const char* title, const char* text) -> int32_t {
        return static_cast<ComponentManager*>(context)->alert(boundedString(title),
                                                              text ? std::string(text) : "")
                   ? 1
                   : 0;
    };
    return h;
}

bool ComponentManager::alert(const std::string& title, const std::string& text)
{
    return m_alert ? m_alert(title, text) : false;
}

ComponentManager::~ComponentManager()
{
    // Close in reverse order of opening, so instances opened by others go first.
    while (!m_instances.empty()) {
        const ComponentInstance ci = m_instances.rbegin()->first;
        closeComponent(ci);
        m_instances.erase(ci); // in case Close was deferred
    }
}

Component ComponentManager::registerComponent(const ComponentDescription& description,
                                              std::string name, std::string info, uint32_t version,
                                              ComponentFactory factory)
{
    if (!factory) return 0;
    Registration r;
    r.id = m_nextComponent++;
    r.info.description = description;
    r.info.name = std::move(name);
    r.info.info = std::move(info);
    r.info.version = version;
    r.factory = std::move(factory);
    m_registrations.push_back(std::move(r));
    return m_registrations.back().id;
}

OSErr ComponentManager::unregisterComponent(Component component)
{
    auto it = std::find_if(m_registrations.begin(), m_registrations.end(),
                           [&](const Registration& r) { return r.id == component; });
    if (it == m_registrations.end()) return invalidComponentID;
    if (openInstanceCount(component) > 0) return validInstancesExist;
    m_registrations.erase(it);
    return noErr;
}

OSErr ComponentManager::registerPluginFile(const std::string& path,
                                           std::vector<Component>* registered)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fnfErr;
    // A file loaded already is not registered twice (its components would be listed twice).
    for (const Registration& r : m_registrations) {
        std::error_code ec;
        if (r.library && std::filesystem::equivalent(r.library->path, path, ec)) return noErr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return componentDllLoadErr;
    auto library = std::make_shared<Library>();
    library->handle = handle;
    library->path = path;

    const auto* table =
        static_cast<const ZefPluginTable*>(dlsym(handle, ZEF_COMPONENT_TABLE_SYMBOL));
    if (!table) return componentDllEntryNotFoundErr;
    if (table->abiVersion != ZEF_COMPONENT_ABI_VERSION || table->count == 0 ||
        table->count > ZEF_COMPONENT_MAX_ENTRIES || !table->entries)
        return paramErr;

    std::vector<Registration> found;
    for (uint32_t k = 0; k < table->count; ++k) {
        const ZefComponentRegistration& e = table->entries[k];
        if (!e.name || !e.entryName) return paramErr;
        const std::string entryName = boundedString(e.entryName);
        auto entry = reinterpret_cast<ZefComponentEntry>(dlsym(handle, entryName.c_str()));
        if (!entry) return componentDllEntryNotFoundErr;
        Registration r;
        r.info.description = {e.type, e.subType, e.manufacturer, e.flags, e.flagsMask};
        r.info.name = boundedString(e.name);
        r.info.info = boundedString(e.info);
        r.info.version = e.version;
        r.info.file = path;
        r.entry = entry;
        r.library = library;
        found.push_back(std::move(r));
    }
    for (Registration& r : found) {
        r.id = m_nextComponent++;
        if (registered) registered->push_back(r.id);
        m_registrations.push_back(std::move(r));
    }
    return noErr;
}

int ComponentManager::registerPluginFolder(const std::string& folder,
                                           std::vector<std::pair<std::string, OSErr>>* failures)
{
    std::error_code ec;
    std::vector<std::string> files;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".so" && it->is_regular_file(ec))
            files.push_back(it->path().string());
    }
    if (ec && failures) failures->emplace_back(folder, fnfErr);
    std::sort(files.begin(), files.end());
    int count = 0;
    for (const std::string& f : files) {
        std::vector<Component> ids;
        const OSErr err = registerPluginFile(f, &ids);
        if (err && failures) failures->emplace_back(f, err);
        count += int(ids.size());
    }
    return count;
}

const ComponentManager::Registration* ComponentManager::findRegistration(Component id) const
{
    for (const Registration& r : m_registrations) {
        if (r.id == id) return &r;
    }
    return nullptr;
}

Component ComponentManager::findNextComponent(Component previous,
                                              const ComponentDescription& looking) const
{
    size_t start = 0;
    if (previous != 0) {
        auto it = std::find_if(m_registrations.begin(), m_registrations.end(),
                               [&](const Registration& r) { return r.id == previous; });
        if (it == m_registrations.end()) return 0;
        start = size_t(it - m_registrations.begin()) + 1;
    }
    for (size_t k = start; k < m_registrations.size(); ++k) {
        if (matches(m_registrations[k].info.description, looking)) return m_registrations[k].id;
    }
    return 0;
}

int ComponentManager::countComponents(const ComponentDescription& looking) const
{
    return int(
        std::count_if(m_registrations.begin(), m_registrations.end(),
                      [&](const Registration& r) { return matches(r.info.description, looking); }));
}

OSErr ComponentManager::getComponentInfo(Component component, ComponentInfo& info) const
{
    const Registration* r = findRegistration(component);
    if (!r) return invalidComponentID;
    info = r->info;
    return noErr;
}

ComponentManager::Instance* ComponentManager::findInstance(ComponentInstance instance)
{
    auto it = m_instances.find(instance);
    if (it == m_instances.end() || it->second->closePending) return nullptr;
    return it->second.get();
}

const ComponentManager::Instance* ComponentManager::findInstance(ComponentInstance instance) const
{
    auto it = m_instances.find(instance);
    if (it == m_instances.end() || it->second->closePending) return nullptr;
    return it->second.get();
}

bool ComponentManager::isOpen(ComponentInstance instance) const
{
    return findInstance(instance) != nullptr;
}

int ComponentManager::openInstanceCount(Component component) const
{
    int n = 0;
    for (const auto& [id, inst] : m_instances)
        n += inst->component == component ? 1 : 0;
    return n;
}

Component ComponentManager::componentOf(ComponentInstance instance) const
{
    const Instance* inst = findInstance(instance);
    return inst ? inst->component : 0;
}

OSErr ComponentManager::openComponent(Component component, ComponentInstance* instance)
{
    if (!instance) return paramErr;
    *instance = 0;
    const Registration* r = findRegistration(component);
    if (!r) return invalidComponentID;
    auto inst = std::make_unique<Instance>();
    inst->component = component;
    inst->entry = r->entry;
    inst->library = r->library;
    if (r->factory) {
        inst->impl = r->factory();
        if (!inst->impl) return memFullErr;
    }
    const ComponentInstance ci = m_nextInstance++;
    m_instances.emplace(ci, std::move(inst));

    const ComponentResult result = call(ci, kComponentOpenSelect, {ci, intptr_t(&m_host)});
    if (result != noErr) {
        closeComponent(ci);
        return isBadComponentSelector(result) ? cantOpenHandler : result;
    }
    *instance = ci;
    return noErr;
}

OSErr ComponentManager::openDefaultComponent(OSType type, OSType subType,
                                             ComponentInstance* instance)
{
    ComponentDescription d;
    d.componentType = type;
    d.componentSubType = subType;
    const Component c = findNextComponent(0, d);
    if (!c) {
        if (instance) *instance = 0;
        return badComponentType;
    }
    return openComponent(c, instance);
}

void ComponentManager::destroyInstance(ComponentInstance instance)
{
    // Instances that target or delegate to this one forget it.
    for (auto& [id, other] : m_instances) {
        if (other->delegate == instance) other->delegate = 0;
        if (other->target == instance) other->target = 0;
    }
    m_instances.erase(instance);
}

OSErr ComponentManager::closeComponent(ComponentInstance instance)
{
    Instance* inst = findInstance(instance);
    if (!inst) return badComponentInstance;
    ComponentCall c{};
    c.selector = kComponentCloseSelect;
    c.paramCount = 1;
    c.params[0] = instance;
    const ComponentResult result = dispatch(instance, c, kMaxDelegationDepth);
    inst = m_instances.count(instance) ? m_instances[instance].get() : nullptr;
    if (!inst) return noErr;
    if (inst->activeCalls > 0) {
        inst->closePending = true; // released when its outermost call returns
    } else {
        destroyInstance(instance);
    }
    return isBadComponentSelector(result) ? noErr : result;
}

ComponentResult ComponentManager::dispatch(ComponentInstance instance, ComponentCall& c, int depth)
{
    Instance* inst = findInstance(instance);
    if (!inst) return badComponentInstance;
    c.instance = instance;
    c.storage = inst->storage;
    ++inst->activeCalls;
    ComponentResult result = badComponentSelector;
    if (inst->impl) {
        result = inst->impl->dispatch(c, *this);
    } else if (inst->entry) {
        result = inst->entry(&c);
    }
    // The instance may have been closed (deferred) during the call; the record still exists.
    auto it = m_instances.find(instance);
    if (it != m_instances.end()) {
        Instance* after = it->second.get();
        after->storage = c.storage;
        --after->activeCalls;
        if (after->closePending && after->activeCalls == 0) {
            destroyInstance(instance);
        } else if (isBadComponentSelector(result) && depth > 0 && after->delegate &&
                   c.selector != kComponentOpenSelect && c.selector != kComponentCloseSelect) {
            const ComponentInstance del = after->delegate;
            result = dispatch(del, c, depth - 1);
            c.instance = instance;
        }
    }
    return result;
}

ComponentResult ComponentManager::call(ComponentInstance instance, int16_t selector,
                                       std::initializer_list<intptr_t> params)
{
    if (params.size() > ZEF_COMPONENT_MAX_PARAMS) return paramErr;
    ComponentCall c{};
    c.selector = selector;
    c.paramCount = uint32_t(params.size());
    std::copy(params.begin(), params.end(), c.params);
    return call(instance, c);
}

ComponentResult ComponentManager::call(ComponentInstance instance, ComponentCall& c)
{
    if (c.paramCount > ZEF_COMPONENT_MAX_PARAMS) return paramErr;
    return dispatch(instance, c, kMaxDelegationDepth);
}

ComponentResult ComponentManager::delegateCall(ComponentInstance from, ComponentCall& c)
{
    const Instance* inst = findInstance(from);
    if (!inst) return badComponentInstance;
    if (!inst->delegate) return badComponentSelector;
    const ComponentResult result = dispatch(inst->delegate, c, kMaxDelegationDepth - 1);
    // Restore the caller's view of the block.
    if (const Instance* again = findInstance(from)) {
        c.instance = from;
        c.storage = again->storage;
    }
    return result;
}

bool ComponentManager::canDo(ComponentInstance instance, int16_t selector)
{
    const ComponentResult r = call(instance, kComponentCanDoSelect, {selector});
    return r > 0;
}

ComponentResult ComponentManager::version(ComponentInstance instance)
{
    const ComponentResult r = call(instance, kComponentVersionSelect);
    if (isBadComponentSelector(r)) {
        if (const Instance* inst = findInstance(instance)) {
            if (const Registration* reg = findRegistration(inst->component))
                return ComponentResult(reg->info.version);
        }
    }
    return r;
}

ComponentResult ComponentManager::setTarget(ComponentInstance instance, ComponentInstance target)
{
    Instance* inst = findInstance(instance);
    if (!inst) return badComponentInstance;
    inst->target = target;
    return call(instance, kComponentTargetSelect, {target});
}

ComponentInstance ComponentManager::target(ComponentInstance instance) const
{
    const Instance* inst = findInstance(instance);
    return inst ? inst->target : 0;
}

OSErr ComponentManager::setDelegate(ComponentInstance instance, ComponentInstance delegate)
{
    Instance* inst = findInstance(instance);
    if (!inst) return badComponentInstance;
    if (delegate == instance) return paramErr;
    if (delegate != 0 && !findInstance(delegate)) return badComponentInstance;
    inst->delegate = delegate;
    return noErr;
}

ComponentInstance ComponentManager::delegate(ComponentInstance instance) const
{
    const Instance* inst = findInstance(instance);
    return inst ? inst->delegate : 0;
}

void* ComponentManager::storage(ComponentInstance instance) const
{
    const Instance* inst = findInstance(instance);
    return inst ? inst->storage : nullptr;
}

void ComponentManager::setStorage(ComponentInstance instance, void* storage)
{
    if (Instance* inst = findInstance(instance)) inst->storage = storage;
}

} // namespace zef::movies
