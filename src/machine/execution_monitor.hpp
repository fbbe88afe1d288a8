#pragma once
// A watcher of guest execution, one instruction at a time: the hook through
// which a debugger halts the machine. The machine knows only this interface;
// whoever implements it lives outside the machine and sets it on the record
// for as long as it wants to see instructions.

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

}  // namespace tarvel::machine
