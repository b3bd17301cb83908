// Linked into every test of a 32-bit Linux build.
//
// QProcess starts children with clone(CLONE_PIDFD) once the kernel answers
// waitid(P_PIDFD). qemu's user-mode emulator (qemu-i386, which runs this build
// where the kernel has no 32-bit support) passes the waitid through to the
// 64-bit kernel but refuses that clone with EINVAL, and QProcess then reports
// a crash for every child without having started one. Qt's other way, fork()
// and a SIGCHLD handler, does not help there: each signal handled reloads the
// thread's TLS segment from the descriptor table the emulator shares among
// threads, and the thread takes on another's identity.
//
// So a refused clone(CLONE_PIDFD) is done here as the kernel would: the same
// clone without the flag, then pidfd_open() on the child. Where the clone
// works, nothing changes.

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <dlfcn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr long cloneVm = 0x100;     // CLONE_VM
constexpr long clonePidfd = 0x1000; // CLONE_PIDFD
constexpr long cloneParentSetTid = 0x100000; // CLONE_PARENT_SETTID: shares the slot, refused with CLONE_PIDFD
constexpr long pidfdOpen = 434;     // SYS_pidfd_open, alike on every architecture

using SyscallFunction = long (*)(long, ...);

SyscallFunction realSyscall()
{
    static const SyscallFunction function = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
    return function;
}

// Arguments as clone takes them here: flags, stack, parent's pidfd slot, ...
long cloneWithPidfdOpen(const long *arguments)
{
    const long pid = realSyscall()(SYS_clone, arguments[0] & ~clonePidfd, arguments[1], 0L, arguments[3],
                                   arguments[4], arguments[5]);
    if (pid <= 0)
        return pid; // the child, or the clone failed
    const long pidfd = realSyscall()(pidfdOpen, pid, 0L);
    if (pidfd < 0) {
        // A child nobody could wait for: take it back.
        const int error = errno;
        kill(pid_t(pid), SIGKILL);
        waitpid(pid_t(pid), nullptr, 0);
        errno = error;
        return -1;
    }
    *reinterpret_cast<int *>(arguments[2]) = int(pidfd);

    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        std::fprintf(stderr, "clone(CLONE_PIDFD) is refused here, as qemu's user-mode emulator does: "
                             "children are cloned without it and opened with pidfd_open()\n");
    return pid;
}

} // namespace

extern "C" __attribute__((visibility("default"))) long syscall(long number, ...) noexcept
{
    // Like the C library's own, read six arguments whatever the call passed.
    va_list list;
    va_start(list, number);
    long arguments[6];
    for (long &argument : arguments)
        argument = va_arg(list, long);
    va_end(list);

    const long result = realSyscall()(number, arguments[0], arguments[1], arguments[2], arguments[3],
                                      arguments[4], arguments[5]);
    if (result == -1 && errno == EINVAL && number == SYS_clone && (arguments[0] & clonePidfd)
        && !(arguments[0] & (cloneVm | cloneParentSetTid)) && arguments[2] != 0)
        return cloneWithPidfdOpen(arguments);
    return result;
}
