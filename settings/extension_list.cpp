#include "settings/extension_list.h"

#include "settings/app_settings.h"

namespace ferret {

std::string ApprovedExtensionList() {
    return ApprovedExtensionList(ReadAppSettings().extension_list);
}

}  // namespace ferret
