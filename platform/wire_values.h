#pragma once
// Turns the service's streamed answer (header, then row batches) into a
// Recordset. Every value is checked against its tag: a malformed answer is
// refused with a description, never trusted.
#include "platform/hresult.h"
#include "platform/recordset.h"

#include <memory>
#include <string>
#include <vector>

namespace quorvis::v1 {
class ResultHeader;
class Row;
class Value;
}  // namespace quorvis::v1

HRESULT DecodeWireValue(const quorvis::v1::Value& value, Variant& out, std::string& error);

// Collects one answer. Start with the header; then add each batch's rows.
class WireAnswerBuilder {
public:
    // The header's own status is returned as is; fields are taken on success.
    HRESULT Start(const quorvis::v1::ResultHeader& header, std::string& description);
    HRESULT AddRow(const quorvis::v1::Row& row, std::string& error);
    std::unique_ptr<Recordset> Finish() { return std::move(recordset_); }

private:
    std::vector<FieldDef> fields_;
    std::unique_ptr<Recordset> recordset_;
};
