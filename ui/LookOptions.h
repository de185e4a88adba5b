// The windows' look for one run as the command line gives it, for both programs: "--night" (the
// night palette) and "--scale PERCENT" (one of the scale steps). Neither is stored.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace velq3::ui {

struct LookOptions {
    bool night = false;
    std::optional<int> scale;
};

// The usage lines of the two options, each ending in a newline.
extern const char* const kLookOptionsUsage;

// Examines args[i]: false when it is not one of the look's options. Otherwise `options` takes
// it, `i` moves past a value it consumed, and `error` says what was wrong with a bad or missing
// value (empty when it was fine).
bool ParseLookOption(const std::vector<std::string>& args, std::size_t& i, LookOptions& options, std::string& error);

}  // namespace velq3::ui
