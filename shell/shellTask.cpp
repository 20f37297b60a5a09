#include "shellTask.h"

#include <kernel/taskLib.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace shell {
namespace {

// How long a command has to stop by itself after Ctrl-C before it is left in the background.
constexpr int kInterruptGraceMs = 300;
constexpr std::size_t kFaultStack = std::size_t{64} * 1024;
constexpr std::size_t kNameMax = 128;
constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL};

int interruptPipe[2] = {-1, -1};
std::atomic<bool> interruptPending{false};
struct sigaction previousActions[NSIG];

// One call task. Shared by the shell and the task's thread, so that a task left running in
// the background keeps what it uses.
struct Worker {
    std::mutex lock;
    std::condition_variable wake;
    std::function<bool()> job;
    bool hasJob = false;
    bool quit = false;
    std::atomic<bool> interrupted{false};
    std::atomic<bool> abandoned{false};
    std::atomic<pid_t> threadId{0};
    int donePipe[2] = {-1, -1};
    // Written by the task before it signals the pipe, read by the shell after.
    TaskOutcome outcome;
    std::thread thread;

    Worker() { (void)pipe2(donePipe, O_CLOEXEC | O_NONBLOCK); }
    ~Worker()
    {
        for (int fd : donePipe)
            if (fd >= 0)
                close(fd);
    }
    Worker(const Worker &) = delete;
    Worker &operator=(const Worker &) = delete;
};

struct Fault {
    int signal = 0;
    void *address = nullptr;
    uintptr_t pc = 0; // 0 where the machine's context is not read
    char routine[kNameMax] = {};
};

thread_local sigjmp_buf *faultJump = nullptr;
thread_local Fault fault;
thread_local Worker *currentWorker = nullptr;
thread_local const char *currentRoutine = nullptr;

std::shared_ptr<Worker> liveWorker;

void onInterrupt(int)
{
    const int saved = errno;
    interruptPending.store(true);
    const char byte = 'c';
    (void)!write(interruptPipe[1], &byte, 1);
    errno = saved;
}

uintptr_t programCounter(void *context)
{
    const auto *machine = static_cast<const ucontext_t *>(context);
#if defined(__x86_64__)
    return machine != nullptr ? static_cast<uintptr_t>(machine->uc_mcontext.gregs[REG_RIP]) : 0;
#elif defined(__i386__)
    return machine != nullptr ? static_cast<uintptr_t>(machine->uc_mcontext.gregs[REG_EIP]) : 0;
#else
    (void)machine;
    return 0;
#endif
}

// "pc 0x... (routine+0x12)", where the fault's instruction is known.
std::string whereText(uintptr_t pc)
{
    if (pc == 0)
        return "";
    char text[160];
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(pc), &info) != 0 && info.dli_sname != nullptr)
        std::snprintf(text, sizeof text, ", pc 0x%" PRIxPTR " (%s+0x%" PRIxPTR ")", pc, info.dli_sname,
                      pc - reinterpret_cast<uintptr_t>(info.dli_saddr));
    else
        std::snprintf(text, sizeof text, ", pc 0x%" PRIxPTR, pc);
    return text;
}

void onFault(int signal, siginfo_t *info, void *context)
{
    if (faultJump != nullptr) {
        fault.signal = signal;
        fault.address = info != nullptr ? info->si_addr : nullptr;
        fault.pc = programCounter(context);
        std::size_t n = 0;
        if (const char *name = currentRoutine; name != nullptr)
            for (; name[n] != '\0' && n + 1 < kNameMax; ++n)
                fault.routine[n] = name[n];
        fault.routine[n] = '\0';
        siglongjmp(*faultJump, 1);
    }
    // Not in the call task: whatever handled the signal before (the sanitizer's report, or
    // the default action).
    const struct sigaction &before = previousActions[signal];
    if ((before.sa_flags & SA_SIGINFO) != 0 && before.sa_sigaction != nullptr) {
        before.sa_sigaction(signal, info, context);
        return;
    }
    if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN && before.sa_handler != nullptr) {
        before.sa_handler(signal);
        return;
    }
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    sigaction(signal, &defaults, nullptr);
    raise(signal);
}

