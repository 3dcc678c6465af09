#pragma once

#include <csignal>
#include <sys/resource.h>

namespace kavelo::test {

// While it lives, no regular file of this process can grow beyond `bytes`: a
// write that would is cut short and the next one fails with EFBIG ("File too
// large"). A real failure half-way through a write that holds for root too,
// unlike a read-only folder. The SIGXFSZ such a write raises is ignored.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

} // namespace kavelo::test
