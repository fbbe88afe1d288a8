#pragma once
// A C header naming the resource numbers of a packed program, so that guest
// code can load resources by number without counting by hand.

#include <string>

#include "packer.hpp"

namespace tarvel::pack {

// One "#define TV_RES_<NAME> <number>" per resource of the main table; the
// name is upper-cased with every other character than A-Z and 0-9 as "_".
std::string resource_header(const ResourcePackage& resources);

}  // namespace tarvel::pack
