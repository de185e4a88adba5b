// The connection handshake of the device object: filter, focuser position, status, memory
// size "FWeesize", the memory image "FWreadEE" with the filter list taken from it, and the
// microstep table, all answered from the input.
#include <cstring>

#include "device/OrnFilterWheel.h"
#include "fuzz/Check.h"
#include "fuzz/FakeSerialPort.h"

using namespace velq3;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    OrnFilterWheel fw;
    fw.SetSink([](std::string_view) {});
    fw.m_hPort = fuzz::kFakePort;
    fuzz::LoadReplies(data, size, '/');
    if (fw.Handshake()) {
        FUZZ_CHECK(fw.m_MemorySize >= 0 && fw.m_MemorySize <= kMaxMemorySize);
        FUZZ_CHECK(fw.FilterCount() <= kImageFilterSlots);
        for (const FilterRecord& f : fw.Filters) FUZZ_CHECK(f.Name.size() <= static_cast<std::size_t>(kImageNameLen));
        // The image goes back as it came, in the two halves the controller takes.
        fuzz::LoadReplies(nullptr, 0, '!');
        std::uint8_t image[kMaxMemorySize];
        std::memcpy(image, fw.ImageBytes(), sizeof image);
        FUZZ_CHECK(fw.WriteMemoryImage(false));
        FUZZ_CHECK(std::memcmp(image, fw.ImageBytes(), sizeof image) == 0);
        const std::size_t word = 9;  // "FWwriteEE"
        const std::size_t half = static_cast<std::size_t>(fw.m_MemorySize / 2);
        const std::vector<std::uint8_t>& w = fuzz::Written();
        FUZZ_CHECK(w.size() == 2 * (word + 2) + static_cast<std::size_t>(fw.m_MemorySize));
        FUZZ_CHECK(std::memcmp(w.data() + word + 2, image, half) == 0);
        FUZZ_CHECK(std::memcmp(w.data() + 2 * (word + 2) + half, image + half, fw.m_MemorySize - half) == 0);
    }
    FUZZ_CHECK(fw.AscomPreferredTermometer >= -1 && fw.AscomPreferredTermometer < kSensorCount);
    fw.m_hPort = kNoPort;
    return 0;
}
