// Excel 97-2003 workbook (BIFF8) in a compound file. One pass over the records writes the cell
// records to a spool and collects the texts in the shared string table; then the Workbook
// stream (globals with the table, then the sheet with the spooled cells) goes straight into the
// file's sectors after the header; the allocation table, the directory and the header follow
// once the stream's size is known.
#include "Export.h"
#include "ExportCells.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QtEndian>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace vireo {

using namespace exportcells;

namespace {

constexpr quint32 kFree = 0xFFFFFFFF, kEnd = 0xFFFFFFFE, kFatSect = 0xFFFFFFFD, kDifSect = 0xFFFFFFFC;
constexpr int kSector = 512;
constexpr int kMaxRecordData = 8224;
constexpr int kMaxRows = 65536;
constexpr int kMaxCols = 256;
constexpr int kMaxText = 32767;   // characters of one cell

// Palette index of colour 4 of the standard palette (bright green, #00FF00).
constexpr quint16 kBrightGreen = 0x0B;

// XF indexes: 0-14 style XFs, 15 the default cell XF, then ours; after kXfInteger one XF per
// decimal format in use, in the order of first use (format ids from kFmtFirstDecimal on).
constexpr quint16 kXfCell = 15, kXfHeader = 16, kXfDate = 17, kXfDateTime = 18, kXfInteger = 19;
constexpr quint16 kFmtDate = 164, kFmtDateTime = 165, kFmtFirstDecimal = 166;
constexpr quint16 kFmtBuiltinInteger = 1;   // "0"

class Out {
public:
    explicit Out(const QString &path) : m_file(path)
    {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            fail();
        m_buf.reserve(1 << 16);
    }

    // Bytes of the Workbook stream written so far.
    qint64 streamPos() const { return m_streamBytes; }

    void stream(const char *data, qsizetype n)
    {
        m_buf.append(data, n);
        m_streamBytes += n;
        if (m_buf.size() >= (1 << 16))
            flush();
    }

    void raw(const QByteArray &bytes)
    {
        flush();
        if (m_file.write(bytes) != bytes.size())
            fail();
    }

    void flush()
    {
        if (!m_buf.isEmpty() && m_file.write(m_buf) != m_buf.size())
            fail();
        m_buf.clear();
    }

    // Overwrites bytes at an offset of the Workbook stream that was already written.
    void patchStream(qint64 at, const QByteArray &bytes)
    {
        flush();
        const qint64 end = m_file.pos();
        if (!m_file.seek(kSector + at) || m_file.write(bytes) != bytes.size() || !m_file.seek(end))
            fail();
    }

    void writeHeader(const QByteArray &header)
    {
        flush();
        if (!m_file.seek(0) || m_file.write(header) != header.size())
            fail();
    }

