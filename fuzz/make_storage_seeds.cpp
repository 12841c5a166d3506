// Writes a few small compound files as the fuzzer's seed corpus into the folder given.
#include "platform/storage/compound_file.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace zef::storage;

namespace {

bool put(Storage st, const std::string& name, size_t size)
{
    auto s = st.createStream(name);
    if (!s) return false;
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(i * 31 + size);
    return s.value->write(bytes.data(), size) == size;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    int failures = 0;
    auto make = [&](const std::string& name, auto&& fill) {
        auto cf = CompoundFile::create(dir + "/" + name);
        if (!cf) {
            std::fprintf(stderr, "%s: %s\n", name.c_str(), errorMessage(cf.error));
            ++failures;
            return;
        }
        if (!fill(cf.value->root()) || cf.value->close() != CfbError::Ok) ++failures;
    };
    make("empty.cfb", [](Storage) { return true; });
    make("header.cfb", [](Storage r) { return put(r, "Header", 200); });
    make("sizes.cfb", [](Storage r) {
        return put(r, "zero", 0) && put(r, "m64", 64) && put(r, "m4095", 4095) &&
               put(r, "b4096", 4096) && put(r, "b5000", 5000);
    });
    make("nested.cfb", [](Storage r) {
        Storage st = r;
        for (int i = 0; i < 3; ++i) {
            if (!put(st, "s" + std::to_string(i), size_t(i) * 150 + 10)) return false;
            auto sub = st.createStorage("level" + std::to_string(i));
            if (!sub) return false;
            st = sub.value;
        }
        return put(st, "leaf", 700);
    });
    make("siblings.cfb", [](Storage r) {
        for (int i = 0; i < 20; ++i)
            if (!put(r, "entry" + std::to_string(i * 7 % 20), size_t(i) * 9)) return false;
        return true;
    });
    return failures ? 1 : 0;
}
