#pragma once
// The clipboard belongs to the X display, not to a test program: ctest runs several programs on
// one display at once, and a case that sets the clipboard and reads it back can read what another
// program's case put there in between (or find it emptied by that case's clear()). A case that
// uses the clipboard holds this lock for its whole run; the lock is a file named after the
// display, so two suites on two displays never wait for each other. Blocks until the holder (a
// case in another process, which goes on running its own event loop) ends.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

namespace testsupport {

class ClipboardLock {
public:
    ClipboardLock() {
        const char* display = std::getenv("DISPLAY");
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/dravix-clipboard-" + (display ? display : "none");
        fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        int rc = fd_ >= 0 ? ::flock(fd_, LOCK_EX) : -1;
        while (rc != 0 && errno == EINTR) rc = ::flock(fd_, LOCK_EX);
        if (rc != 0 && fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ClipboardLock() {
        if (fd_ >= 0) ::close(fd_);  // closing the file lets the lock go
    }
    ClipboardLock(const ClipboardLock&) = delete;
    ClipboardLock& operator=(const ClipboardLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace testsupport
