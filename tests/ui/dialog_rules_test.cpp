// The settings dialogs' behaviour cases that need no toolkit, run against every layer: OK and
// Cancel writing or not writing the memory image, refused entries keeping the dialog open.
#include "DialogLayers.h"
#include "ui/DataExchange.h"
#include "ui/FilterWheelSettingsTemplate.h"
#include "ui/FocuserSettingsTemplate.h"
#include "ui/HeaterControlTemplate.h"

namespace velq3::test {
namespace {

namespace wid = ui::wheel_settings_id;
namespace fid = ui::focuser_settings_id;
namespace h = ui::idc::heater;

TEST_P(DialogRulesTest, OkWritesTheEditedImageToTheController) {
    const struct {
        DialogKind kind;
        int id;
        const char* typed;
        int ok;
    } cases[] = {{DialogKind::WheelSettings, wid::kMaxSteps, "1234", wid::kOk},
                 {DialogKind::FocuserSettings, fid::kBacklash, "300", fid::kOk},
                 {DialogKind::Heater, h::kOffset0 + 2, "1.25", h::kOK}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const auto before = ImageCopy();
        auto d = Open(c.kind);
        d->Type(c.id, c.typed);
        d->Click(c.ok);
        EXPECT_EQ(d->Ended(), ui::kIdOk);
        EXPECT_TRUE(d->Messages().empty());
        EXPECT_NE(ImageCopy(), before);
        EXPECT_EQ(DeviceMemory(), ImageAsDevice());
    }
    EXPECT_EQ(device->MaxSteps, 1234);
    EXPECT_EQ(device->FocuserBacklash, 300);
    EXPECT_EQ(device->TermOffset[2], 125);
}

TEST_P(DialogRulesTest, WheelSettingsRefusedNumberKeepsTheDialogOpenAndWritesNothing) {
    auto d = Open(DialogKind::WheelSettings);
    const auto memory = DeviceMemory();
    const auto image = ImageCopy();
    for (const char* bad : {"12a", "-5", ""}) {
        SCOPED_TRACE(bad);
        const size_t shown = d->Messages().size();
        d->Type(wid::kSpeed, bad);
        d->Click(wid::kOk);
        EXPECT_FALSE(d->Ended().has_value());
        ASSERT_EQ(d->Messages().size(), shown + 1);
        EXPECT_EQ(d->Messages().back(), ui::kPromptUnsigned);
    }
    // The mode-change step stops at the refusal too: the label stays.
    d->Click(wid::kRotatorMode);
    EXPECT_EQ(d->Text(wid::kMaxStepsLabel), "Max Steps\nto change Filter");
    EXPECT_EQ(DeviceMemory(), memory);
    EXPECT_EQ(ImageCopy(), image);
}

TEST_P(DialogRulesTest, WheelSettingsCancelChangesNothing) {
    const auto memory = DeviceMemory();
    const auto image = ImageCopy();
    auto d = Open(DialogKind::WheelSettings);
    d->Click(wid::kCoverMode);
    d->Type(wid::kSpeed, "900");
    d->Type(wid::kMaxSteps, "77");
    d->Step(wid::kIdleCurrentSpin, true);
    d->Click(wid::kCancel);
    EXPECT_EQ(d->Ended(), ui::kIdCancel);
    EXPECT_EQ(DeviceMemory(), memory);
    EXPECT_EQ(ImageCopy(), image);
    EXPECT_TRUE(device->IsOpen());
}

TEST_P(DialogRulesTest, FocuserSettingsRefusedEntriesKeepTheDialogOpenAndChangeNothing) {
    auto d = Open(DialogKind::FocuserSettings);
    const auto memory = DeviceMemory();
    const auto image = ImageCopy();
    const struct {
        int id;
        const char* text;
        const char* prompt;
    } cases[] = {{fid::kBacklash, "-1", ui::kPromptUnsigned},
                 {fid::kCoefficient, "nan", ui::kPromptDecimal},
                 {fid::kCoefficient, "1e40", ui::kPromptDecimal},  // beyond a float
                 {fid::kStepLen, "", ui::kPromptDecimal},
                 {fid::kMaxFocusPos, "5x", ui::kPromptSigned}};
    // Valid entries beside the refused one are not taken either.
    d->Type(fid::kStepLen, "7.5");
    d->Type(fid::kFocusShift, "-1");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string good = d->Text(c.id);
        d->Type(c.id, c.text);
        const size_t shown = d->Messages().size();
        d->Click(fid::kOk);
        EXPECT_FALSE(d->Ended().has_value());
        ASSERT_EQ(d->Messages().size(), shown + 1);
        EXPECT_EQ(d->Messages().back(), c.prompt);
        d->Type(c.id, good);
    }
    // Nothing of a refused transfer reached the device object or the controller.
    EXPECT_EQ(device->StepLenInMicrons, 10.0);
    EXPECT_EQ(device->AscomFocusShift, 10000);
    EXPECT_EQ(ImageCopy(), image);
    EXPECT_EQ(DeviceMemory(), memory);
}

TEST_P(DialogRulesTest, FocuserSettingsCancelChangesNothing) {
    const auto memory = DeviceMemory();
    const auto image = ImageCopy();
    auto d = Open(DialogKind::FocuserSettings);
    d->Type(fid::kBacklash, "999");
    d->Type(fid::kStepLen, "3.5");
    d->Step(fid::kIdleCurrentSpin, true);
    d->Click(fid::kCancel);
    EXPECT_EQ(d->Ended(), ui::kIdCancel);
    EXPECT_EQ(device->StepLenInMicrons, 10.0);
    EXPECT_EQ(ImageCopy(), image);
    EXPECT_EQ(DeviceMemory(), memory);
}

TEST_P(DialogRulesTest, HeaterResetButtonsAndCancel) {
    for (int i = 0; i < 4; ++i) {
        device->TermOffset[i] = static_cast<std::int16_t>(10 * (i + 1));
        device->TermSteep[i] = static_cast<std::int16_t>(900 + i);
    }
    const auto memory = DeviceMemory();
    auto d = Open(DialogKind::Heater);
    EXPECT_EQ(d->Text(h::kOffset0 + 1), "0.2");
    EXPECT_EQ(d->Text(h::kSteep0 + 3), "0.903");
    d->Type(h::kSetValue, "7.5");
    d->Click(h::kResetOffsets);
    d->Click(h::kResetSteep);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(device->TermOffset[i], 0);
        EXPECT_EQ(device->TermSteep[i], 1000);
        EXPECT_EQ(d->Text(h::kOffset0 + i), "0");
        EXPECT_EQ(d->Text(h::kSteep0 + i), "1");
    }
    EXPECT_EQ(d->Text(h::kSetValue), "7.5");  // typed text elsewhere is kept
    d->Click(h::kCancel);
    EXPECT_EQ(d->Ended(), ui::kIdCancel);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(device->TermOffset[i], 10 * (i + 1));
        EXPECT_EQ(device->TermSteep[i], 900 + i);
    }
    EXPECT_EQ(DeviceMemory(), memory);  // the controller's own memory was never written
}

}  // namespace
}  // namespace velq3::test
