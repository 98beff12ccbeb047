// libFuzzer target of the settings hive's text form: text is read or refused with a line number, and a tree read or
// built by the setters comes back from its text unchanged, written again as the same text.
#include "platform/hive_text.h"
#include "tests/fuzz/fuzz_util.h"

#include <vector>

namespace {

constexpr std::size_t kMaxOperations = 64;
constexpr std::size_t kMaxNameUnits = 24;
constexpr std::size_t kMaxDataBytes = 96;

// What the writer puts in the file for one key.
struct KeyImage {
    std::u16string path;
    std::int64_t modified;
    std::vector<std::string> options;
    std::vector<std::pair<std::u16string, RegValue>> values;
    friend bool operator==(const KeyImage&, const KeyImage&) = default;
};

// Keys the file names explicitly; parents known only by their subkeys come back implicitly, with a time of their own.
std::vector<KeyImage> Image(const HiveTree& tree) {
    std::vector<KeyImage> keys;
    for (const auto& key : tree.Keys()) {
        if (key->Entries().empty() && key->Options().empty() && tree.HasSubkeys(*key)) continue;
        KeyImage image{key->Path(), key->Modified(), key->Options(), {}};
        for (const HiveKey::Entry& e : key->Entries()) image.values.emplace_back(e.name, e.value);
        keys.push_back(std::move(image));
    }
    return keys;
}

// Writes the tree, reads it back and checks that nothing changed.
void RoundTrip(const HiveTree& tree) {
    const std::string text = FormatHiveText(tree);
    HiveTree again;
    std::string error;
    Check(ParseHiveText(text, again, error));
    Check(again.Preamble() == tree.Preamble());
    Check(Image(again) == Image(tree));
    for (const auto& key : again.Keys())
        for (const HiveKey::Entry& e : key->Entries()) Check(key->GetValue(e.name) == e.value);
    Check(FormatHiveText(again) == text);
}

// Mostly ASCII, so that names meet again.
std::u16string ConsumeName(FuzzedDataProvider& input) {
    return ConsumeUnits(input, kMaxNameUnits, [&] { return input.ConsumeIntegralInRange<int>(0x20, 0x7E); });
}

void BuildWithSetters(FuzzedDataProvider& input) {
    HiveTree tree;
    for (std::size_t op = 0; op < kMaxOperations && input.remaining_bytes() > 0; ++op) {
        HiveKey* key = tree.OpenKey(ConsumeName(input), true);
        if (!key) continue;
        const std::u16string name = ConsumeName(input);
        const auto data = [&] {
            return input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, kMaxDataBytes));
        };
        switch (input.ConsumeIntegralInRange<int>(0, 4)) {
            case 0: key->SetString(name, ConsumeName(input)); break;
            case 1: key->SetDword(name, input.ConsumeIntegral<std::uint32_t>()); break;
            case 2: key->SetBinary(name, data()); break;
            case 3: key->SetValue(name, RegValue{input.ConsumeIntegral<std::uint32_t>(), data()}); break;
            default: key->DeleteValue(name); break;
        }
    }
    RoundTrip(tree);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    HiveTree tree;
    std::string error;
    if (ParseHiveText(text, tree, error)) {
        RoundTrip(tree);
    } else {
        Check(error.starts_with("line "));
        if (!text.starts_with('W')) {
            FuzzedDataProvider input(data, size);
            BuildWithSetters(input);
        }
    }
    return 0;
}
