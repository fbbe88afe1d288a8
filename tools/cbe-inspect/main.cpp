// cbe-inspect: shows what a CBE archive holds, extracts its resources and
// disassembles its code.

#include <iostream>

#include "common/log.hpp"
#include "inspect.hpp"

int main(int argc, char** argv) {
    // The loader's own progress lines are not part of the report.
    tarvel::log::set_filter(tarvel::log::Level::Warn);
    return tarvel::inspect::run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
