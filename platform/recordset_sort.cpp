#include "platform/recordset_sort.h"

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <cwctype>
#include <numeric>
#include <string_view>
#include <unordered_map>

namespace {

char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

long double NumberOf(const Variant& v) {
    switch (v.Type()) {
        case VT_R8:
        case VT_DATE: return v.Real();
        case VT_DECIMAL: return v.DecimalValue().ToDouble();
        default: return static_cast<long double>(v.Integer());  // exact for every 64-bit integer
    }
}

bool BytesLess(const std::vector<std::uint8_t>& x, const std::vector<std::uint8_t>& y) {
    return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
}

// Gives each row of one column a dense rank in ascending order: empty and
// null first, then NaN (which compares with nothing), numbers by value,
// text by the locale ignoring case, byte arrays. Equal values share a rank,
// so the final sort compares small integers and each costly comparison
// (wcscoll) is made between distinct texts only.
class ColumnRanker {
public:
    ColumnRanker(const std::vector<Variant>& values, std::size_t columns, std::size_t column)
        : values_(values), columns_(columns), column_(column) {}

    std::vector<std::uint32_t> Run(std::size_t rows) {
        ranks_.resize(rows);
        std::vector<std::uint32_t> nothing, notANumber, texts, bytes;
        std::vector<std::pair<long double, std::uint32_t>> numbers;
        std::vector<std::size_t> textAt(rows);
        for (std::uint32_t r = 0; r < rows; ++r) {
            const Variant& v = At(r);
            if (v.IsEmptyOrNull()) {
                nothing.push_back(r);
            } else if (v.Type() == VT_BSTR) {
                textAt[r] = text_.size();
                for (wchar_t ch : v.Text().ToWide())
                    text_.push_back(static_cast<wchar_t>(std::towlower(static_cast<wint_t>(ch))));
                text_.push_back(L'\0');
                texts.push_back(r);
            } else if (v.Type() == VT_BYTE_ARRAY) {
                bytes.push_back(r);
            } else if (long double n = NumberOf(v); std::isnan(n)) {
                notANumber.push_back(r);
            } else {
                numbers.emplace_back(n, r);
            }
        }
        Assign(nothing, [](auto, auto) { return false; });
        Assign(notANumber, [](auto, auto) { return false; });
        std::sort(numbers.begin(), numbers.end());
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            if (i == 0 || numbers[i - 1].first < numbers[i].first) ++next_;
            ranks_[numbers[i].second] = next_ - 1;
        }
        RankTexts(texts, textAt);
        auto bytesLess = [&](std::uint32_t a, std::uint32_t b) {
            return BytesLess(At(a).ByteArray(), At(b).ByteArray());
        };
        std::sort(bytes.begin(), bytes.end(), bytesLess);
        Assign(bytes, bytesLess);
        return std::move(ranks_);
    }

private:
    const Variant& At(std::uint32_t row) const { return values_[row * columns_ + column_]; }

    // Ranks rows already in order; a row that is not after the one before
    // it shares its rank.
    template <class Less>
    void Assign(const std::vector<std::uint32_t>& sorted, Less less) {
        for (std::size_t i = 0; i < sorted.size(); ++i) {
            if (i == 0 || less(sorted[i - 1], sorted[i])) ++next_;
            ranks_[sorted[i]] = next_ - 1;
        }
    }