const char *signalName(int signal)
{
    switch (signal) {
    case SIGSEGV: return "SIGSEGV (segmentation fault)";
    case SIGBUS: return "SIGBUS (bus error)";
    case SIGABRT: return "SIGABRT (abort)";
    case SIGFPE: return "SIGFPE (arithmetic fault)";
    case SIGILL: return "SIGILL (illegal instruction)";
    default: return "a fault";
    }
}

void signalDone(Worker &worker)
{
    const char byte = 'd';
    (void)!write(worker.donePipe[1], &byte, 1);
}

// The task's life: runs each job under the fault guard; ends after a fault, after the shell
// left it behind, or when told to quit.
void workerMain(const std::shared_ptr<Worker> &self)
{
    Worker &worker = *self;
    currentWorker = &worker;
    worker.threadId.store(static_cast<pid_t>(syscall(SYS_gettid)));
    pthread_setname_np(pthread_self(), "tShellCall");
    std::vector<char> altStack(kFaultStack);
    stack_t stack{};
    stack.ss_sp = altStack.data();
    stack.ss_size = altStack.size();
    sigaltstack(&stack, nullptr);
    for (;;) {
        std::function<bool()> job;
        {
            std::unique_lock guard(worker.lock);
            worker.wake.wait(guard, [&] { return worker.hasJob || worker.quit; });
            if (!worker.hasJob)
                break;
            job = std::move(worker.job);
            worker.hasJob = false;
        }
        sigjmp_buf jump;
        TaskOutcome outcome;
        if (sigsetjmp(jump, 1) == 0) {
            faultJump = &jump;
            outcome.ok = job();
            faultJump = nullptr;
        } else {
            faultJump = nullptr;
            char address[48] = "";
            if (fault.signal != SIGABRT)
                std::snprintf(address, sizeof address, " at address 0x%" PRIxPTR,
                              reinterpret_cast<uintptr_t>(fault.address));
            char text[480];
            std::snprintf(text, sizeof text,
                          "%s%s%s%s%s: the call task is stopped, a fresh one runs the next command",
                          signalName(fault.signal), fault.routine[0] != '\0' ? " in " : "", fault.routine,
                          address, whereText(fault.signal == SIGABRT ? 0 : fault.pc).c_str());
            outcome.end = TaskOutcome::End::Faulted;
            outcome.report = text;
        }
        job = nullptr;
        currentRoutine = nullptr;
        worker.outcome = outcome;
        if (worker.abandoned.load())
            break;
        signalDone(worker);
        if (outcome.end == TaskOutcome::End::Faulted)
            break; // a fresh task runs the next command
    }
    stack.ss_flags = SS_DISABLE;
    sigaltstack(&stack, nullptr);
    currentWorker = nullptr;
}

std::shared_ptr<Worker> workerStart()
{
    auto worker = std::make_shared<Worker>();
    // The task takes no Ctrl-C itself: the shell's thread does, and tells the task.
    sigset_t blocked;
    sigset_t old;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    pthread_sigmask(SIG_BLOCK, &blocked, &old);
    worker->thread = std::thread([worker] { workerMain(worker); });
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return worker;
}

// Whether the task waits in a read of the shell's standard input (a routine that prompts):
// left in the background it would take the lines typed for the shell.
bool readingStandardInput(pid_t thread)
{
    std::ifstream state("/proc/self/task/" + std::to_string(thread) + "/syscall");
    long number = -1;
    std::string descriptor;
    state >> number >> descriptor;
    return state && number == SYS_read && std::strtoul(descriptor.c_str(), nullptr, 16) == STDIN_FILENO;
}

void drain(int fd)
{
    char scrap[64];
    while (read(fd, scrap, sizeof scrap) > 0) {
    }
}

} // namespace

