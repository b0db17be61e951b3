#include "DisplayWidth.h"

#include <QStringEncoder>
#include <bitset>
#include <memory>

namespace vireo {

namespace {

// One bit per BMP code unit, built once by encoding every non-surrogate code unit in one go
// and walking the GB18030 byte sequences: a lead byte 0x81-0xFE followed by 0x30-0x39 starts a
// four-byte sequence (outside GBK); any other lead byte 0x81-0xFE starts a two-byte one.
std::unique_ptr<std::bitset<65536>> buildTable()
{
    auto table = std::make_unique<std::bitset<65536>>();
    QString all;
    all.reserve(0x10000);
    for (char32_t u = 0x80; u < 0x10000; ++u)
        if (u < 0xD800 || u > 0xDFFF)
            all.append(QChar(char16_t(u)));
    QStringEncoder encode("GB18030");
    const QByteArray bytes = encode(all);
    qsizetype pos = 0;
    for (const QChar ch : all) {
        if (pos >= bytes.size())
            break;
        const auto lead = uchar(bytes[pos]);
        if (lead < 0x80 || lead == 0xFF) {
            pos += 1;
            continue;
        }
        const auto second = pos + 1 < bytes.size() ? uchar(bytes[pos + 1]) : 0;
        if (second >= 0x30 && second <= 0x39) {
            pos += 4;
            continue;
        }
        table->set(ch.unicode());
        pos += 2;
    }
    return table;
}

const std::bitset<65536> &table()
{
    static const std::unique_ptr<std::bitset<65536>> t = buildTable();
    return *t;
}

} // namespace

bool isDoubleByte(char16_t ch)
{
    return ch >= 0x80 && table().test(ch);
}

int DisplayWidth(const char16_t *text, qsizetype length)
{
    int w = 0;
    const std::bitset<65536> *t = nullptr;
    for (qsizetype i = 0; i < length; ++i) {
        const char16_t ch = text[i];
        if (ch < 0x80) {
            ++w;
            continue;
        }
        if (!t)
            t = &table();
        w += t->test(ch) ? 2 : 1;
    }
    return w;
}

int DisplayWidth(const QString &text)
{
    return DisplayWidth(reinterpret_cast<const char16_t *>(text.utf16()), text.size());
}

} // namespace vireo