    void RankTexts(const std::vector<std::uint32_t>& rows, const std::vector<std::size_t>& textAt) {
        const wchar_t* text = text_.c_str();
        auto str = [&](std::uint32_t r) { return text + textAt[r]; };
        // Identical texts form one group; only one text of each group is collated.
        std::unordered_map<std::wstring_view, std::uint32_t> groups;
        groups.reserve(rows.size());
        std::vector<std::uint32_t> groupOf(rows.size());
        std::vector<std::uint32_t> firsts;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            auto [it, added] = groups.try_emplace(std::wstring_view(str(rows[i])), firsts.size());
            if (added) firsts.push_back(rows[i]);
            groupOf[i] = it->second;
        }
        std::vector<std::uint32_t> byText(firsts.size());
        std::iota(byText.begin(), byText.end(), 0u);
        auto collate = [&](std::uint32_t a, std::uint32_t b) {
            return std::wcscoll(str(firsts[a]), str(firsts[b])) < 0;
        };
        std::sort(byText.begin(), byText.end(), collate);
        std::vector<std::uint32_t> groupRank(firsts.size());
        for (std::size_t i = 0; i < byText.size(); ++i) {
            if (i == 0 || collate(byText[i - 1], byText[i])) ++next_;
            groupRank[byText[i]] = next_ - 1;
        }
        for (std::size_t i = 0; i < rows.size(); ++i) ranks_[rows[i]] = groupRank[groupOf[i]];
    }

    const std::vector<Variant>& values_;
    std::size_t columns_;
    std::size_t column_;
    std::vector<std::uint32_t> ranks_;
    std::uint32_t next_ = 0;
    std::wstring text_;  // case-folded, null-terminated texts
};

}  // namespace

std::size_t FindField(const std::vector<FieldDef>& fields, std::string_view name) {
    auto it = std::find_if(fields.begin(), fields.end(), [&](const FieldDef& f) { return EqualNoCase(f.name, name); });
    return static_cast<std::size_t>(it - fields.begin());
}

HRESULT ParseSortText(std::string_view text, const std::vector<FieldDef>& fields, std::vector<SortKey>& keys,
                      std::string& error) {
    keys.clear();
    const std::string_view whole = text;
    if (Trim(text).empty()) return S_OK;
    while (true) {
        std::size_t comma = text.find(',');
        std::string_view part = Trim(text.substr(0, comma));
        SortKey key;
        std::size_t blank = part.find_last_of(" \t");
        if (blank != std::string_view::npos) {
            std::string_view word = part.substr(blank + 1);
            if (EqualNoCase(word, "asc") || EqualNoCase(word, "desc")) {
                key.descending = EqualNoCase(word, "desc");
                part = Trim(part.substr(0, blank));
            }
        }
        if (part.size() >= 2 && part.front() == '[' && part.back() == ']') part = part.substr(1, part.size() - 2);
        if (part.empty()) {
            error = "The sort text \"" + std::string(whole) + "\" has a key without a field name.";
            return ADO_E_INVALID_ARGUMENT;
        }
        key.column = FindField(fields, part);
        if (key.column == fields.size()) {
            error = "The sort field \"" + std::string(part) + "\" is not in the record set.";
            return ADO_E_ITEM_NOT_FOUND;
        }
        keys.push_back(key);
        if (comma == std::string_view::npos) return S_OK;
        text.remove_prefix(comma + 1);
    }
}

std::vector<std::uint32_t> SortRows(const std::vector<Variant>& values, std::size_t columns, std::size_t rows,
                                    const std::vector<SortKey>& keys) {
    std::vector<std::uint32_t> order(rows);
    std::iota(order.begin(), order.end(), 0u);
    // Least significant key first; each pass is a stable counting sort, so
    // the earlier keys decide and ties keep the order of arrival.
    std::vector<std::uint32_t> next(rows);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
        std::vector<std::uint32_t> ranks = ColumnRanker(values, columns, key->column).Run(rows);
        std::uint32_t top = ranks.empty() ? 0 : *std::max_element(ranks.begin(), ranks.end());
        if (key->descending)
            for (std::uint32_t& r : ranks) r = top - r;
        std::vector<std::size_t> start(static_cast<std::size_t>(top) + 2, 0);
        for (std::uint32_t r : ranks) ++start[r + 1];
        std::partial_sum(start.begin(), start.end(), start.begin());
        for (std::uint32_t row : order) next[start[ranks[row]]++] = row;
        order.swap(next);
    }
    return order;
}
