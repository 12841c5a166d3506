#include "platform/storage/compound_file.h"

#include "platform/storage/cfb_internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zef::storage {

using namespace detail;

const char* errorMessage(CfbError error)
{
    switch (error) {
    case CfbError::Ok:
        return "no error";
    case CfbError::FileNotFound:
        return "file not found";
    case CfbError::AccessDenied:
        return "access denied";
    case CfbError::Locked:
        return "the file is in use";
    case CfbError::NotCompoundFile:
        return "not a compound file";
    case CfbError::Corrupt:
        return "the compound file is damaged";
    case CfbError::Unsupported:
        return "unsupported compound file version";
    case CfbError::NameTooLong:
        return "name longer than 31 characters";
    case CfbError::InvalidName:
        return "invalid name";
    case CfbError::AlreadyExists:
        return "an entry of that name already exists";
    case CfbError::NotFound:
        return "no entry of that name";
    case CfbError::WrongType:
        return "the entry is of the other kind (stream or storage)";
    case CfbError::ReadOnly:
        return "the file is open for reading only";
    case CfbError::Removed:
        return "the entry was removed or its file closed";
    case CfbError::TooLarge:
        return "size or nesting beyond the format's limits";
    case CfbError::IoError:
        return "input/output error";
    }
    return "unknown error";
}

namespace detail {

int Node::depth() const
{
    int d = 0;
    for (const Node* p = parent; p; p = p->parent)
        ++d;
    return d;
}

FileState::~FileState()
{
    if (fd >= 0) ::close(fd);
}

} // namespace detail

namespace {

CfbError fromErrno(int err)
{
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return CfbError::FileNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return CfbError::AccessDenied;
    case EWOULDBLOCK:
        return CfbError::Locked;
    default:
        return CfbError::IoError;
    }
}

// A buffered sink over a file descriptor; large pieces bypass the buffer.
class FdSink final : public Sink {
public:
    explicit FdSink(int fd) : m_fd(fd) { m_buffer.reserve(kBuffer); }
    bool write(const void* data, size_t n) override
    {
        if (m_buffer.size() + n > kBuffer && !flush()) return false;
        if (n >= kBuffer / 2) return writeAll(static_cast<const uint8_t*>(data), n);
        auto* p = static_cast<const uint8_t*>(data);
        m_buffer.insert(m_buffer.end(), p, p + n);
        return true;
    }
    bool flush()
    {
        bool ok = writeAll(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
        return ok;
    }
    uint64_t written() const { return m_written; }
    int error() const { return m_errno; }

private:
    static constexpr size_t kBuffer = 1 << 20;
    bool writeAll(const uint8_t* p, size_t n)
    {
        while (n > 0) {
            ssize_t w = ::write(m_fd, p, n);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                m_errno = w < 0 ? errno : EIO;
                return false;
            }
            p += w;
            n -= size_t(w);
            m_written += uint64_t(w);
        }
        return true;
    }
    int m_fd;
    std::vector<uint8_t> m_buffer;
    uint64_t m_written = 0;
    int m_errno = 0;
};

class StreamSink final : public Sink {
public:
    explicit StreamSink(Stream& out) : m_out(out) {}
    bool write(const void* data, size_t n) override { return m_out.write(data, n) == n; }

private:
    Stream& m_out;
};

// After a commit every stream reads from its new place in the new file.
void rebase(Node& root, const std::vector<Placement>& placements)
{
    std::vector<Node*> stack{&root};
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        if (n->type == NodeType::Stream) n->data.setBacked({}, 0);
        for (auto& c : n->children)
            stack.push_back(c.get());
    }
    for (const Placement& p : placements)
        p.node->data.setBacked({p.extent}, p.extent.length);
}

std::string directoryOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path names, following a symbolic link so that saving replaces its target.
std::string resolveTarget(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char buf[PATH_MAX];
        if (::realpath(path.c_str(), buf)) return buf;
    }
    return path;
}

