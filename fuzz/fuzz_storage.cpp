// libFuzzer target for the compound file reader: any input either fails with an error code or
// opens; an opened file is read completely, written again and must read back the same.
#include "platform/storage/compound_file.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace zef::storage;

namespace {

using Tree = std::map<std::string, std::vector<uint8_t>>;

void walk(Storage storage, const std::string& prefix, Tree& out)
{
    std::vector<std::pair<Storage, std::string>> pending{{storage, prefix}};
    while (!pending.empty()) {
        auto [st, path] = pending.back();
        pending.pop_back();
        for (const EntryInfo& e : st.entries()) {
            std::string name = path + "/" + e.name;
            if (e.type == EntryInfo::Type::Storage) {
                auto sub = st.openStorage(e.name);
                if (!sub) std::abort(); // a listed entry must open
                out[name + "/"] = {};
                pending.push_back({sub.value, name});
            } else {
                auto s = st.openStream(e.name);
                if (!s || s.value->size() != e.size) std::abort();
                std::vector<uint8_t> bytes(size_t(e.size));
                if (s.value->read(bytes.data(), bytes.size()) != bytes.size()) std::abort();
                out[name] = std::move(bytes);
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto file = CompoundFile::openMemory(std::vector<uint8_t>(data, data + size));
    if (!file) return 0;
    Tree first;
    walk(file.value->root(), "", first);

    MemoryStream copy;
    if (file.value->saveTo(copy) != CfbError::Ok) std::abort();
    auto again = CompoundFile::openMemory(copy.takeBytes());
    if (!again) {
        std::fprintf(stderr, "rewritten file does not open: %s\n", errorMessage(again.error));
        std::abort();
    }
    Tree second;
    walk(again.value->root(), "", second);
    if (first != second) {
        std::fprintf(stderr, "rewritten file differs\n");
        std::abort();
    }
    return 0;
}
