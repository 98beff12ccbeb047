#include "export/html_table_exp.h"

#include <string>

#include "resources/app_resources.h"
#include "resources/resource_ids.h"

namespace {

constexpr unsigned kStyleHeader = 1;
constexpr unsigned kStyleBold = 2;
constexpr unsigned kStyleUnderline = 4;
constexpr unsigned kStyleItalic = 8;

QString Escaped(const QString& text) {
    qsizetype i = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c == u'&' || c == u'<' || c == u'>' || c == u'"' || c == u'\'') break;
    }
    if (i == text.size()) return text;
    QString out = text.left(i);
    out.reserve(text.size() + 16);
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
            case u'&': out += QLatin1String("&amp;"); break;
            case u'<': out += QLatin1String("&lt;"); break;
            case u'>': out += QLatin1String("&gt;"); break;
            case u'"': out += QLatin1String("&quot;"); break;
            case u'\'': out += QLatin1String("&#39;"); break;
            default: out += c; break;
        }
    }
    return out;
}

}  // namespace

CHTMLTableExp::CHTMLTableExp(const QString& path, const QString& title) : CTableExport(path) {
    if (!IsGood()) return;
    const std::string titleText = ToCodeSet(Escaped(title));
    Write(ToCodeSet(LoadResString(kIdsHtmlStyleHeader)));
    Write("<title>");
    Write(titleText);
    Write("</title>\r\n");
    // No body start tag: the link follows the head directly.
    Write("</head><a  href=\"");
    Write(ToCodeSet(LoadResString(kIdsVendorWebAddress)));
    Write("\">Marrowind Quorvis</a>\r\n");
    Write("<p></p><div align=\"center\"><center>\r\n");
    Write("<strong><u>");
    Write(titleText);
    Write("</u></strong>\r\n");
    Write("<p></p>");
}

CHTMLTableExp::~CHTMLTableExp() { Close(); }

void CHTMLTableExp::BeginRow() { Write("<tr>\r\n"); }

void CHTMLTableExp::EndRow() { Write("</tr>\r\n"); }

void CHTMLTableExp::WriteCell(const QString& text, unsigned style, unsigned fontSize) {
    if (!IsGood()) return;
    BeginTable();
    const bool header = (style & kStyleHeader) != 0;
    Write(header ? "<th>" : "<td>");
    Write("<font size=\"");
    Write(std::to_string(fontSize));
    Write("\">");
    if (style & kStyleBold) Write("<strong>");
    if (style & kStyleUnderline) Write("<u>");
    if (style & kStyleItalic) Write("<em>");
    Write(ToCodeSet(Escaped(text)));
    if (style & kStyleItalic) Write("</em>");
    if (style & kStyleUnderline) Write("</u>");
    if (style & kStyleBold) Write("</strong>");
    Write(header ? "</font></th>\r\n" : "</font></td>\r\n");
}

std::uint32_t CHTMLTableExp::Close() {
    if (IsClosed()) return 1;
    if (IsGood()) {
        const std::string web = ToCodeSet(LoadResString(kIdsVendorWebAddress));
        EndTable();
        Write("</center></div>\r\n");
        Write("<div align=\"left\">\r\n");
        Write("<br></br>\r\n");
        Write("<a  href=\"");
        Write(web);
        Write("\">");
        Write(web);
        Write("</a>\r\n");
        Write("</body>\r\n");
        Write("</html>\r\n");
    }
    CloseOutput();
    return 1;
}

void CHTMLTableExp::BeginTable() {
    if (tableOpen_) return;
    tableOpen_ = true;
    Write("<table width=\"100%\" border=0 cellspacing=\"0\" cellpadding=\"4\">\r\n");
}

void CHTMLTableExp::EndTable() {
    if (!tableOpen_) return;
    tableOpen_ = false;
    Write("</table>\r\n");
}

void CHTMLTableExp::WriteImage(const QString& path, unsigned height, unsigned width) {
    Write("\r\n<br><br>\r\n");
    Write("<img src=\"");
    Write(ToCodeSet(Escaped(path)));
    Write("\" width=");
    Write(std::to_string(width));
    Write(" height=");
    Write(std::to_string(height));
    Write(" border=0>\r\n");
}
