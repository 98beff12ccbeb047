#include "qvservice/query/result_cursor.h"

#include "proto/qv_contract.h"

namespace qv::server {

void AddInt32(quorvis::v1::Row& row, std::int64_t value) {
    auto* cell = row.add_values();
    cell->set_tag(contract::kTagInt32);
    cell->set_integer(value);
}

void AddInt64(quorvis::v1::Row& row, std::int64_t value) {
    auto* cell = row.add_values();
    cell->set_tag(contract::kTagInt64);
    cell->set_integer(value);
}

void AddDouble(quorvis::v1::Row& row, double value) {
    auto* cell = row.add_values();
    cell->set_tag(contract::kTagDouble);
    cell->set_real(value);
}

void AddText(quorvis::v1::Row& row, std::string_view bytes) {
    auto* cell = row.add_values();
    cell->set_tag(contract::kTagText);
    cell->set_bytes(bytes.data(), bytes.size());
}

void AddBytesOrNull(quorvis::v1::Row& row, std::string_view bytes, bool isNull) {
    auto* cell = row.add_values();
    if (isNull) {
        cell->set_tag(contract::kTagNull);
        return;
    }
    cell->set_tag(contract::kTagByteArray);
    cell->set_bytes(bytes.data(), bytes.size());
}

}  // namespace qv::server
