#pragma once

#include <QString>
#include <string>
#include <string_view>
#include <vector>

#include "util/legacy_text.h"
#include "util/status.h"

namespace ferret {

// One marked stretch of a text, in UTF-16 units of the QString it was found in.
struct TextMark {
    int start = 0;
    int length = 0;
    bool operator==(const TextMark&) const = default;
};

// A file's bytes as text, as a search reads them: UTF-16 after a UTF-16 byte-order mark, the
// legacy encoding `choice` gives a file without a mark whose start is not UTF-8, UTF-8 when they
// are valid UTF-8 (a leading byte-order mark dropped), Windows-1252 otherwise, so every byte
// shows as some character. `encoding`, when given, gets the name of the one used.
QString DecodeFileText(std::string_view bytes, const EncodingChoice& choice = kFoundEncodings,
                       QString* encoding = nullptr);

// The occurrences of `find` in `text`, searched from the start, each one after the end of the
// last (so "aa" occurs twice in "aaaa"). Ignoring case folds letters as Unicode does.
std::vector<TextMark> FindPlainMarks(const QString& text, const QString& find, bool ignore_case);

// The matches of the regular expression `pattern` in `text`, in order. A pattern that cannot be
// compiled gives its error and no marks.
Status FindPatternMarks(const QString& text, const std::string& pattern, bool ignore_case,
                        std::vector<TextMark>& marks);

// The marks of a run's search text `find` (its escape words already turned) as the run finds
// them: as a pattern when `regex`, and only as whole words when `whole_word`.
Status FindRunMarks(const QString& text, const QString& find, bool regex, bool ignore_case,
                    bool whole_word, std::vector<TextMark>& marks);

}  // namespace ferret
