// The task allocator: memory that crosses the boundary between the editor and a plug-in
// library (strings, settings blocks) is allocated with taskMemAlloc by the side that hands it
// over and freed with taskMemFree by the side that receives it.
//
// Both sides link this library. It allocates from the C library's heap, which every module of
// a process shares, so a block allocated in a plug-in may be freed in the editor and the other
// way round. Never mix it with new/delete or free: a block from taskMemAlloc goes back through
// taskMemFree only. All functions are thread-safe and never throw.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace zef::com {

// A block of at least size bytes (a zero size gives a valid, distinct block), or null when
// memory is short.
void* taskMemAlloc(size_t size) noexcept;

// Frees a block from taskMemAlloc; null is ignored.
void taskMemFree(void* block) noexcept;

// A zero-terminated copy of text in a block from taskMemAlloc, or null when memory is short.
char* taskMemDupString(std::string_view text) noexcept;

struct TaskMemDeleter {
    void operator()(void* block) const noexcept { taskMemFree(block); }
};

// Owns a block from the task allocator, e.g. a string a plug-in returned.
template <class T> using TaskMemPtr = std::unique_ptr<T, TaskMemDeleter>;

} // namespace zef::com