    void close()
    {
        flush();
        if (!m_file.flush())
            fail();
        m_file.close();
        if (m_file.error() != QFileDevice::NoError)
            fail();
    }

private:
    [[noreturn]] void fail()
    {
        throw ExportError(QStringLiteral("写入文件 %1 失败：%2").arg(m_file.fileName(), m_file.errorString()));
    }
    QFile m_file;
    QByteArray m_buf;
    qint64 m_streamBytes = 0;
};

// One BIFF record under construction.
class Rec {
public:
    explicit Rec(quint16 id)
    {
        u16(id);
        u16(0);
    }
    Rec &u8(quint8 v) { b.append(char(v)); return *this; }
    Rec &u16(quint16 v) { char x[2]; qToLittleEndian(v, x); b.append(x, 2); return *this; }
    Rec &u32(quint32 v) { char x[4]; qToLittleEndian(v, x); b.append(x, 4); return *this; }
    Rec &f64(double v) { char x[8]; qToLittleEndian(v, x); b.append(x, 8); return *this; }
    Rec &zeros(int n) { b.append(n, '\0'); return *this; }
    // Unicode string: character count (8 or 16 bits), option flags, then the characters,
    // one byte each when every one fits, UTF-16LE otherwise.
    Rec &str(const QString &s, bool wideCount)
    {
        bool compressed = true;
        for (const QChar ch : s)
            if (ch.unicode() > 0xFF) {
                compressed = false;
                break;
            }
        if (wideCount)
            u16(quint16(s.size()));
        else
            u8(quint8(s.size()));
        u8(compressed ? 0 : 1);
        for (const QChar ch : s) {
            if (compressed)
                u8(quint8(ch.unicode()));
            else
                u16(ch.unicode());
        }
        return *this;
    }
    const QByteArray &bytes()
    {
        qToLittleEndian(quint16(b.size() - 4), b.data() + 2);
        return b;
    }
    QByteArray b;
};

void put(Out &out, Rec &r)
{
    const QByteArray &bytes = r.bytes();
    out.stream(bytes.constData(), bytes.size());
}

// A header text cut to what a cell holds, never between the halves of a surrogate pair.
QString fitText(const QString &text)
{
    if (text.size() <= kMaxText)
        return text;
    qsizetype n = kMaxText;
    if (text[n - 1].isHighSurrogate())
        --n;
    return text.left(n);
}

// The cell texts of the workbook, each distinct text kept once, in its SST form (character
// count, option flags, characters: one byte each when all fit, else UTF-16LE), in blocks that
// never move, found again through an open-addressing hash of entry numbers.
class StringTable {
public:
    // The SST index of a text of at most kMaxText characters, counting one more use.
    quint32 add(const QString &s)
    {
        ++m_total;
        encode(s);
        const std::string_view key(m_scratch);
        const size_t h = std::hash<std::string_view>()(key);
        if ((m_offsets.size() + 1) * 2 > m_slots.size())
            grow();
        const size_t mask = m_slots.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            const quint32 slot = m_slots[i];
            if (slot == 0) {
                const quint32 index = quint32(m_offsets.size());
                m_offsets.push_back(store(key));
                m_hashes.push_back(quint32(h));
                m_slots[i] = index + 1;
                return index;
            }
            if (m_hashes[slot - 1] == quint32(h) && entry(slot - 1) == key)
                return slot - 1;
        }
    }

    quint32 total() const { return m_total; }
    quint32 unique() const { return quint32(m_offsets.size()); }
    std::string_view entry(quint32 index) const
    {
        const quint64 off = m_offsets[index];
        const char *p = m_blocks[size_t(off >> 32)].get() + quint32(off);
        return std::string_view(p, 3 + size_t(qFromLittleEndian<quint16>(p)) * (p[2] & 1 ? 2 : 1));
    }

private:
    static constexpr size_t kBlock = size_t(1) << 20;   // more than the longest entry (3 + 2 * 32767)

    void encode(const QString &s)
    {
        bool compressed = true;
        for (const QChar ch : s)
            if (ch.unicode() > 0xFF) {
                compressed = false;
                break;
            }
        m_scratch.resize(3 + size_t(s.size()) * (compressed ? 1 : 2));
        char *p = m_scratch.data();
        qToLittleEndian(quint16(s.size()), p);
        p[2] = compressed ? 0 : 1;
        p += 3;
        for (const QChar ch : s) {
            if (compressed) {
                *p++ = char(ch.unicode());
            } else {
                qToLittleEndian(ch.unicode(), p);
                p += 2;
            }
        }
    }

    quint64 store(std::string_view bytes)
    {
        if (m_blocks.empty() || m_used + bytes.size() > kBlock) {
            m_blocks.emplace_back(new char[kBlock]);
            m_used = 0;
        }
        const quint64 off = (quint64(m_blocks.size() - 1) << 32) | quint64(m_used);
        std::memcpy(m_blocks.back().get() + m_used, bytes.data(), bytes.size());
        m_used += bytes.size();
        return off;
    }

