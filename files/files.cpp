#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace files {
namespace {

std::string Reason(int err) { return std::strerror(err); }

std::string DirOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Follows symbolic links to the name of the file they lead to (which need
// not exist yet). False with errno set if the chain cannot be followed.
bool FollowLinks(std::string* path) {
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (::lstat(path->c_str(), &st) != 0) return errno == ENOENT;
        if (!S_ISLNK(st.st_mode)) return true;
        if (hops >= 40) {
            errno = ELOOP;
            return false;
        }
        std::vector<char> buf(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        ssize_t n = ::readlink(path->c_str(), buf.data(), buf.size());
        if (n < 0) return false;
        std::string link(buf.data(), static_cast<std::size_t>(n));
        *path = !link.empty() && link[0] == '/' ? link : DirOf(*path) + "/" + link;
    }
}

// A new file next to `target`, filled and closed, then renamed over it.
bool ReplaceAtomically(const std::string& target, const std::string& data, mode_t mode, const struct stat* old,
                       int* err) {
    std::string temp = DirOf(target) + "/." + BaseOf(target) + ".XXXXXX";
    std::vector<char> name(temp.begin(), temp.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        *err = errno;
        return false;
    }
    bool ok = ::fchmod(fd, mode) == 0;
    if (ok && old && (old->st_uid != ::geteuid() || old->st_gid != ::getegid())) {
        // Only root may give a file away; anyone else keeps what they can.
        if (::fchown(fd, old->st_uid, old->st_gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), old->st_gid);
    }
    ok = ok && WriteAll(fd, data) && ::fsync(fd) == 0;
    if (!ok) *err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        *err = errno;
    }
    if (ok && ::rename(name.data(), target.c_str()) != 0) {
        ok = false;
        *err = errno;
    }
    if (!ok) ::unlink(name.data());
    return ok;
}

}  // namespace

std::optional<std::string> ReadInput(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& what, int err) -> std::optional<std::string> {
        if (error) *error = path + ": " + what + Reason(err);
        return std::nullopt;
    };
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail("cannot open: ", errno);
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        return fail("cannot read: ", err);
    }
    if (S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail("cannot read: ", EISDIR);
    }
    std::string content;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return fail("cannot read: ", err);
        }
        if (n == 0) break;
        content.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return content;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool WriteStdout(const std::string& data, std::string* error) {
    errno = 0;
    bool ok = std::fwrite(data.data(), 1, data.size(), stdout) == data.size();
    ok = std::fflush(stdout) == 0 && ok && !std::ferror(stdout);
    if (!ok && error) *error = "standard output: " + Reason(errno ? errno : EIO);
    return ok;
}

void StdoutStream::Write(const std::string& data) {
    if (error_) return;
    errno = 0;
    if (std::fwrite(data.data(), 1, data.size(), stdout) != data.size() || std::ferror(stdout)) error_ = errno ? errno : EIO;
}

bool StdoutStream::Finish(std::string* error) {
    if (!error_) {
        errno = 0;
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) error_ = errno ? errno : EIO;
    }
    if (error_ && error) *error = "standard output: " + Reason(error_);
    return !error_;
}

bool WriteOutput(const std::string& path, const std::string& data, std::string* error) {
    if (path == "-") return WriteStdout(data, error);
    auto fail = [&](const std::string& why) {
        if (error) *error = path + ": " + why;
        return false;
    };
    if (path.empty()) return fail(Reason(ENOENT));
    std::string target = path;
    if (!FollowLinks(&target)) return fail("cannot write: " + Reason(errno));

    int err = 0;
    struct stat st;
    if (::stat(target.c_str(), &st) != 0) {
        if (errno != ENOENT) return fail("cannot write: " + Reason(errno));
        mode_t mask = ::umask(0);
        ::umask(mask);
        if (!ReplaceAtomically(target, data, 0666 & ~mask, nullptr, &err)) return fail("cannot write: " + Reason(err));
        return true;
    }
    if (S_ISDIR(st.st_mode)) return fail("cannot write: " + Reason(EISDIR));
    if (S_ISREG(st.st_mode)) {
        // Renaming over a file needs only the directory's permission: its
        // own read-only mode has to be honoured here.
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)
            return fail("the file is read-only; it is left as it is");
        if (!ReplaceAtomically(target, data, st.st_mode & 07777, &st, &err))
            return fail("cannot write: " + Reason(err));
        return true;
    }
    // A FIFO, a terminal, a device: there is nothing to replace.
    int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return fail("cannot write: " + Reason(errno));
    bool ok = WriteAll(fd, data);
    err = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    return ok ? true : fail("cannot write: " + Reason(err));
}

}  // namespace files
