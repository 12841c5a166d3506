// Helpers shared by the compound file tests: temporary folders, generated contents, running
// outside tools, and mirroring folders into and out of compound files.
#pragma once

#include "platform/storage/compound_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace cfbtest {

namespace fs = std::filesystem;
using namespace zef::storage;

// A fresh folder under $ZEF_TEST_TMP (or the system's temporary folder) for the running test,
// removed afterwards.
class TempDir {
public:
    TempDir()
    {
        const char* env = std::getenv("ZEF_TEST_TMP");
        fs::path base = env && *env ? fs::path(env) : fs::temp_directory_path();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("cfb-") + (info ? info->test_suite_name() : "x") + "-" +
                           (info ? info->name() : "x") + "-" + std::to_string(::getpid());
        m_path = base / name;
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    fs::path operator/(const std::string& name) const { return m_path / name; }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

inline std::vector<uint8_t> randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(n);
    for (auto& b : out)
        b = uint8_t(rng());
    return out;
}

inline std::vector<uint8_t> readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

inline void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Runs a shell command; returns its exit status and its standard output.
inline int run(const std::string& command, std::string* output = nullptr)
{
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    std::string out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int status = ::pclose(p);
    if (output) *output = std::move(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Reads a whole stream through the Stream interface in odd-sized pieces.
inline std::vector<uint8_t> readAll(Stream& s)
{
    std::vector<uint8_t> out;
    s.seek(0);
    uint8_t buf[7777];
    size_t n;
    while ((n = s.read(buf, sizeof buf)) > 0)
        out.insert(out.end(), buf, buf + n);
    return out;
}

inline void writeAll(Stream& s, const std::vector<uint8_t>& bytes, size_t piece = 65536)
{
    for (size_t at = 0; at < bytes.size(); at += piece) {
        size_t n = std::min(piece, bytes.size() - at);
        ASSERT_EQ(s.write(bytes.data() + at, n), n);
    }
}

// Contents of a folder tree or a compound file: relative path → bytes, or nullopt for folders.
using Tree = std::map<std::string, std::optional<std::vector<uint8_t>>>;

inline Tree folderTree(const fs::path& root)
{
    Tree t;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(e.path(), root).generic_string();
        if (e.is_directory())
            t[rel] = std::nullopt;
        else
            t[rel] = readFile(e.path());
    }
    return t;
}

inline void compoundTree(Storage st, const std::string& prefix, Tree& out)
{
    for (const EntryInfo& e : st.entries()) {
        std::string rel = prefix + e.name;
        if (e.type == EntryInfo::Type::Storage) {
            out[rel] = std::nullopt;
            auto sub = st.openStorage(e.name);
            ASSERT_TRUE(sub) << errorMessage(sub.error);
            compoundTree(sub.value, rel + "/", out);
        } else {
            auto s = st.openStream(e.name);
            ASSERT_TRUE(s) << errorMessage(s.error);
            EXPECT_EQ(s.value->size(), e.size);
            out[rel] = readAll(*s.value);
        }
    }
}

inline Tree compoundTree(Storage st)
{
    Tree t;
    compoundTree(st, "", t);
    return t;
}

// Copies a folder tree into a storage: folders become storages, files streams.
inline void mirrorFolder(const fs::path& dir, Storage st)
{
    for (const auto& e : fs::directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (e.is_directory()) {
            auto sub = st.createStorage(name);
            ASSERT_TRUE(sub) << errorMessage(sub.error);
            mirrorFolder(e.path(), sub.value);
        } else {
            auto s = st.createStream(name);
            ASSERT_TRUE(s) << errorMessage(s.error);
            writeAll(*s.value, readFile(e.path()));
        }
    }
}

// The Python that has olefile (the system one, not a per-user installation), or empty.
inline std::string pythonWithOlefile()
{
    for (const char* py : {"/usr/bin/python3", "python3"})
        if (run(std::string(py) + " -c 'import olefile' 2>/dev/null") == 0) return py;
    return "";
}

inline bool haveGsf() { return run("gsf --version >/dev/null 2>&1") == 0; }

inline std::string toolScript() { return std::string(ZEF_STORAGE_TEST_DIR) + "/cfb_tool.py"; }

} // namespace cfbtest