    void grow()
    {
        std::vector<quint32> table(m_slots.empty() ? 1024 : m_slots.size() * 2, 0);
        const size_t mask = table.size() - 1;
        for (quint32 index = 0; index < m_offsets.size(); ++index) {
            size_t i = m_hashes[index] & mask;
            while (table[i])
                i = (i + 1) & mask;
            table[i] = index + 1;
        }
        m_slots.swap(table);
    }

    std::vector<std::unique_ptr<char[]>> m_blocks;
    size_t m_used = 0;
    std::vector<quint64> m_offsets;   // block << 32 | offset in the block
    std::vector<quint32> m_hashes;    // low bits of each entry's hash
    std::vector<quint32> m_slots;     // entry + 1, 0 when free
    std::string m_scratch;
    quint32 m_total = 0;
};

// Cell records of the sheet, kept in memory up to a megabyte and beyond that in a
// temporary file next to the workbook.
class Spool {
public:
    explicit Spool(const QString &folder) : m_folder(folder) { m_mem.reserve(1 << 16); }

    void put(Rec &r)
    {
        m_mem.append(r.bytes());
        if (m_mem.size() >= kInMemory)
            spill();
    }

    void copyTo(Out &out)
    {
        if (m_file) {
            spill();
            if (!m_file->seek(0))
                fail();
            QByteArray chunk;
            for (;;) {
                chunk = m_file->read(1 << 20);
                if (chunk.isEmpty())
                    break;
                out.stream(chunk.constData(), chunk.size());
            }
            if (m_file->error() != QFileDevice::NoError)
                fail();
        } else {
            out.stream(m_mem.constData(), m_mem.size());
        }
    }

private:
    static constexpr qsizetype kInMemory = qsizetype(1) << 20;

    void spill()
    {
        if (!m_file) {
            m_file = std::make_unique<QTemporaryFile>(m_folder + QStringLiteral("/.vireo-cells-XXXXXX.tmp"));
            if (!m_file->open())
                fail();
        }
        if (m_file->write(m_mem) != m_mem.size())
            fail();
        m_mem.clear();
    }

    [[noreturn]] void fail()
    {
        throw ExportError(QStringLiteral("无法在 %1 中写入临时文件：%2")
                              .arg(QDir::toNativeSeparators(m_folder), m_file ? m_file->errorString() : QString()));
    }

    QString m_folder;
    QByteArray m_mem;
    std::unique_ptr<QTemporaryFile> m_file;
};

Rec bof(quint16 type)
{
    Rec r(0x0809);
    r.u16(0x0600).u16(type).u16(0x0DBB).u16(0x07CC).u32(0).u32(0x06);
    return r;
}

Rec font()
{
    Rec r(0x0031);
    r.u16(220).u16(0).u16(0x7FFF).u16(400).u16(0).u8(0).u8(0).u8(134).u8(0);
    r.str(QStringLiteral("宋体"), false);
    return r;
}

Rec xf(bool style, quint16 format, quint8 usedFlags, quint16 pattern, quint16 foreColour)
{
    Rec r(0x00E0);
    r.u16(0);                                    // font
    r.u16(format);
    r.u16(style ? 0xFFF5 : 0x0001);              // locked; style XFs have no parent, cells have XF 0
    r.u8(0x20);                                  // bottom aligned
    r.u8(0).u8(0);
    r.u8(usedFlags);
    r.u32(0);                                    // no borders
    r.u32(quint32(pattern) << 26);               // fill pattern
    r.u16(quint16(foreColour | (0x41 << 7)));    // pattern colour, background = window colour
    return r;
}

