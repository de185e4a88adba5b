// Recognition of the registration and embedding switches.
#include "server/CommandLine.h"

#include <algorithm>
#include <cctype>

namespace velq3 {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsEmbeddingSwitch(const std::string& argument) {
    if (argument.size() < 2 || (argument[0] != '-' && argument[0] != '/')) return false;
    const std::string word = Lower(argument.substr(1));
    return word == "embedding" || word == "automation";
}

} // namespace

CommandLineInfo ParseCommandLine(std::span<const std::string> arguments) {
    CommandLineInfo info;
    std::string line;
    for (const std::string& a : arguments) {
        if (!line.empty()) line += ' ';
        line += a;
        info.embedding = info.embedding || IsEmbeddingSwitch(a);
    }
    info.copy = Lower(line.substr(0, kCommandLineCopyLength));
    info.registerServer = info.copy.find("/regserver") != std::string::npos;
    info.unregisterServer = !info.registerServer && info.copy.find("/unregserver") != std::string::npos;
    return info;
}

} // namespace velq3
