#pragma once

#include <string>

#include "util/extension_list.h"

namespace ferret {

// ApprovedExtensionList of the stored "ext_list", read from the settings now. For callers that
// have no AppSettings at hand; the engine never reads the settings, so it includes only
// util/extension_list.h.
std::string ApprovedExtensionList();

}  // namespace ferret
