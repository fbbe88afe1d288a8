#pragma once
// A watcher of guest execution, one instruction at a time: the hook through
// which a debugger halts the machine. The machine knows only this interface;
// whoever implements it lives outside the machine. It is not part of the
// machine's state: the frontend binding sets it, for the thread that runs
// guest code, only around the calls it wants watched, and every call hands it
// the machine that runs then.

namespace tarvel::machine {

struct TarvelMachine;

class ExecutionMonitor {
public:
    virtual ~ExecutionMonitor() = default;

    // Called by the bridge before each guest instruction while the monitor is
    // set, with r15 holding the aligned pc. Passes at the service trap area are
    // part of the call that reached the stub and are not reported; the return
    // sentinel is, so that a debugger can stop where a guest call ends. The
    // monitor may block here and may change registers and memory. Returning
    // false ends the run: run_guest stops the application and fails.
    virtual bool before_instruction(TarvelMachine& machine) = 0;
};

// The monitor run_guest asks, for guest code run on this thread; null (the
// default) lets plain code run in long stretches.
ExecutionMonitor* execution_monitor();

// Sets the monitor for its lifetime and puts the previous one back after.
class ScopedExecutionMonitor {
public:
    explicit ScopedExecutionMonitor(ExecutionMonitor* monitor);
    ~ScopedExecutionMonitor();
    ScopedExecutionMonitor(const ScopedExecutionMonitor&) = delete;
    ScopedExecutionMonitor& operator=(const ScopedExecutionMonitor&) = delete;

private:
    ExecutionMonitor* previous_;
};

}  // namespace tarvel::machine
