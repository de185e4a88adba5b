// The status query "FWAll": a length byte and a block, polled over and over as the window and
// the service do. A block that is refused leaves the kept status as it was.
#include "fuzz/LinkBench.h"

using namespace velq3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::LinkBench bench;
    fuzz::LoadReplies(data, size, '/');
    for (int poll = 0; poll < 16 && !fuzz::RepliesUsedUp(); ++poll) {
        const FWCurrentParameters before = bench.link.Status();
        FWCurrentParameters status = EmptyStatus();
        if (bench.link.GetAll(status)) {
            fuzz::CheckStatus(status);
            FUZZ_CHECK(fuzz::SameStatus(status, bench.link.Status()));
            FUZZ_CHECK(bench.filters.CurrentFilter == status.FilterPos);
        } else {
            FUZZ_CHECK(fuzz::SameStatus(before, bench.link.Status()));
        }
        fuzz::CheckSettings(bench.link);
    }
    return 0;
}
