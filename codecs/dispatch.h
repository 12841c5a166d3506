// Selector tables of the codec components: each selector the component implements is either
// handled by a function or answered 0 as a no-operation; every other selector answers
// badComponentSelector, which makes the component manager pass the call on to the instance's
// delegate, if it has one. Standard (negative) selectors are in one table, the component's
// own in tables of 256 by their high byte.
#pragma once

#include "codecs/sobrant.h"

#include <array>
#include <initializer_list>
#include <memory>

namespace zef::sobrant {

using Handler = int32_t (*)(ZefComponentCall& call);

class DispatchTable {
public:
    struct Row {
        int16_t selector;
        Handler handler; // null: a no-operation that answers 0
    };
    DispatchTable(std::initializer_list<Row> rows)
    {
        for (const Row& r : rows) {
            Entry* e = slot(r.selector, true);
            if (e) *e = Entry{r.handler, true};
        }
    }

    int32_t dispatch(ZefComponentCall& call) const
    {
        const Entry* e = find(int16_t(call.selector));
        if (!e) return kBadComponentSelector;
        return e->handler ? e->handler(call) : 0;
    }
    bool canDo(int16_t selector) const { return find(selector) != nullptr; }

private:
    struct Entry {
        Handler handler = nullptr;
        bool present = false;
    };
    using Page = std::array<Entry, 256>;

    Entry* slot(int16_t selector, bool make)
    {
        if (selector < 0) {
            const size_t i = size_t(-int32_t(selector));
            return i < m_standard.size() ? &m_standard[i] : nullptr;
        }
        auto& page = m_pages[size_t(uint16_t(selector) >> 8)];
        if (!page && make) page = std::make_unique<Page>();
        return page ? &(*page)[size_t(selector & 0xFF)] : nullptr;
    }
    const Entry* find(int16_t selector) const
    {
        const Entry* e = const_cast<DispatchTable*>(this)->slot(selector, false);
        return e && e->present ? e : nullptr;
    }

    std::array<Entry, 9> m_standard{}; // -1 … -8
    std::array<std::unique_ptr<Page>, 128> m_pages;
};

} // namespace zef::sobrant
