// Extended regular expressions through the C library's <regex.h>, which the scripts' grep -E
// reads alike, and which costs a test file nothing to compile.
#pragma once

#include <string>
#include <vector>

// True when the pattern matches the whole text.
bool MatchesWhole(const std::string& text, const std::string& pattern);

// Every match of the pattern in the text, left to right, none overlapping.
std::vector<std::string> AllMatches(const std::string& text, const std::string& pattern);

// The text with every match of the pattern replaced.
std::string ReplaceAll(const std::string& text, const std::string& pattern,
                       const std::string& with);
