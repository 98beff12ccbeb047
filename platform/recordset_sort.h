#pragma once
// The sort of a record set: reading its sort text and ordering its rows.
#include "platform/hresult.h"
#include "platform/recordset.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SortKey {
    std::size_t column = 0;
    bool descending = false;
};

// Index of the field of that name, ignoring ASCII case; fields.size() when
// there is none.
std::size_t FindField(const std::vector<FieldDef>& fields, std::string_view name);

HRESULT ParseSortText(std::string_view text, const std::vector<FieldDef>& fields, std::vector<SortKey>& keys,
                      std::string& error);

// Row numbers in sorted order (stable). values holds rows * columns values.
std::vector<std::uint32_t> SortRows(const std::vector<Variant>& values, std::size_t columns, std::size_t rows,
                                    const std::vector<SortKey>& keys);
