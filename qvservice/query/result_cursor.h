// A result set as the service produces it: a field list, then rows read one
// at a time from the store, so that answers of any size stream through.
#pragma once

#include "proto/quorvis.pb.h"

#include <memory>
#include <span>
#include <string_view>

namespace qv::server {

struct FieldSpec {
    std::string_view name;
    int adoType;
    int definedSize;
};

class ResultCursor {
public:
    virtual ~ResultCursor() = default;
    virtual std::span<const FieldSpec> Fields() const = 0;
    // Fills the next row; false after the last. Throws StoreError.
    virtual bool Next(quorvis::v1::Row& row) = 0;
};

// Value builders for rows.
void AddInt32(quorvis::v1::Row& row, std::int64_t value);
void AddInt64(quorvis::v1::Row& row, std::int64_t value);
void AddDouble(quorvis::v1::Row& row, double value);
void AddText(quorvis::v1::Row& row, std::string_view bytes);
void AddBytesOrNull(quorvis::v1::Row& row, std::string_view bytes, bool isNull);

}  // namespace qv::server
