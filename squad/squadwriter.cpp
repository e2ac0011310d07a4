#include "squadwriter.h"

#include "fileheader.h"

#include <cstring>

namespace squad {
namespace {

// Where a value stands decides what must be escaped: an XML parser turns tab, CR and LF inside
// an attribute into blanks, and CR LF inside element text into LF.
enum class Context { Element, Attribute };

class Utf8Builder {
public:
    explicit Utf8Builder(qsizetype expected) { m_out.reserve(expected); }

    template <qsizetype N> void literal(const char (&text)[N]) { m_out.append(text, N - 1); }

    void value(const QString &text, Context context) {
        const char16_t *p = reinterpret_cast<const char16_t *>(text.constData());
        const char16_t *const end = p + text.size();
        // Worst case per UTF-16 unit is a six-byte reference such as "&quot;".
        const qsizetype start = m_out.size();
        m_out.resize(start + 6 * text.size());
        char *out = m_out.data() + start;
        while (p < end) {
            const char16_t c = *p++;
            if (c >= 0x80) {
                out = nonAscii(c, p, end, out);
                continue;
            }
            switch (c) {
            case u'&':
                out = put(out, "&amp;");
                continue;
            case u'<':
                out = put(out, "&lt;");
                continue;
            case u'>':
                out = put(out, "&gt;");
                continue;
            case u'"':
                out = put(out, "&quot;");
                continue;
            case u'\r':
                out = put(out, "&#13;");
                continue;
            case u'\n':
                if (context == Context::Attribute) {
                    out = put(out, "&#10;");
                    continue;
                }
                break;
            case u'\t':
                if (context == Context::Attribute) {
                    out = put(out, "&#9;");
                    continue;
                }
                break;
            default:
                if (c < 0x20)
                    continue; // not allowed anywhere in XML 1.0
            }
            *out++ = char(c);
        }
        m_out.truncate(out - m_out.constData());
    }

    QByteArray take() { return std::move(m_out); }

private:
    template <size_t N> static char *put(char *out, const char (&text)[N]) {
        std::memcpy(out, text, N - 1);
        return out + N - 1;
    }

    static char *nonAscii(char16_t c, const char16_t *&p, const char16_t *end, char *out) {
        char32_t code = c;
        if (c >= 0xD800 && c <= 0xDFFF) {
            if (c >= 0xDC00 || p == end || *p < 0xDC00 || *p > 0xDFFF)
                return out; // a lone surrogate is no character
            code = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
        } else if (c == 0xFFFE || c == 0xFFFF) {
            return out;
        }
        if (code < 0x800) {
            *out++ = char(0xC0 | (code >> 6));
        } else if (code < 0x10000) {
            *out++ = char(0xE0 | (code >> 12));
            *out++ = char(0x80 | ((code >> 6) & 0x3F));
        } else {
            *out++ = char(0xF0 | (code >> 18));
            *out++ = char(0x80 | ((code >> 12) & 0x3F));
            *out++ = char(0x80 | ((code >> 6) & 0x3F));
        }
        *out++ = char(0x80 | (code & 0x3F));
        return out;
    }

    QByteArray m_out;
};

qsizetype expectedSize(const SquadData &data) {
    qsizetype size = 271;
    for (const QString &p : data.properties)
        size += p.size();
    const MemberTable &table = data.mmbdata;
    for (int i = 0; i < table.memberCount(); ++i) {
        size += 99;
        for (const QString &cell : table.column(i))
            size += cell.size();
    }
    return size + size / 8;
}

} // namespace

QByteArray encodeUtf8(const SquadData &data) {
    Utf8Builder b(expectedSize(data));
    b.literal(fileheader::xmlDeclaration);
    b.literal("\r\n");
    b.literal(fileheader::doctypeLine);
    b.literal("\r\n");
    b.literal(fileheader::stylesheetLine);
    b.literal("\r\n\r\n");
    b.literal(fileheader::comment);
    b.literal("\r\n<squad nick=\"");
    b.value(data.property(Property::Tag), Context::Attribute);
    b.literal("\">\r\n<name>");
    b.value(data.property(Property::Name), Context::Element);
    b.literal("</name>\r\n<email>");
    b.value(data.property(Property::Mail), Context::Element);
    b.literal("</email>\r\n<web>");
    b.value(data.property(Property::Web), Context::Element);
    b.literal("</web>\r\n<picture>");
    b.value(data.property(Property::Picture), Context::Element);
    b.literal("</picture>\r\n<title>");
    b.value(data.property(Property::Title), Context::Element);
    b.literal("</title>\r\n");

    const MemberTable &table = data.mmbdata;
    const int last = table.memberCount() - 1; // the spare column is never written
    for (int i = 0; i <= last; ++i) {
        const Member &m = table.column(i);
        b.literal("<member id=\"");
        b.value(m[int(Field::Id)], Context::Attribute);
        b.literal("\" nick=\"");
        b.value(m[int(Field::Nick)], Context::Attribute);
        b.literal("\">\r\n<name>");
        b.value(m[int(Field::Name)], Context::Element);
        b.literal("</name>\r\n<email>");
        b.value(m[int(Field::Mail)], Context::Element);
        b.literal("</email>\r\n<icq>");
        b.value(m[int(Field::Icq)], Context::Element);
        b.literal("</icq>\r\n<remark>");
        b.value(m[int(Field::Remark)], Context::Element);
        b.literal("</remark>\r\n</member>\r\n");
    }
    b.literal("</squad>");
    return b.take();
}

QString encode(const SquadData &data) {
    return QString::fromUtf8(encodeUtf8(data));
}

QByteArray fileContents(const SquadData &data) {
    QByteArray bytes = encodeUtf8(data);
    bytes.append("\r\n");
    return bytes;
}

} // namespace squad
