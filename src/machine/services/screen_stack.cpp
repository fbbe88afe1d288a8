// The application's screen stack. The services only move addresses around;
// the tick notices a new active screen and runs its callbacks.

#include <algorithm>

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

namespace {

void activate(TarvelMachine& m, u32 screen) {
    m.active_screen = screen;
    m.memory.write32(kScreenSystemWord, 0);
}

void push(TarvelMachine& m, u32 screen) {
    if (screen == 0) return;
    if (m.screen_stack.size() >= kMaxScreenStackDepth) m.screen_stack.erase(m.screen_stack.begin());
    m.screen_stack.push_back(screen);
    activate(m, screen);
}

void replace_top(TarvelMachine& m, u32 screen) {
    if (screen == 0) return;
    if (m.screen_stack.empty()) m.screen_stack.push_back(screen);
    else m.screen_stack.back() = screen;
    activate(m, screen);
}

bool remove(TarvelMachine& m, u32 screen) {
    auto& stack = m.screen_stack;
    const auto topmost = std::find(stack.rbegin(), stack.rend(), screen);
    if (topmost == stack.rend()) return false;
    stack.erase(std::next(topmost).base());
    if (screen == m.current_screen || screen == m.active_screen) {
        const u32 top = stack.empty() ? 0 : stack.back();
        m.current_screen = top;
        m.active_screen = top;
        m.screen_initialized = false;
    }
    return true;
}

}  // namespace

void screen_stack_service(TarvelMachine& m, u32 index) {
    const u32 screen = service_arg(m, 0);
    const auto& stack = m.screen_stack;
    switch (index) {
        case 4: case 5:
            push(m, screen);
            return set_result(m, 0);
        case 0: case 2: case 3:
            replace_top(m, screen);
            return set_result(m, kScreenSystemWord);
        case 6: return set_result(m, remove(m, screen) ? 1 : 0);
        case 1: case 7: case 8:
            m.pending_load_screen = screen != 0 ? screen : m.active_screen;
            m.pending_load = true;
            return set_result(m, 0);
        case 9: return set_result(m, !stack.empty() && stack.back() == screen ? 1 : 0);
        case 10: return set_result(m, !stack.empty() && stack.front() == screen ? 1 : 0);
        default: return set_result(m, 0);
    }
}

}  // namespace tarvel::machine::services
