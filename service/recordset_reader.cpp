#include "service/recordset_reader.h"

#include "foundation/debug_stream.h"
#include "foundation/exceptions.h"
#include "foundation/text_conv.h"
#include "platform/ole_date.h"
#include "platform/utf.h"
#include "service/data_access_error.h"

namespace {

constexpr std::size_t kLongStringLength = 128;

bool TraceWanted() { return TraceStream.WriterCount() > 0 && TraceStream.Categories().test(kRecordsetTraceCategory); }

// The locale's narrow text; UTF-8 when the locale cannot hold it, so that a
// trace never fails the read it describes.
std::string Narrow(const BStr& text) {
    try {
        return BStrToAnsi(text);
    } catch (const ESystemException&) {
        return Utf16ToUtf8(text.Text());
    }
}

std::string ValueAsText(const Variant& value) {
    Variant text;
    CheckStatus(ChangeType(value, VT_BSTR, text));
    return Narrow(text.Text());
}

std::string Blob(const Field& field) {
    std::int64_t size = 0;
    CheckStatus(field.GetActualSize(size));
    return "<blob " + std::to_string(size) + " bytes long>";
}

std::string TraceValue(const Field& field) {
    if (field.Type() == adLongVarBinary) return Blob(field);
    Variant value;
    CheckStatus(field.GetValue(value));
    switch (value.Type()) {
        case VT_EMPTY:
        case VT_NULL: return "<null>";
        case VT_I4:
        case VT_R8:
        case VT_DECIMAL:
        case VT_I8:
        case VT_INT: return ValueAsText(value);
        case VT_DATE: {
            auto formatted = FormatOleDate(value.Real());
            if (formatted) return "'" + *formatted + "'";
            return "invalid time(" + ValueAsText(Variant::R8(value.Real())) + ")";
        }
        case VT_BSTR:
            if (value.Text().Length() > kLongStringLength) return "<long string>";
            return "'" + Narrow(value.Text()) + "'";
        case VT_ARRAY | VT_UI1: return Blob(field);
        default: return "unknown vt=#" + std::to_string(value.Type());
    }
}

}  // namespace

RecordsetReader::RecordsetReader(RecordsetPtr recordset)
    : recordset_(std::move(recordset)), trace_(TraceStream.WriterCount() > 0) {
    if (trace_ && TraceWanted()) TraceCurrentRow();
}

Recordset& RecordsetReader::Checked() const {
    if (!recordset_) throw DataAccessError(E_POINTER, "no result set");
    return *recordset_;
}

void RecordsetReader::SetSort(std::string_view sort) {
    Recordset& recordset = Checked();
    CheckStatus(recordset.SetSort(sort), recordset.ErrorDescription());
}

Field RecordsetReader::GetField(std::string_view name) const {
    Recordset& recordset = Checked();
    Field field;
    CheckStatus(recordset.GetField(name, field), recordset.ErrorDescription());
    return field;
}

bool RecordsetReader::IsEOF() const { return Checked().IsEOF(); }

void RecordsetReader::MoveNext() {
    Recordset& recordset = Checked();
    CheckStatus(recordset.MoveNext(), recordset.ErrorDescription());
    if (trace_ && TraceWanted()) TraceCurrentRow();
}

void RecordsetReader::TraceCurrentRow() const {
    if (!recordset_ || !recordset_->IsOpen()) return;
    if (recordset_->IsEOF()) {
        TraceStream << kTracePrefix << "----- End of Recordset -----\n";
        return;
    }
    const std::size_t count = recordset_->FieldCount();
    if (count == 0) return;
    // The whole row is one unit: rows of other readers never split it.
    TLockedStream line(TraceStream);
    line << kTracePrefix;
    for (std::size_t i = 0; i < count; ++i) {
        Field field;
        CheckStatus(recordset_->GetField(i, field), recordset_->ErrorDescription());
        if (i > 0) line << ',';
        if (field.Name().empty())
            line << '#' << static_cast<std::int32_t>(i);
        else
            line << std::string_view(field.Name());
        line << '=' << std::string_view(TraceValue(field));
    }
    line << '\n';
}
