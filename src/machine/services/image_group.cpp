// Group 3: images, colours, input words and decode streams.

#include "machine/machine.hpp"
#include "machine/services/dispatch.hpp"
#include "machine/services/service_groups.hpp"

namespace tarvel::machine::services {

void image_service(TarvelMachine& m, u32) { set_result(m, 0); }

}  // namespace tarvel::machine::services
