// Identifiers, result codes, variants and their conversions, strings and arrays, and the
// per-thread error information.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "automation/ErrorInfo.h"
#include "automation/Guid.h"
#include "automation/Variant.h"

namespace velq3 {
namespace {

TEST(GuidTest, ParsesAndFormatsTheRegistryForm) {
    const auto g = ParseGuid("{181202a3-A1F3-4287-9d85-A166A769E015}");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->Data1, 0x181202A3u);
    EXPECT_EQ(g->Data2, 0xA1F3);
    EXPECT_EQ(g->Data3, 0x4287);
    EXPECT_EQ(g->Data4[0], 0x9D);
    EXPECT_EQ(g->Data4[7], 0x15);
    EXPECT_EQ(FormatGuid(*g), "{181202A3-A1F3-4287-9D85-A166A769E015}");
    EXPECT_EQ(FormatGuid(IID_IDispatch), "{00020400-0000-0000-C000-000000000046}");
    EXPECT_EQ(ParseGuid(FormatGuid(IID_ISupportErrorInfo)), IID_ISupportErrorInfo);
}

TEST(GuidTest, RefusesMalformedText) {
    for (const char* bad : {"", "181202A3-A1F3-4287-9D85-A166A769E015", "{181202A3-A1F3-4287-9D85-A166A769E01}",
                            "{181202A3-A1F3-4287-9D85-A166A769E0155}", "{181202A3+A1F3-4287-9D85-A166A769E015}",
                            "{181202A3-A1F3-4287-9D85-A166A769E01G}", "(181202A3-A1F3-4287-9D85-A166A769E015)"})
        EXPECT_FALSE(ParseGuid(bad)) << bad;
}

TEST(GuidTest, ComparesByValueInOrder) {
    const Guid a = GuidLiteral("{00000000-0000-0000-0000-000000000001}");
    const Guid b = GuidLiteral("{00000000-0000-0000-0000-000000000002}");
    const Guid c = GuidLiteral("{00000001-0000-0000-0000-000000000000}");
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    EXPECT_NE(a, b);
    EXPECT_EQ(IID_NULL, Guid{});
    EXPECT_NE(IID_IUnknown, IID_NULL);
}

Variant Convert(const Variant& in, VARTYPE to, HRESULT expected = S_OK) {
    Variant out(std::int32_t{-77});
    EXPECT_EQ(ChangeType(in, to, out), expected) << VarTypeName(in.vt()) << " -> " << VarTypeName(to);
    return out;
}

TEST(VariantTest, NumbersConvertWithBankersRoundingAndRangeChecks) {
    EXPECT_EQ(Convert(2.5, VT_I4), Variant(std::int32_t{2}));
    EXPECT_EQ(Convert(3.5, VT_I4), Variant(std::int32_t{4}));
    EXPECT_EQ(Convert(-2.5f, VT_I2), Variant(std::int16_t{-2}));
    EXPECT_EQ(Convert(std::int32_t{-32768}, VT_I2), Variant(std::int16_t{-32768}));
    EXPECT_EQ(Convert(std::int16_t{7}, VT_R4), Variant(7.0f));
    EXPECT_EQ(Convert(std::uint8_t{200}, VT_I4), Variant(std::int32_t{200}));
    EXPECT_EQ(Convert(2147483647.0, VT_I4), Variant(std::int32_t{2147483647}));

    // Out of range: the target is left as it was.
    Variant out(std::int32_t{-77});
    EXPECT_EQ(ChangeType(Variant(std::int32_t{70000}), VT_I2, out), DISP_E_OVERFLOW);
    EXPECT_EQ(out, Variant(std::int32_t{-77}));
    Convert(2147483648.0, VT_I4, DISP_E_OVERFLOW);
    Convert(std::int32_t{-1}, VT_UI4, DISP_E_OVERFLOW);
    Convert(1e300, VT_R4, DISP_E_OVERFLOW);
    Convert(std::numeric_limits<double>::quiet_NaN(), VT_I4, DISP_E_OVERFLOW);
}

TEST(VariantTest, BooleansAreMinusOneAndZero) {
    EXPECT_EQ(Convert(std::int32_t{5}, VT_BOOL), Variant(VARIANT_TRUE));
    EXPECT_EQ(Convert(0.0, VT_BOOL), Variant(VARIANT_FALSE));
    EXPECT_EQ(Convert(VARIANT_TRUE, VT_I4), Variant(std::int32_t{-1}));
    // A raw boolean value passes unchanged when no conversion is needed.
    EXPECT_EQ(Convert(VariantBool(1), VT_BOOL), Variant(VariantBool(1)));
    EXPECT_EQ(Convert(Bstr(" true "), VT_BOOL), Variant(VARIANT_TRUE));
    EXPECT_EQ(Convert(Bstr("False"), VT_BOOL), Variant(VARIANT_FALSE));
    EXPECT_EQ(Convert(Bstr("2"), VT_BOOL), Variant(VARIANT_TRUE));
    EXPECT_EQ(Convert(VARIANT_FALSE, VT_BSTR), Variant(Bstr("False")));
}

TEST(VariantTest, TextConvertsToAndFromNumbers) {
    EXPECT_EQ(Convert(Bstr(" 10500 "), VT_I4), Variant(std::int32_t{10500}));
    EXPECT_EQ(Convert(Bstr("+45.5"), VT_R4), Variant(45.5f));
    EXPECT_EQ(Convert(Bstr("-1e2"), VT_R8), Variant(-100.0));
    EXPECT_EQ(Convert(std::int32_t{-27}, VT_BSTR), Variant(Bstr("-27")));
    EXPECT_EQ(Convert(0.1, VT_BSTR), Variant(Bstr("0.1")));
    Convert(Bstr("ten"), VT_I4, DISP_E_TYPEMISMATCH);
    Convert(Bstr(""), VT_I4, DISP_E_TYPEMISMATCH);
    Convert(Bstr("1.5x"), VT_R8, DISP_E_TYPEMISMATCH);
    Convert(Bstr("99999"), VT_I2, DISP_E_OVERFLOW);
}

TEST(VariantTest, EmptyNullErrorAndArrays) {
    EXPECT_EQ(Convert(Variant(), VT_I4), Variant(std::int32_t{0}));
    EXPECT_EQ(Convert(Variant(), VT_BSTR), Variant(Bstr("")));
    Convert(Variant(NullValue{}), VT_I4, DISP_E_TYPEMISMATCH);
    Convert(Variant::Missing(), VT_I4, DISP_E_TYPEMISMATCH);
    Convert(Variant(SafeArray<Bstr>()), VT_I4, DISP_E_TYPEMISMATCH);
    Convert(Variant(std::int32_t{1}), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH);
    Convert(Variant(SafeArray<Bstr>()), VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH);
    Convert(Variant(std::int32_t{1}), 0x4242, DISP_E_BADVARTYPE);
    const Variant names(SafeArray<Bstr>({Bstr("L"), Bstr("R")}));
    EXPECT_EQ(Convert(names, VT_ARRAY | VT_BSTR), names);
    EXPECT_EQ(names.vt(), VT_ARRAY | VT_BSTR);
}

TEST(SafeArrayTest, OneDimensionFromZero) {
    SafeArray<std::int32_t> a({5, 6, 7});
    EXPECT_EQ(a.Dims(), 1u);
    EXPECT_EQ(a.LBound(), 0);
    EXPECT_EQ(a.UBound(), 2);
    std::int32_t v = 0;
    EXPECT_EQ(a.GetElement(2, v), S_OK);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(a.GetElement(3, v), DISP_E_BADINDEX);
    EXPECT_EQ(a.GetElement(-1, v), DISP_E_BADINDEX);
    EXPECT_EQ(a.PutElement(3, 1), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArray<Bstr>().UBound(), -1);

    // A copy is a separate array.
    SafeArray<std::int32_t> b = a;
    ASSERT_EQ(b.PutElement(0, 99), S_OK);
    EXPECT_EQ(a.Elements()[0], 5);
    EXPECT_NE(a.data(), b.data());
}

TEST(BstrTest, DeviceTextBecomesValidUtf8) {
    EXPECT_EQ(Bstr::FromDeviceText("OIII"), "OIII");
    EXPECT_EQ(Bstr::FromDeviceText(std::string("Ha\0junk", 7)), "Ha");
    EXPECT_EQ(Bstr::FromDeviceText("H\xCE\xB1"), "H\xCE\xB1");          // UTF-8 alpha kept
    EXPECT_EQ(Bstr::FromDeviceText("5\xB0" "C"), "5\xC2\xB0" "C");     // 1252 degree sign
    EXPECT_EQ(Bstr::FromDeviceText("\x80"), "\xE2\x82\xAC");            // 1252 euro sign
    EXPECT_EQ(Bstr::FromDeviceText("\xCE"), "\xC3\x8E");                // cut sequence: a 1252 letter
    EXPECT_EQ(Bstr::FromDeviceText("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // surrogate refused
}

TEST(ErrorInfoTest, TakenOnceAndKeptPerThread) {
    EXPECT_EQ(ReportError(IID_IDispatch, "Src", "Broken", E_FAIL), E_FAIL);
    std::thread([] { EXPECT_FALSE(GetErrorInfo()); }).join();
    const auto info = GetErrorInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->description, "Broken");
    EXPECT_EQ(info->source, "Src");
    EXPECT_EQ(info->iid, IID_IDispatch);
    EXPECT_FALSE(GetErrorInfo());
}

} // namespace
} // namespace velq3
