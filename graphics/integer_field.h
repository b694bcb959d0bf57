#pragma once
// Whole numbers typed into a field or given on a command line, read the same way everywhere.

#include <optional>
#include <string>

// The decimal integer in a field, blanks at both ends ignored; nullopt when it is not one.
std::optional<int> ParseIntegerField(const std::string& text);
