#include "app/saved_search.h"

namespace ferret {

void ApplySavedSearch(const SearchSettings& saved, SearchFields& fields) {
    fields.search_text = saved.search;
    fields.replace_text = saved.replace;
    fields.file_mask = saved.file_mask;
    fields.folder = saved.path;
    fields.recursive = saved.sub_folders == 1;
    fields.ignore_case = saved.ignore_case == 1;
    fields.regex = saved.regex == 1;
    fields.skip_folders = saved.skip_folders;
    fields.use_ignore_files = saved.git_ignore == 1;
    fields.skip_binary = saved.no_binary == 1;
    fields.whole_word = saved.whole_word == 1;
    fields.search_inside = saved.archives == 1;
}

SearchSettings SavedSearchOf(const SearchFields& fields) {
    SearchSettings saved;
    saved.search = fields.search_text;
    saved.replace = fields.replace_text;
    saved.path = fields.folder;
    saved.file_mask = fields.file_mask;
    saved.sub_folders = fields.recursive ? 1 : 0;
    saved.ignore_case = fields.ignore_case ? 1 : 0;
    saved.regex = fields.regex ? 1 : 0;
    saved.skip_folders = fields.skip_folders;
    saved.git_ignore = fields.use_ignore_files ? 1 : 0;
    saved.no_binary = fields.skip_binary ? 1 : 0;
    saved.whole_word = fields.whole_word ? 1 : 0;
    saved.archives = fields.search_inside ? 1 : 0;
    return saved;
}

}  // namespace ferret