// Removes what a save of this file that never finished left beside it: a temporary file of
// our naming that nobody holds locked (a writer locks it for as long as it writes) and that has
// not changed for a minute.
void removeStaleTemps(const std::string& path)
{
    const std::string dir = directoryOf(path);
    const std::string prefix = "." + nameOf(path) + ".";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        // "." + base + "." + eight hex digits + ".tmp"
        if (name.size() != prefix.size() + 12 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0 ||
            name.find_first_not_of("0123456789abcdef", prefix.size()) != name.size() - 4)
            continue;
        const std::string full = dir + "/" + name;
        const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && now - st.st_mtime >= 60 &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0)
            ::unlink(full.c_str());
        ::close(fd);
    }
    ::closedir(d);
}

int createTemp(const std::string& path, std::string& tmpPath)
{
    std::string dir = directoryOf(path);
    std::string base = nameOf(path);
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", unsigned(rd()));
        tmpPath = dir + "/." + base + suffix;
        int fd = ::open(tmpPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

// Rewrites the file in place when no new file can be made beside it (a folder the user may not
// write to). Every stream is loaded into memory first, because the old contents get overwritten.
CfbError commitInPlace(FileState& fs)
{
    std::vector<Node*> stack{fs.root.get()};
    while (!stack.empty()) {
        Node* n = stack.back();
        stack.pop_back();
        if (n->type == NodeType::Stream && !n->data.loadAll(fs.backing.get()))
            return CfbError::IoError;
        for (auto& c : n->children)
            stack.push_back(c.get());
    }
    if (::lseek(fs.fd, 0, SEEK_SET) != 0) return fromErrno(errno);
    FdSink sink(fs.fd);
    std::vector<Placement> placements;
    CfbError err = writeStructure(*fs.root, nullptr, sink, &placements);
    if (err == CfbError::Ok && !sink.flush()) err = fromErrno(sink.error());
    if (err == CfbError::Ok && ::ftruncate(fs.fd, off_t(sink.written())) != 0)
        err = fromErrno(errno);
    if (err == CfbError::Ok && ::fsync(fs.fd) != 0) err = fromErrno(errno);
    if (err != CfbError::Ok) return err;
    fs.backing = std::make_unique<FdBacking>(fs.fd, sink.written());
    rebase(*fs.root, placements);
    fs.dirty = false;
    return CfbError::Ok;
}

CfbError commitState(FileState& fs)
{
    if (!fs.isOpen) return CfbError::Removed;
    if (fs.readOnly) return CfbError::ReadOnly;
    if (!fs.dirty) return CfbError::Ok;

    removeStaleTemps(fs.path);
    std::string tmpPath;
    int tmp = createTemp(fs.path, tmpPath);
    if (tmp < 0) {
        int err = errno;
        if ((err == EACCES || err == EPERM) && fs.fd >= 0) return commitInPlace(fs);
        return fromErrno(err);
    }
    ::flock(tmp, LOCK_EX | LOCK_NB); // a fresh file: nobody else can hold it
    struct stat st;
    if (fs.fd >= 0 && ::fstat(fs.fd, &st) == 0) ::fchmod(tmp, st.st_mode & 07777);

    FdSink sink(tmp);
    std::vector<Placement> placements;
    CfbError err = writeStructure(*fs.root, fs.backing.get(), sink, &placements);
    if (err == CfbError::Ok && !sink.flush()) err = fromErrno(sink.error());
    if (err == CfbError::IoError && sink.error()) err = fromErrno(sink.error());
    if (err == CfbError::Ok && ::fsync(tmp) != 0) err = fromErrno(errno);
    if (err == CfbError::Ok && ::rename(tmpPath.c_str(), fs.path.c_str()) != 0)
        err = fromErrno(errno);
    if (err != CfbError::Ok) {
        ::close(tmp);
        ::unlink(tmpPath.c_str());
        return err;
    }
    int dirFd = ::open(directoryOf(fs.path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    if (fs.fd >= 0) ::close(fs.fd);
    fs.fd = tmp;
    fs.backing = std::make_unique<FdBacking>(tmp, sink.written());
    rebase(*fs.root, placements);
    fs.dirty = false;
    return CfbError::Ok;
}

bool writable(const std::shared_ptr<FileState>& fs, const std::shared_ptr<Node>& node,
              CfbError& err)
{
    if (!fs || !fs->isOpen || !node || node->removed) {
        err = CfbError::Removed;
        return false;
    }
    if (fs->readOnly) {
        err = CfbError::ReadOnly;
        return false;
    }
    return true;
}

bool usable(const std::shared_ptr<FileState>& fs, const std::shared_ptr<Node>& node)
{
    return fs && fs->isOpen && node && !node->removed;
}

// Index of the child named name, or the insertion point with found = false.
size_t findChild(const Node& storage, std::u16string_view name, bool& found)
{
    auto it = std::lower_bound(storage.children.begin(), storage.children.end(), name,
                               [](const std::shared_ptr<Node>& n, std::u16string_view v) {
                                   return compareNames(n->name, v) < 0;
                               });
    found = it != storage.children.end() && compareNames((*it)->name, name) == 0;
    return size_t(it - storage.children.begin());
}

EntryInfo infoOf(const Node& n)
{
    EntryInfo info;
    info.name = utf16ToUtf8(n.name);
    info.type = n.type == NodeType::Stream ? EntryInfo::Type::Stream : EntryInfo::Type::Storage;
    info.size = n.type == NodeType::Stream ? int64_t(n.data.size()) : 0;
    return info;
}

} // namespace

// ---- CompoundStream

CompoundStream::CompoundStream(std::shared_ptr<FileState> file, std::shared_ptr<Node> node)
    : m_file(std::move(file)), m_node(std::move(node))
{
}

CompoundStream::~CompoundStream() = default;

bool CompoundStream::valid() const { return usable(m_file, m_node); }

std::string CompoundStream::name() const { return m_node ? utf16ToUtf8(m_node->name) : ""; }

int64_t CompoundStream::size() const { return valid() ? int64_t(m_node->data.size()) : -1; }

size_t CompoundStream::read(void* buffer, size_t count)
{
    if (!valid()) return 0;
    int64_t size = int64_t(m_node->data.size());
    if (m_pos >= size) return 0;
    size_t n = size_t(std::min<int64_t>(int64_t(count), size - m_pos));
    if (!m_node->data.read(m_file->backing.get(), uint64_t(m_pos), buffer, n)) return 0;
    m_pos += int64_t(n);
    return n;
}

size_t CompoundStream::write(const void* buffer, size_t count)
{
    CfbError err;
    if (!writable(m_file, m_node, err) || m_pos >= maxSize) return 0;
    size_t n = size_t(
        std::min<int64_t>(int64_t(std::min<size_t>(count, size_t(maxSize))), maxSize - m_pos));
    if (n == 0) return 0;
    if (!m_node->data.write(m_file->backing.get(), uint64_t(m_pos), buffer, n)) return 0;
    m_file->dirty = true;
    m_pos += int64_t(n);
    return n;
}

bool CompoundStream::seek(int64_t position)
{
    if (position < 0 || position > maxSize || !valid()) return false;
    m_pos = position;
    return true;
}

CfbError CompoundStream::setSize(int64_t size)
{
    CfbError err;
    if (!writable(m_file, m_node, err)) return err;
    if (size < 0 || size > maxSize) return CfbError::TooLarge;
    if (!m_node->data.resize(m_file->backing.get(), uint64_t(size))) return CfbError::IoError;
    m_file->dirty = true;
    return CfbError::Ok;
}

// ---- Storage

Storage::Storage(std::shared_ptr<FileState> file, std::shared_ptr<Node> node)
    : m_file(std::move(file)), m_node(std::move(node))
{
}

bool Storage::valid() const { return usable(m_file, m_node); }

std::string Storage::name() const
{
    if (!m_node) return "";
    if (m_node->type == NodeType::Root && m_node->name.empty()) return "Root Entry";
    return utf16ToUtf8(m_node->name);
}

std::vector<EntryInfo> Storage::entries() const
{
    std::vector<EntryInfo> out;
    if (!valid()) return out;
    for (const auto& c : m_node->children)
        out.push_back(infoOf(*c));
    return out;
}

std::optional<EntryInfo> Storage::stat(std::string_view name) const
{
    std::u16string n;
    bool found = false;
    if (!valid() || makeName(name, n, true) != CfbError::Ok) return std::nullopt;
    size_t i = findChild(*m_node, n, found);
    if (!found) return std::nullopt;
    return infoOf(*m_node->children[i]);
}

CfbResult<Storage> Storage::createStorage(std::string_view name)
{
    CfbResult<Storage> r;
    std::u16string n;
    if (!writable(m_file, m_node, r.error)) return r;
    if ((r.error = makeName(name, n, false)) != CfbError::Ok) return r;
    if (m_node->depth() + 1 >= kMaxDepth) return {{}, CfbError::TooLarge};
    bool found = false;
    size_t i = findChild(*m_node, n, found);
    if (found) return {{}, CfbError::AlreadyExists};
    auto node = std::make_shared<Node>();
    node->type = NodeType::Storage;
    node->name = std::move(n);
    node->parent = m_node.get();
    m_node->children.insert(m_node->children.begin() + ptrdiff_t(i), node);
    m_file->dirty = true;
    r.value = Storage(m_file, node);
    return r;
}

CfbResult<Storage> Storage::openStorage(std::string_view name) const
{
    CfbResult<Storage> r;
    std::u16string n;
    if (!valid()) return {{}, CfbError::Removed};
    if ((r.error = makeName(name, n, true)) != CfbError::Ok) return r;
    bool found = false;
    size_t i = findChild(*m_node, n, found);
    if (!found) return {{}, CfbError::NotFound};
    if (m_node->children[i]->type != NodeType::Storage) return {{}, CfbError::WrongType};
    r.value = Storage(m_file, m_node->children[i]);
    return r;
}

CfbResult<std::unique_ptr<CompoundStream>> Storage::createStream(std::string_view name,
                                                                 bool replace)
{
    CfbResult<std::unique_ptr<CompoundStream>> r;
    std::u16string n;
    if (!writable(m_file, m_node, r.error)) return r;
    if ((r.error = makeName(name, n, false)) != CfbError::Ok) return r;
    bool found = false;
    size_t i = findChild(*m_node, n, found);
    std::shared_ptr<Node> node;
    if (found) {
        node = m_node->children[i];
        if (!replace || node->type != NodeType::Stream) return {nullptr, CfbError::AlreadyExists};
        node->data.setBacked({}, 0);
    } else {
        node = std::make_shared<Node>();
        node->type = NodeType::Stream;
        node->name = std::move(n);
        node->parent = m_node.get();
        m_node->children.insert(m_node->children.begin() + ptrdiff_t(i), node);
    }
    m_file->dirty = true;
    r.value = std::make_unique<CompoundStream>(m_file, node);
    return r;
}

CfbResult<std::unique_ptr<CompoundStream>> Storage::openStream(std::string_view name) const
{
    CfbResult<std::unique_ptr<CompoundStream>> r;
    std::u16string n;
    if (!valid()) return {nullptr, CfbError::Removed};
    if ((r.error = makeName(name, n, true)) != CfbError::Ok) return r;
    bool found = false;
    size_t i = findChild(*m_node, n, found);
    if (!found) return {nullptr, CfbError::NotFound};
    if (m_node->children[i]->type != NodeType::Stream) return {nullptr, CfbError::WrongType};
    r.value = std::make_unique<CompoundStream>(m_file, m_node->children[i]);
    return r;
}

CfbError Storage::remove(std::string_view name)
{
    CfbError err = CfbError::Ok;
    std::u16string n;
    if (!writable(m_file, m_node, err)) return err;
    if ((err = makeName(name, n, true)) != CfbError::Ok) return err;
    bool found = false;
    size_t i = findChild(*m_node, n, found);
    if (!found) return CfbError::NotFound;
    std::shared_ptr<Node> gone = m_node->children[i];
    m_node->children.erase(m_node->children.begin() + ptrdiff_t(i));
    std::vector<Node*> stack{gone.get()};
    while (!stack.empty()) {
        Node* x = stack.back();
        stack.pop_back();
        x->removed = true;
        x->parent = nullptr;
        x->data.setBacked({}, 0);
        for (auto& c : x->children)
            stack.push_back(c.get());
    }
    m_file->dirty = true;
    return CfbError::Ok;
}

CfbError Storage::rename(std::string_view from, std::string_view to)
{
    CfbError err = CfbError::Ok;
    std::u16string a, b;
    if (!writable(m_file, m_node, err)) return err;
    if ((err = makeName(from, a, true)) != CfbError::Ok) return err;
    if ((err = makeName(to, b, false)) != CfbError::Ok) return err;
    bool found = false;
    size_t i = findChild(*m_node, a, found);
    if (!found) return CfbError::NotFound;
    if (compareNames(a, b) != 0) {
        bool taken = false;
        findChild(*m_node, b, taken);
        if (taken) return CfbError::AlreadyExists;
    }
    std::shared_ptr<Node> node = m_node->children[i];
    m_node->children.erase(m_node->children.begin() + ptrdiff_t(i));
    node->name = std::move(b);
    size_t at = findChild(*m_node, node->name, found);
    m_node->children.insert(m_node->children.begin() + ptrdiff_t(at), node);
    m_file->dirty = true;
    return CfbError::Ok;
}

// ---- CompoundFile

CompoundFile::CompoundFile(std::shared_ptr<FileState> file) : m_file(std::move(file)) {}

CompoundFile::~CompoundFile() { close(); }

CfbResult<std::unique_ptr<CompoundFile>> CompoundFile::create(const std::string& path)
{
    auto fs = std::make_shared<FileState>();
    fs->path = resolveTarget(path);
    fs->readOnly = false;
    fs->root = std::make_shared<Node>();
    fs->root->type = NodeType::Root;
    fs->root->name = u"Root Entry";
    fs->dirty = true;
    // Do not replace a file that another open holds.
    int old = ::open(fs->path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (old >= 0) {
        bool busy = ::flock(old, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        ::close(old);
        if (busy) return {nullptr, CfbError::Locked};
    }
    // Check now that a file can be made beside it, as the first commit will do.
    std::string probe;
    int fd = createTemp(fs->path, probe);
    if (fd < 0) return {nullptr, fromErrno(errno)};
    ::close(fd);
    ::unlink(probe.c_str());
    return {std::unique_ptr<CompoundFile>(new CompoundFile(std::move(fs))), CfbError::Ok};
}

CfbResult<std::unique_ptr<CompoundFile>> CompoundFile::open(const std::string& path, Mode mode)
{
    auto fs = std::make_shared<FileState>();
    fs->path = resolveTarget(path);
    fs->readOnly = mode == Mode::Read;
    fs->fd = ::open(fs->path.c_str(), (fs->readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fs->fd < 0) return {nullptr, fromErrno(errno)};
    struct stat st;
    if (::fstat(fs->fd, &st) != 0) return {nullptr, fromErrno(errno)};
    if (!S_ISREG(st.st_mode)) return {nullptr, CfbError::NotCompoundFile};
    if (::flock(fs->fd, (fs->readOnly ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return {nullptr, CfbError::Locked};
    fs->backing = std::make_unique<FdBacking>(fs->fd, uint64_t(st.st_size));
    if (CfbError err = readStructure(*fs->backing, fs->root); err != CfbError::Ok)
        return {nullptr, err};
    return {std::unique_ptr<CompoundFile>(new CompoundFile(std::move(fs))), CfbError::Ok};
}

CfbResult<std::unique_ptr<CompoundFile>> CompoundFile::openMemory(std::vector<uint8_t> bytes)
{
    auto fs = std::make_shared<FileState>();
    fs->readOnly = true;
    fs->backing = std::make_unique<MemoryBacking>(std::move(bytes));
    if (CfbError err = readStructure(*fs->backing, fs->root); err != CfbError::Ok)
        return {nullptr, err};
    return {std::unique_ptr<CompoundFile>(new CompoundFile(std::move(fs))), CfbError::Ok};
}

Storage CompoundFile::root()
{
    if (!m_file->isOpen) return Storage();
    return Storage(m_file, m_file->root);
}

bool CompoundFile::readOnly() const { return m_file->readOnly; }

bool CompoundFile::modified() const { return m_file->isOpen && m_file->dirty; }

CfbError CompoundFile::commit() { return commitState(*m_file); }

CfbError CompoundFile::saveTo(Stream& out)
{
    if (!m_file->isOpen) return CfbError::Removed;
    StreamSink sink(out);
    return writeStructure(*m_file->root, m_file->backing.get(), sink, nullptr);
}

CfbError CompoundFile::close()
{
    if (!m_file->isOpen) return CfbError::Ok;
    CfbError err = m_file->readOnly ? CfbError::Ok : commitState(*m_file);
    m_file->isOpen = false;
    m_file->root.reset();
    m_file->backing.reset();
    if (m_file->fd >= 0) ::close(m_file->fd);
    m_file->fd = -1;
    return err;
}

} // namespace zef::storage
