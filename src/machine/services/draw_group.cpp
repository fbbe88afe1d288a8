// Group 4: the drawing group.

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

void draw_service(TarvelMachine& m, u32) { set_result(m, 0); }

}  // namespace tarvel::machine::services
