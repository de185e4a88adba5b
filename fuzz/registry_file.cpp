// The registry-file parser, on hive files made of the input. A file that loads must give text
// that loads to the same contents, and a save that adds a value must keep everything else.
#include "fuzz/Check.h"
#include "fuzz/TempDir.h"
#include "platform/Clock.h"
#include "platform/Registry.h"

using namespace velq3;

namespace {
fuzz::ScratchCleanup cleanup;
const FixedCalendarClock clock(1700000000);

HiveOptions Quiet() {
    HiveOptions options;
    options.diagnostics = [](std::string_view) {};
    options.clock = &clock;
    return options;
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto file = fuzz::ScratchDir() / "user.reg";
    const auto copy = fuzz::ScratchDir() / "copy.reg";
    fuzz::WriteFile(file, data, size);
    RegistryHive hive(file, kCurrentUserRoot, Quiet());
    if (hive.Load() == RegistryHive::LoadResult::Loaded) {
        const std::string text = hive.ToText();
        fuzz::WriteFile(copy, text.data(), text.size());
        RegistryHive reread(copy, kCurrentUserRoot, Quiet());
        FUZZ_CHECK(reread.Load() == RegistryHive::LoadResult::Loaded);
        FUZZ_CHECK(reread.ToText() == text);

        FUZZ_CHECK(hive.SetDword("Software\\velq3", "Fuzz", 0x1234));
        FUZZ_CHECK(hive.Save());
        RegistryHive saved(file, kCurrentUserRoot, Quiet());
        FUZZ_CHECK(saved.Load() == RegistryHive::LoadResult::Loaded);
        FUZZ_CHECK(saved.GetDword("Software\\velq3", "Fuzz") == 0x1234u);
        FUZZ_CHECK(saved.ToText() == hive.ToText());
    }
    fuzz::ClearScratch();
    return 0;
}