// SST with the CONTINUE records it needs, then EXTSST. A string's header and its first character
// stay in one record; where its characters go on in the next record, that record starts with the
// option flags byte again. A character is never split.
void writeSst(Out &out, const StringTable &sst)
{
    const quint32 unique = sst.unique();
    const quint32 perBucket = std::max<quint32>(8, (unique + 127) / 128);
    QByteArray buckets;
    QByteArray data;
    data.reserve(kMaxRecordData);
    quint16 id = 0x00FC;
    auto endRecord = [&] {
        char h[4];
        qToLittleEndian(id, h);
        qToLittleEndian(quint16(data.size()), h + 2);
        out.stream(h, 4);
        out.stream(data.constData(), data.size());
        data.clear();
        id = 0x003C;
    };
    auto le = [](QByteArray &to, auto v) {
        char x[sizeof v];
        qToLittleEndian(v, x);
        to.append(x, sizeof v);
    };
    le(data, sst.total());
    le(data, unique);
    for (quint32 i = 0; i < unique; ++i) {
        const std::string_view s = sst.entry(i);
        const bool wide = s[2] & 1;
        const qsizetype charSize = wide ? 2 : 1;
        qsizetype left = qsizetype(s.size()) - 3;
        if (kMaxRecordData - data.size() < 3 + (left ? charSize : 0))
            endRecord();
        if (i % perBucket == 0) {
            // Where the string starts: in the stream, and in its record counting the record header.
            le(buckets, quint32(out.streamPos() + 4 + data.size()));
            le(buckets, quint16(4 + data.size()));
            le(buckets, quint16(0));
        }
        data.append(s.data(), 3);
        const char *p = s.data() + 3;
        for (;;) {
            const qsizetype n = std::min(left, (kMaxRecordData - data.size()) / charSize * charSize);
            data.append(p, n);
            p += n;
            left -= n;
            if (!left)
                break;
            endRecord();
            data.append(char(wide ? 1 : 0));
        }
    }
    endRecord();
    Rec ext(0x00FF);
    ext.u16(quint16(perBucket));
    ext.b.append(buckets);
    put(out, ext);
}

QByteArray le32(const std::vector<quint32> &v)
{
    QByteArray b(qsizetype(v.size() * 4), '\0');
    for (size_t i = 0; i < v.size(); ++i)
        qToLittleEndian(v[i], b.data() + i * 4);
    return b;
}

