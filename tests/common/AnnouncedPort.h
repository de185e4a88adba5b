// Reading what a started velq3 printed: a whole file, and the Alpaca port it announced.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace velq3::test {

inline std::string FileText(const std::string& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The port of the complete "velq3: Alpaca on 127.0.0.1:PORT" line in `outFile`, or 0.
inline std::uint16_t AnnouncedAlpacaPort(const std::string& outFile) {
    const std::string out = FileText(outFile);
    const std::string prefix = "velq3: Alpaca on 127.0.0.1:";
    const auto at = out.find(prefix);
    if (at == std::string::npos || out.find('\n', at) == std::string::npos) return 0;
    return static_cast<std::uint16_t>(std::stoi(out.substr(at + prefix.size())));
}

}  // namespace velq3::test
