// The settings-file loader of the device object, on files made of the input. A file that loads
// is saved again; that copy must load with the same filter time-out, and save to the same bytes.
#include "device/OrnFilterWheel.h"
#include "fuzz/Check.h"
#include "fuzz/TempDir.h"

using namespace velq3;

namespace {
fuzz::ScratchCleanup cleanup;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto file = fuzz::ScratchDir() / "input.fws2";
    const auto saved = fuzz::ScratchDir() / "saved.fws2";
    const auto again = fuzz::ScratchDir() / "again.fws2";
    fuzz::WriteFile(file, data, size);
    OrnFilterWheel fw;
    fw.SetSink([](std::string_view) {});
    if (!fw.LoadSettingsFile(file.string())) return 0;
    fw.SaveSettingsFile(saved.string());
    OrnFilterWheel copy;
    copy.SetSink([](std::string_view) {});
    FUZZ_CHECK(copy.LoadSettingsFile(saved.string()));
    FUZZ_CHECK(copy.ChangeFilterTimeoutMs == fw.ChangeFilterTimeoutMs);
    copy.SaveSettingsFile(again.string());
    FUZZ_CHECK(fuzz::ReadFile(saved) == fuzz::ReadFile(again));
    return 0;
}