// Finishes the compound file around a Workbook stream of streamSize bytes already written
// right after the header sector.
void finishCompoundFile(Out &out, qint64 streamSize)
{
    // A stream under 4096 bytes would belong in the mini stream; padding keeps it in sectors.
    if (streamSize < 4096) {
        const QByteArray pad(4096 - streamSize, '\0');
        out.stream(pad.constData(), pad.size());
        streamSize = 4096;
    }
    const qint64 rem = streamSize % kSector;
    if (rem) {
        const QByteArray pad(kSector - rem, '\0');
        out.stream(pad.constData(), pad.size());
    }
    const quint32 streamSectors = quint32((streamSize + kSector - 1) / kSector);
    const quint32 perSector = kSector / 4;

    quint32 fatSectors = 1, difatSectors = 0;
    for (;;) {
        const quint32 needed = streamSectors + 1 + fatSectors + difatSectors;
        const quint32 fat = (needed + perSector - 1) / perSector;
        const quint32 difat = fat > 109 ? (fat - 109 + perSector - 2) / (perSector - 1) : 0;
        if (fat == fatSectors && difat == difatSectors)
            break;
        fatSectors = fat;
        difatSectors = difat;
    }
    const quint32 dirSector = streamSectors;
    const quint32 firstFat = dirSector + 1;
    const quint32 firstDifat = firstFat + fatSectors;

    // Directory: the root, the Workbook stream and two unused entries.
    QByteArray dir(kSector, '\0');
    auto entry = [&](int i, const QString &name, quint8 type, quint32 child, quint32 start, quint32 size) {
        char *e = dir.data() + i * 128;
        for (int k = 0; k < name.size(); ++k)
            qToLittleEndian(name[k].unicode(), e + 2 * k);
        qToLittleEndian(quint16((name.size() + 1) * 2), e + 64);
        e[66] = char(type);
        e[67] = 1;   // black
        qToLittleEndian(kFree, e + 68);
        qToLittleEndian(kFree, e + 72);
        qToLittleEndian(child, e + 76);
        qToLittleEndian(start, e + 116);
        qToLittleEndian(size, e + 120);
    };
    entry(0, QStringLiteral("Root Entry"), 5, 1, kEnd, 0);
    entry(1, QStringLiteral("Workbook"), 2, kFree, 0, quint32(streamSize));
    for (int i = 2; i < 4; ++i) {
        char *e = dir.data() + i * 128;
        qToLittleEndian(kFree, e + 68);
        qToLittleEndian(kFree, e + 72);
        qToLittleEndian(kFree, e + 76);
    }
    out.raw(dir);

    std::vector<quint32> fat(size_t(fatSectors) * perSector, kFree);
    for (quint32 s = 0; s < streamSectors; ++s)
        fat[s] = s + 1 < streamSectors ? s + 1 : kEnd;
    fat[dirSector] = kEnd;
    for (quint32 s = 0; s < fatSectors; ++s)
        fat[firstFat + s] = kFatSect;
    for (quint32 s = 0; s < difatSectors; ++s)
        fat[firstDifat + s] = kDifSect;
    out.raw(le32(fat));

    std::vector<quint32> headerDifat(109, kFree);
    for (quint32 s = 0; s < std::min<quint32>(fatSectors, 109); ++s)
        headerDifat[s] = firstFat + s;
    if (difatSectors) {
        std::vector<quint32> difat(size_t(difatSectors) * perSector, kFree);
        quint32 k = 0;
        for (quint32 s = 109; s < fatSectors; ++s, ++k) {
            const quint32 sector = k / (perSector - 1);
            difat[sector * perSector + k % (perSector - 1)] = firstFat + s;
        }
        for (quint32 d = 0; d < difatSectors; ++d)
            difat[d * perSector + perSector - 1] = d + 1 < difatSectors ? firstDifat + d + 1 : kEnd;
        out.raw(le32(difat));
    }

    QByteArray h(kSector, '\0');
    static const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(h.data(), sig, 8);
    char *p = h.data();
    qToLittleEndian(quint16(0x003E), p + 24);
    qToLittleEndian(quint16(0x0003), p + 26);
    qToLittleEndian(quint16(0xFFFE), p + 28);
    qToLittleEndian(quint16(9), p + 30);
    qToLittleEndian(quint16(6), p + 32);
    qToLittleEndian(fatSectors, p + 44);
    qToLittleEndian(dirSector, p + 48);
    qToLittleEndian(quint32(4096), p + 56);
    qToLittleEndian(kEnd, p + 60);
    qToLittleEndian(quint32(0), p + 64);
    qToLittleEndian(difatSectors ? firstDifat : kEnd, p + 68);
    qToLittleEndian(difatSectors, p + 72);
    for (int i = 0; i < 109; ++i)
        qToLittleEndian(headerDifat[size_t(i)], p + 76 + 4 * i);
    out.writeHeader(h);
}

} // namespace

