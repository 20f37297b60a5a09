// The call task: statements run in a kernel task of the shell's own, kept from command to
// command (the per-task state of the modules, such as the NFS client's handle, lives on in
// it). A fault in it (a segmentation fault, a bus error, an abort) stops that task alone: the
// shell reports the fault and starts a fresh task for the next command. Ctrl-C asks the
// running command to stop; one that does not stop at once is left to end on its own, in the
// background, and a fresh task takes the next command.
#ifndef SHELL_SHELLTASK_H
#define SHELL_SHELLTASK_H

#include <functional>
#include <string>

namespace shell {

// Installs the handlers of Ctrl-C and of faults; once, before any other thread starts.
void signalsInit();

// True in a command that Ctrl-C asked to stop: loops of the shell's own commands end early.
bool interruptRequested();
// True in a command that the shell has left in the background after Ctrl-C: it has told the
// user so, and the command's own note of the interruption would only repeat it.
bool callAbandoned();

// Forgets a Ctrl-C pressed while no command ran; true when there was one.
bool interruptTake();

// The descriptor that turns readable when Ctrl-C is pressed (for waits at the prompt).
int interruptDescriptor();

struct TaskOutcome {
    enum class End { Done, Faulted, Interrupted };
    End end = End::Done;
    bool ok = false;    // what the work returned, when it ended by itself
    std::string report; // what happened, for a fault or an abandoned command
};

// Runs work in the call task and waits for it, for Ctrl-C or for a fault.
TaskOutcome callTaskRun(std::function<bool()> work);

// Ends the call task; its task-delete hooks run.
void callTaskEnd();

// The routine being called in this task, named in a fault report.
void currentRoutineSet(const char *name);

} // namespace shell

#endif
