// The microstep queries: "FWubStep" (increment and resolution) and the table "FWzm" (a length
// byte and that many bytes). A table that was read goes back unchanged with "FWym".
#include "fuzz/LinkBench.h"
#include "link/WireFormat.h"

using namespace velq3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::LinkBench bench;
    fuzz::LoadReplies(data, size, '!');
    CDeviceLink& link = bench.link;
    int increment = 0, resolution = 0;
    if (link.GetMicrostep(increment, resolution)) {
        FUZZ_CHECK(increment >= 0 && increment <= 255 && resolution >= 0 && resolution <= 255);
    }
    for (int round = 0; round < 4 && !fuzz::RepliesUsedUp(); ++round) {
        const bool read = link.ReadMicrostepTable();
        FUZZ_CHECK(link.m_MicrostepTableLen >= -1 && link.m_MicrostepTableLen <= wire::kMicrostepTableSize);
        if (!read) continue;
        const std::vector<std::uint8_t> table(link.m_MicrostepTable, link.m_MicrostepTable + link.m_MicrostepTableLen);
        const std::size_t mark = fuzz::Written().size();
        (void)link.WriteMicrostepTable();
        // The command word, then exactly the table that was read.
        const std::vector<std::uint8_t>& written = fuzz::Written();
        const std::size_t word = wire::kWriteTable.size();
        FUZZ_CHECK(written.size() == mark + word + table.size());
        FUZZ_CHECK(std::equal(table.begin(), table.end(), written.begin() + static_cast<long>(mark + word)));
    }
    return 0;
}