void writeXls(const db::Recordset &rs, const QString &path, const ExportProgress &progress, const RowOrder *order)
{
    const int cols = rs.columnCount();
    const qint64 rows = order ? qint64(order->size()) : rs.rowCount();
    if (rows + 1 > kMaxRows || cols > kMaxCols)
        throw ExportError(QStringLiteral("Excel 97-2003 工作簿最多容纳 %1 行、%2 列，请改存为 .xlsx 格式")
                              .arg(kMaxRows)
                              .arg(kMaxCols));

    // The pass over the records: cell records to the spool, texts to the string table.
    StringTable sst;
    Spool cells(QFileInfo(path).absolutePath());
    { Rec r(0x0200); r.u32(0).u32(quint32(rows + 1)).u16(0).u16(quint16(cols)).u16(0); cells.put(r); }
    // Row 1 carries the header format for the whole row.
    { Rec r(0x0208); r.u16(0).u16(0).u16(quint16(cols)).u16(0x00FF).u16(0).u16(0).u16(0x0180).u16(kXfHeader); cells.put(r); }
    auto label = [&](quint16 row, int c, quint16 xf, const QString &text) {
        Rec r(0x00FD);
        r.u16(row).u16(quint16(c)).u16(xf).u32(sst.add(text));
        cells.put(r);
    };
    // Decimals as the grid shows them: the XF of each number of places, made on first use.
    std::vector<quint16> decimalXfs(size_t(kMaxDecimals) + 1, 0);
    std::vector<int> decimalsInUse;
    decimalXfs[0] = kXfInteger;
    auto numberXf = [&](int c, const QString &text) -> quint16 {
        switch (rs.column(c).type) {
        case db::ColumnType::Integer: return kXfInteger;
        case db::ColumnType::Decimal: {
            const int places = decimalPlaces(text);
            quint16 &x = decimalXfs[size_t(places)];
            if (!x) {
                x = quint16(kXfInteger + 1 + decimalsInUse.size());
                decimalsInUse.push_back(places);
            }
            return x;
        }
        default: return kXfCell;
        }
    };
    CellReader reader(rs);
    for (int c = 0; c < cols; ++c) {
        const QString name = rs.column(c).name;
        reader.noteHeader(c, name);
        label(0, c, kXfHeader, fitText(name));
    }
    Cell cell;
    for (qint64 row = 0; row < rows; ++row) {
        const auto rw = quint16(row + 1);
        const qint64 record = order ? (*order)[size_t(row)] : row;
        for (int c = 0; c < cols; ++c) {
            reader.read(record, c, cell);
            switch (cell.kind) {
            case Kind::Empty: break;
            case Kind::Text:
                if (!cell.text.isEmpty()) {
                    checkCellText(cell.text, row + 2, rs.column(c).name);
                    label(rw, c, kXfCell, cell.text);
                }
                break;
            case Kind::Boolean: {
                Rec r(0x0205);
                r.u16(rw).u16(quint16(c)).u16(kXfCell).u8(cell.flag ? 1 : 0).u8(0);
                cells.put(r);
                break;
            }
            case Kind::Number: case Kind::Date: case Kind::DateTime: {
                const quint16 x = cell.kind == Kind::Number ? numberXf(c, cell.text) : cell.kind == Kind::Date ? kXfDate : kXfDateTime;
                Rec r(0x0203);
                r.u16(rw).u16(quint16(c)).u16(x).f64(cell.number);
                cells.put(r);
                break;
            }
            }
        }
        if (progress)
            progress(row + 1);
    }
    // WINDOW2 with the header row frozen (fFrozen, fFrozenNoSplit), then PANE: rows below row 1
    // scroll, the lower pane active.
    { Rec r(0x023E); r.u16(0x06B6 | 0x0008 | 0x0100).u16(0).u16(0).u32(0x40).u16(0).u16(0).u32(0); cells.put(r); }
    { Rec r(0x0041); r.u16(0).u16(1).u16(1).u16(0).u16(2); cells.put(r); }
    { Rec r(0x000A); cells.put(r); }

    Out out(path);
    out.raw(QByteArray(kSector, '\0'));   // the header, written at the end

    // Workbook globals.
    { Rec r = bof(0x0005); put(out, r); }
    { Rec r(0x0042); r.u16(1200); put(out, r); }                       // CODEPAGE: UTF-16
    { Rec r(0x003D); r.u16(0).u16(0).u16(0x4000).u16(0x2000).u16(0x0038).u16(0).u16(0).u16(1).u16(0x0258); put(out, r); }
    { Rec r(0x0022); r.u16(0); put(out, r); }                          // DATEMODE: 1900
    for (int i = 0; i < 5; ++i) { Rec r = font(); put(out, r); }
    { Rec r(0x041E); r.u16(kFmtDate).str(QStringLiteral("yyyy-mm-dd"), true); put(out, r); }
    { Rec r(0x041E); r.u16(kFmtDateTime).str(QStringLiteral("yyyy-mm-dd hh:mm:ss"), true); put(out, r); }
    for (size_t k = 0; k < decimalsInUse.size(); ++k) {
        Rec r(0x041E);
        r.u16(quint16(kFmtFirstDecimal + k)).str(decimalFormatCode(decimalsInUse[k]), true);
        put(out, r);
    }
    for (int i = 0; i < 15; ++i) { Rec r = xf(true, 0, 0, 0, 0x40); put(out, r); }
    { Rec r = xf(false, 0, 0, 0, 0x40); put(out, r); }                  // 15
    { Rec r = xf(false, 0, 0x40, 1, kBrightGreen); put(out, r); }       // 16: header, solid fill
    { Rec r = xf(false, kFmtDate, 0x04, 0, 0x40); put(out, r); }        // 17
    { Rec r = xf(false, kFmtDateTime, 0x04, 0, 0x40); put(out, r); }    // 18
    { Rec r = xf(false, kFmtBuiltinInteger, 0x04, 0, 0x40); put(out, r); }   // 19
    for (size_t k = 0; k < decimalsInUse.size(); ++k) {
        Rec r = xf(false, quint16(kFmtFirstDecimal + k), 0x04, 0, 0x40);
        put(out, r);
    }
    { Rec r(0x0293); r.u16(0x8000).u8(0).u8(0xFF); put(out, r); }      // STYLE Normal
    Rec sheet(0x0085);
    sheet.u32(0).u16(0).str(QStringLiteral("Sheet1"), false);
    const qint64 sheetRecordAt = out.streamPos();
    put(out, sheet);
    if (cols > 0) {
        // The filter range lives in the sheet's hidden built-in name _FilterDatabase; its 3-D
        // reference goes through an EXTERNSHEET entry into this workbook's own SUPBOOK.
        { Rec r(0x01AE); r.u16(1).u16(0x0401); put(out, r); }
        { Rec r(0x0017); r.u16(1).u16(0).u16(0).u16(0); put(out, r); }
        Rec name(0x0018);
        name.u16(0x0021).u8(0).u8(1).u16(11).u16(0).u16(1).u8(0).u8(0).u8(0).u8(0);
        name.u8(0).u8(0x0D);                                         // built-in name 0x0D
        name.u8(0x3B).u16(0).u16(0).u16(quint16(rows)).u16(0).u16(quint16(cols - 1));
        put(out, name);
    }
    writeSst(out, sst);
    { Rec r(0x000A); put(out, r); }

    // The worksheet.
    const qint64 sheetAt = out.streamPos();
    {
        QByteArray pos(4, '\0');
        qToLittleEndian(quint32(sheetAt), pos.data());
        out.patchStream(sheetRecordAt + 4, pos);
    }
    { Rec r = bof(0x0010); put(out, r); }
    { Rec r(0x0055); r.u16(8); put(out, r); }                          // DEFCOLWIDTH
    for (int c = 0; c < std::min(cols, kFittedColumns); ++c) {
        const double width = fittedColumnWidth(reader.widths()[size_t(c)]);
        const bool set = width > 0;
        Rec r(0x007D);
        r.u16(quint16(c)).u16(quint16(c)).u16(set ? quint16(width * 256) : quint16(0x0924));
        r.u16(kXfCell).u16(set ? 0x0002 : 0).u16(0);
        put(out, r);
    }
    if (cols > 0) { Rec r(0x009D); r.u16(quint16(cols)); put(out, r); }   // AUTOFILTERINFO: a button per column
    cells.copyTo(out);

    finishCompoundFile(out, out.streamPos());
    out.close();
}

} // namespace vireo
