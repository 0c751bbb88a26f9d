#pragma once

#include "engine/search_fields.h"
#include "settings/search_config.h"

namespace ferret {

// The fields a saved search holds, written over `fields`; the others stay as they are.
void ApplySavedSearch(const SearchSettings& saved, SearchFields& fields);
// The part of `fields` a saved search holds.
SearchSettings SavedSearchOf(const SearchFields& fields);

}  // namespace ferret
