#include "export/csv_table_export.h"

namespace {

bool StartsLikeAFormula(const QString& text) {
    if (text.isEmpty()) return false;
    const char16_t first = text.front().unicode();
    return first == u'=' || first == u'+' || first == u'-' || first == u'@' || first == u'\t' || first == u'\r';
}

bool NeedsQuotes(const QByteArray& field) {
    for (char c : field) {
        if (c == ',' || c == '"' || c == '\r' || c == '\n') return true;
    }
    return false;
}

}  // namespace

CCsvTableExport::CCsvTableExport(const QString& path) : CTableExport(path) {}

CCsvTableExport::~CCsvTableExport() { Close(); }

void CCsvTableExport::BeginRow() {
    if (!IsGood()) return;
    EndRecord();  // ends the header record
    recordOpen_ = true;
    firstField_ = true;
}

void CCsvTableExport::EndRow() {
    if (!IsGood()) return;
    EndRecord();
}

void CCsvTableExport::WriteCell(const QString& text, unsigned /*style*/, unsigned /*fontSize*/) {
    if (!IsGood()) return;
    if (!recordOpen_) {
        recordOpen_ = true;
        firstField_ = true;
    }
    if (!firstField_) Write(",");
    firstField_ = false;

    const QByteArray field = StartsLikeAFormula(text) ? "'" + text.toUtf8() : text.toUtf8();
    if (!NeedsQuotes(field)) {
        Write(std::string_view(field.constData(), static_cast<std::size_t>(field.size())));
        return;
    }
    QByteArray quoted = field;
    quoted.replace('"', "\"\"");
    Write("\"");
    Write(std::string_view(quoted.constData(), static_cast<std::size_t>(quoted.size())));
    Write("\"");
}

std::uint32_t CCsvTableExport::Close() {
    if (IsClosed()) return 1;
    if (IsGood()) EndRecord();
    CloseOutput();
    return 1;
}

void CCsvTableExport::EndRecord() {
    if (!recordOpen_) return;
    recordOpen_ = false;
    WriteLineEnd();
}