void signalsInit()
{
    if (pipe2(interruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // The kernel layer's own waits (a record lock's) end on Ctrl-C too.
    taskInterruptHookSet([]() -> int { return interruptRequested() ? 1 : 0; });
    // A script run with Ctrl-C ignored (in the background) keeps ignoring it; a shell on a
    // terminal always takes it.
    struct sigaction before {};
    sigaction(SIGINT, nullptr, &before);
    if (before.sa_handler != SIG_IGN || isatty(STDIN_FILENO) != 0) {
        struct sigaction interrupt {};
        interrupt.sa_handler = onInterrupt;
        sigemptyset(&interrupt.sa_mask);
        interrupt.sa_flags = 0; // no restart: a wait at the prompt ends
        sigaction(SIGINT, &interrupt, nullptr);
    }
    struct sigaction faults {};
    faults.sa_sigaction = onFault;
    sigemptyset(&faults.sa_mask);
    faults.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    for (const int signal : kFaultSignals)
        sigaction(signal, &faults, &previousActions[signal]);
}

bool callAbandoned()
{
    return currentWorker != nullptr && currentWorker->abandoned.load();
}

bool interruptRequested()
{
    return currentWorker != nullptr ? currentWorker->interrupted.load() : interruptPending.load();
}

bool interruptTake()
{
    if (interruptPipe[0] >= 0)
        drain(interruptPipe[0]);
    return interruptPending.exchange(false);
}

int interruptDescriptor()
{
    return interruptPipe[0];
}

void currentRoutineSet(const char *name)
{
    currentRoutine = name;
}

TaskOutcome callTaskRun(std::function<bool()> work)
{
    if (liveWorker == nullptr)
        liveWorker = workerStart();
    std::shared_ptr<Worker> worker = liveWorker;
    interruptTake();
    worker->interrupted.store(false);
    {
        const std::lock_guard guard(worker->lock);
        worker->job = std::move(work);
        worker->hasJob = true;
    }
    worker->wake.notify_one();
    int graceLeft = -1; // no limit until Ctrl-C
    for (;;) {
        pollfd waits[2] = {{worker->donePipe[0], POLLIN, 0}, {interruptPipe[0], POLLIN, 0}};
        const int ready = poll(waits, 2, graceLeft);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready > 0 && (waits[0].revents & POLLIN) != 0) {
            drain(worker->donePipe[0]);
            TaskOutcome outcome = worker->outcome;
            if (outcome.end == TaskOutcome::End::Faulted) {
                worker->thread.join();
                liveWorker = nullptr;
            } else if (graceLeft >= 0) {
                interruptPending.store(false);
            }
            return outcome;
        }
        if (ready > 0 && (waits[1].revents & POLLIN) != 0) {
            drain(interruptPipe[0]);
            worker->interrupted.store(true);
            graceLeft = kInterruptGraceMs;
            continue;
        }
        if (ready == 0 && graceLeft >= 0 && readingStandardInput(worker->threadId.load())) {
            std::fprintf(stderr, "\nrtsh: the routine waits for a line of input: type it, or Ctrl-D\n");
            graceLeft = -1;
            continue;
        }
        if (ready == 0 && graceLeft >= 0) {
            // The command did not stop: it goes on in the background until it returns.
            worker->abandoned.store(true);
            {
                const std::lock_guard guard(worker->lock);
                worker->quit = true; // in case it ended just now and waits for more
            }
            worker->wake.notify_one();
            worker->thread.detach();
            liveWorker = nullptr;
            interruptPending.store(false);
            TaskOutcome outcome;
            outcome.end = TaskOutcome::End::Interrupted;
            outcome.report =
                "interrupted: the call goes on in the background until it returns (a remote call "
                "at its time-out); a fresh task runs the next command";
            return outcome;
        }
    }
}

void callTaskEnd()
{
    if (liveWorker == nullptr)
        return;
    {
        const std::lock_guard guard(liveWorker->lock);
        liveWorker->quit = true;
    }
    liveWorker->wake.notify_one();
    liveWorker->thread.join();
    liveWorker = nullptr;
}

} // namespace shell
