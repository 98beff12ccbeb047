#pragma once
// What the fuzz targets share: a failed check aborts, which libFuzzer reports with the input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline void Check(bool condition, const char* what = "") {
    if (!condition) std::fprintf(stderr, "failed: %s\n", what), std::abort();
}

// Up to `most` UTF-16 units, half of them from `common()` so that inputs often take the shapes the code reads.
template <class Common>
std::u16string ConsumeUnits(FuzzedDataProvider& input, std::size_t most, Common common) {
    std::u16string text(input.ConsumeIntegralInRange<std::size_t>(0, most), u'\0');
    for (char16_t& c : text)
        c = input.ConsumeBool() ? static_cast<char16_t>(common()) : input.ConsumeIntegral<char16_t>();
    return text;
}
