// atomic_write.cpp: write to a temporary sibling, then rename it over the target.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <string>

#include "project.h"

namespace marnox::project {
namespace {

const Name realpath{"realpath"};

[[noreturn]] void raise_os_error(nb::handle filename) {
    PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.ptr());
    pyglue::raise_current();
}

/// `path` in the file-system encoding, for the system calls.
std::string encoded_path(nb::handle path) {
    nb::object encoded = pyglue::checked(PyUnicode_EncodeFSDefault(path.ptr()));
    std::string bytes(PyBytes_AS_STRING(encoded.ptr()),
                      static_cast<size_t>(PyBytes_GET_SIZE(encoded.ptr())));
    if (bytes.find('\0') != std::string::npos)
        pyglue::raise(PyExc_ValueError, "embedded null byte");
    return bytes;
}

/// The file a write to `path` lands in: symbolic links resolved, like open() does.
std::string resolved_target(nb::handle path) {
    nb::object os_path = nb::module_::import_("os.path");
    return encoded_path(pyglue::call_method(os_path, realpath, path));
}

/// What the written file must end with when it replaces a file: that file's
/// permission bits, owner and group. A new file gets what open() gives it.
struct TargetAttributes {
    bool replaces = false;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

TargetAttributes target_attributes(const std::string& target, nb::handle path) {
    // Opening for writing without truncating reports exactly the error that
    // open(path, "w") would (a directory, no permission, a read-only system)
    // and leaves the file as it is.
    int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st;
        int rc = ::fstat(fd, &st);
        ::close(fd);
        if (rc != 0)
            raise_os_error(path);
        return {
            .replaces = true, .mode = st.st_mode & 07777, .owner = st.st_uid, .group = st.st_gid};
    }
    if (errno != ENOENT)
        raise_os_error(path);
    return {};
}

/// Gives the temporary file the attributes of the target. Owner and group are
/// kept where the process may set them (a file written in place keeps them too);
/// they go first because changing them clears the set-user-ID and set-group-ID bits.
void apply_attributes(int fd, const TargetAttributes& attributes, nb::handle path) {
    if (!attributes.replaces)
        return;
    if (::fchown(fd, attributes.owner, attributes.group) != 0 &&
        ::fchown(fd, static_cast<uid_t>(-1), attributes.group) != 0) {
        // Not allowed to: the file belongs to whoever saves it, as any new file does.
    }
    if (::fchmod(fd, attributes.mode) != 0)
        raise_os_error(path);
}

// Bytes of the target's name kept in the temporary name, so that a target whose name
// is as long as a file name may be still gets a valid temporary name beside it.
constexpr std::string::size_type kNameBytesKept = 200;

/// Removes the temporary file unless the rename has taken it over.
class TemporaryFile {
public:
    TemporaryFile(const std::string& target, nb::handle path) {
        std::string::size_type slash = target.rfind('/');
        std::string folder =
            slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
        std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
        std::string prefix = folder + "." + base.substr(0, kNameBytesKept) + ".";
        // Created with the mode open() uses, so the process umask shapes a new
        // file's permission bits exactly as it would for open(path, "w").
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            name_ = prefix + std::to_string(random()) + ".tmp";
            fd_ = ::open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0 || errno != EEXIST)
                break;
        }
        if (fd_ < 0)
            raise_os_error(path);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!name_.empty())
            ::unlink(name_.c_str());
    }

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    void keep() { name_.clear(); }

private:
    std::string name_;
    int fd_ = -1;
};

/// Writes `text` to the open text file and closes it. The file is closed on every
/// path; when writing fails, that error is the one reported.
void write_and_close(nb::handle file, nb::handle text) {
    try {
        pyglue::call_method(file, io::write, text);
        pyglue::call_method(file, io::flush);
    } catch (nb::python_error&) {
        // Closing retries the failed flush; the first error is the one to report.
        nb::object closed = nb::steal(PyObject_CallMethodNoArgs(file.ptr(), io::close.ptr()));
        if (!closed.is_valid())
            PyErr_Clear();
        throw;
    }
    pyglue::call_method(file, io::close);
}

/// Whether writing to `name` is left to open(): when it names an existing file
/// that is not a regular one (a FIFO, a device, a directory), which has no content
/// to lose and must not be replaced by a regular file, and when it cannot name a
/// regular file at all ("", a trailing slash, a path that does not resolve), where
/// open() raises its own error and creates nothing. Only an existing regular file
/// or a new one is written through a temporary file.
bool leave_to_open(const std::string& name) {
    struct stat st;
    if (::stat(name.c_str(), &st) == 0)
        return !S_ISREG(st.st_mode);
    return errno != ENOENT || name.empty() || name.back() == '/';
}

}  // namespace

void write_text_atomically(nb::handle path, nb::handle text) {
    nb::object open = pyglue::builtin(io::open);
    if (leave_to_open(encoded_path(path))) {
        write_and_close(pyglue::call(open, path, nb::str("w")), text);
        return;
    }
    std::string target = resolved_target(path);
    TargetAttributes attributes = target_attributes(target, path);

    TemporaryFile temporary(target, path);
    apply_attributes(temporary.fd(), attributes, path);
    // The built-in open() on the descriptor gives the same encoding and newline
    // handling as open(path, "w"); the descriptor stays ours (closefd=False).
    write_and_close(pyglue::call(open, nb::int_(temporary.fd()), nb::str("w"), nb::int_(-1),
                                 nb::none(), nb::none(), nb::none(), nb::bool_(false)),
                    text);
    if (::fsync(temporary.fd()) != 0)
        raise_os_error(path);
    if (::rename(temporary.name().c_str(), target.c_str()) != 0)
        raise_os_error(path);
    temporary.keep();
}

}  // namespace marnox::project
