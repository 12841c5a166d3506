#include "platform/com/task_memory.h"

#include <cstdlib>
#include <cstring>

namespace zef::com {

void* taskMemAlloc(size_t size) noexcept { return std::malloc(size == 0 ? 1 : size); }

void taskMemFree(void* block) noexcept { std::free(block); }

char* taskMemDupString(std::string_view text) noexcept
{
    auto* copy = static_cast<char*>(taskMemAlloc(text.size() + 1));
    if (!copy) return nullptr;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

} // namespace zef::com
