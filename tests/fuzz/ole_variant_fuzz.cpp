// libFuzzer target of the OLE date and variant conversions: a date's fields build it again, and a value converts to
// each type or is refused with an HRESULT; its text reads back as a value that writes the same text.
#include "platform/ole_date.h"
#include "platform/variant.h"
#include "tests/fuzz/fuzz_util.h"

#include <cmath>
#include <tuple>

namespace {

constexpr std::size_t kMaxTextUnits = 48;
constexpr double kLargestFifteenDigitDouble = 1.79769313486231e308;
constexpr VARTYPE kTargets[] = {VT_EMPTY, VT_NULL, VT_I4,   VT_INT,     VT_UI4,        VT_UINT, VT_I8,
                                VT_R8,    VT_DATE, VT_BSTR, VT_DECIMAL, VT_BYTE_ARRAY, VT_UI1};

auto Fields(const DateFields& f) { return std::tie(f.year, f.month, f.day, f.hour, f.minute, f.second, f.dayOfWeek); }

void Dates(double date, FuzzedDataProvider& input) {
    if (const std::optional<DateFields> fields = OleDateToFields(date)) {
        const std::optional<double> back =
            OleDateFromFields(fields->year, fields->month, fields->day, fields->hour, fields->minute, fields->second);
        Check(back.has_value(), "the fields of a date build a date");
        const std::optional<DateFields> again = OleDateToFields(*back);
        Check(again && Fields(*again) == Fields(*fields) && again->dayOfYear == fields->dayOfYear,
              "a date built from its fields has the same fields");
        Check(FormatOleDate(date).has_value(), "a date with fields can be formatted");
    } else {
        Check(!FormatOleDate(date).has_value(), "a date without fields cannot be formatted");
    }
    if (const std::optional<std::time_t> time = OleDateToTime(date))
        Check(OleDateFromTime(*time).has_value(), "a date's time makes a date");
    int f[6];
    for (int& field : f) field = input.ConsumeIntegral<int>();
    if (const std::optional<double> built = OleDateFromFields(f[0], f[1], f[2], f[3], f[4], f[5])) {
        const std::optional<DateFields> fields = OleDateToFields(*built);
        Check(fields && Fields(*fields) == std::tuple(f[0], f[1], f[2], f[3], f[4], f[5], fields->dayOfWeek),
              "a date built from fields splits into them");
    }
}

// Mostly the characters of numbers, so that conversions succeed.
std::u16string ConsumeText(FuzzedDataProvider& input) {
    return ConsumeUnits(input, kMaxTextUnits,
                        [&] { return u"0123456789.,+-eE \t"[input.ConsumeIntegralInRange(0, 17)]; });
}

// Text -> every type -> text -> the same type again.
void Conversions(const Variant& value, const NumberFormat& format) {
    for (VARTYPE to : kTargets) {
        Variant converted;
        const HRESULT hr = ChangeType(value, to, converted, format);
        if (hr < 0) {
            Check(converted == Variant(), "a failed conversion leaves its output alone");
            continue;
        }
        Check(converted.Type() == to, "a conversion gives the type asked for");
        Variant text;
        if (to == VT_DATE || to == VT_NULL || to == VT_BYTE_ARRAY || ChangeType(converted, VT_BSTR, text, format) < 0)
            continue;
        Variant again;
        const HRESULT back = ChangeType(text, to, again, format);
        // Fifteen digits round the largest doubles up past the range, as the platform's conversions do.
        if (back == DISP_E_OVERFLOW && to == VT_R8 && std::abs(converted.Real()) > kLargestFifteenDigitDouble) continue;
        Check(back >= 0, "a value's text converts back to its type");
        Variant textAgain;
        Check(ChangeType(again, VT_BSTR, textAgain, format) >= 0 && textAgain == text,
              "a value read back from its text gives the same text");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    const double date = input.ConsumeFloatingPoint<double>();
    Dates(date, input);
    const NumberFormat format{input.ConsumeBool() ? u"," : u"."};
    Conversions(Variant::R8(input.ConsumeFloatingPoint<double>()), format);
    Conversions(Variant::I8(input.ConsumeIntegral<std::int64_t>()), format);
    if (const auto decimal =
            Decimal::FromParts(input.ConsumeIntegral<std::uint32_t>(), input.ConsumeIntegral<std::uint64_t>(),
                               input.ConsumeIntegralInRange(0, Decimal::kMaxScale), input.ConsumeBool()))
        Conversions(Variant::Dec(*decimal), format);
    Conversions(Variant::Str(BStr(ConsumeText(input))), format);
    return 0;
}
