#include "tests/support/posix_regex.h"

#include <regex.h>

#include <stdexcept>

namespace {

// One compiled pattern, freed with it.
class Compiled {
  public:
    explicit Compiled(const std::string& pattern) {
        if (regcomp(&regex_, pattern.c_str(), REG_EXTENDED) != 0) {
            throw std::invalid_argument("not an extended regular expression: " + pattern);
        }
    }
    ~Compiled() { regfree(&regex_); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;

    // The first match at or after `from`, as [start, end); false where there is none.
    bool Find(const std::string& text, std::size_t from, std::size_t& start,
              std::size_t& end) const {
        regmatch_t match{};
        if (from > text.size() ||
            regexec(&regex_, text.c_str() + from, 1, &match, from > 0 ? REG_NOTBOL : 0) != 0) {
            return false;
        }
        start = from + static_cast<std::size_t>(match.rm_so);
        end = from + static_cast<std::size_t>(match.rm_eo);
        return true;
    }

  private:
    regex_t regex_{};
};

}  // namespace

bool MatchesWhole(const std::string& text, const std::string& pattern) {
    std::size_t start = 0, end = 0;
    return Compiled("^(" + pattern + ")$").Find(text, 0, start, end);
}

std::vector<std::string> AllMatches(const std::string& text, const std::string& pattern) {
    const Compiled compiled(pattern);
    std::vector<std::string> matches;
    std::size_t start = 0, end = 0;
    // An empty match moves on by one character, so that the search ends.
    for (std::size_t from = 0; compiled.Find(text, from, start, end);
         from = end == start ? end + 1 : end) {
        matches.push_back(text.substr(start, end - start));
    }
    return matches;
}

std::string ReplaceAll(const std::string& text, const std::string& pattern,
                       const std::string& with) {
    const Compiled compiled(pattern);
    std::string replaced;
    std::size_t start = 0, end = 0, from = 0;
    while (compiled.Find(text, from, start, end) && end > start) {
        replaced += text.substr(from, start - from) + with;
        from = end;
    }
    return replaced + text.substr(from);
}
