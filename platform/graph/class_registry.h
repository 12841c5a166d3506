// The class registry of in-process filters: class identifiers with a name, a merit and a way
// to make an instance. The graph makes its renderers and converters from it; a filter
// library registers its classes here (its registration entry is given the registry).
//
// One registry is made by the program (or a test) and handed to the graphs that use it; it
// must outlive them. Registering and creating are thread-safe.
#pragma once

#include "platform/graph/filter.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zef::graph {

// Merits: how willing the graph is to pick a class on its own.
constexpr uint32_t kMeritPreferred = 0x00800000;
constexpr uint32_t kMeritNormal = 0x00600000;
constexpr uint32_t kMeritUnlikely = 0x00400000;
constexpr uint32_t kMeritDoNotUse = 0x00200000;

// What a class's pins take (for the graph's choice of converters and renderers).
struct PinRegistration {
    std::string name;
    bool rendered = false;
    bool output = false;
    MajorType major = MajorType::none;
    SubType sub = SubType::none; // none: any
};

enum class FilterCategory { renderer, converter, other };

struct FilterClass {
    Guid classId;
    std::string name;
    uint32_t merit = kMeritNormal;
    FilterCategory category = FilterCategory::other;
    std::vector<PinRegistration> pins;
    std::function<std::shared_ptr<Filter>()> create;
};

class FilterClassRegistry {
public:
    // A registry holding the graph's own classes: the colour converter, the default video
    // and audio renderers and the software tape deck (with its default tape).
    static std::unique_ptr<FilterClassRegistry> withBuiltIns();

    // Adds or replaces the class with that identifier. kInvalidArg without a creator.
    HResult registerClass(FilterClass filterClass);
    HResult unregisterClass(const Guid& classId);
    std::optional<FilterClass> find(const Guid& classId) const;
    // The classes of a category, highest merit first.
    std::vector<FilterClass> classes(FilterCategory category) const;
    // A new instance, or null (kNotFound / the creator gave none).
    std::shared_ptr<Filter> create(const Guid& classId) const;

private:
    mutable std::mutex m_lock;
    std::vector<FilterClass> m_classes;
};

} // namespace zef::graph
