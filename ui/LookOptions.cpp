// The command line's look options.
#include "ui/LookOptions.h"

#include "ui/UiScaleSetting.h"

namespace velq3::ui {

const char* const kLookOptionsUsage =
    "  --night      deep red on black for this run (Ctrl+N in a window switches and stores it)\n"
    "  --scale P    the windows' scale for this run, in percent: 100, 125, 150, 175 or 200\n"
    "               (not stored; the window menu's Scale entry or Ctrl++ and Ctrl+- store it)\n";

bool ParseLookOption(const std::vector<std::string>& args, std::size_t& i, LookOptions& options, std::string& error) {
    error.clear();
    const std::string& a = args[i];
    if (a == "--night") {
        options.night = true;
        return true;
    }
    if (a != "--scale") return false;
    if (i + 1 >= args.size()) {
        error = "--scale: expected a percentage, " + UiScaleStepsText();
        return true;
    }
    const std::string& given = args[++i];
    options.scale = ParseUiScale(given);
    if (!options.scale) error = "--scale " + given + ": expected a percentage, " + UiScaleStepsText();
    return true;
}

}  // namespace velq3::ui
