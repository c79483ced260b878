#include "AppFonts.h"

#include <algorithm>

#include <QFile>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QRawFont>

void RegisterApplicationFonts()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    const QString file = QStringLiteral("/usr/share/wine/fonts/tahoma.ttf");
    if (QFile::exists(file))
        QFontDatabase::addApplicationFont(file);
}

namespace {

quint16 BigEndian16(const QByteArray& table, int offset)
{
    return quint16((quint8(table[offset]) << 8) | quint8(table[offset + 1]));
}

// The cell height of the font's em in ems, as Windows measures it for a
// TrueType font: (usWinAscent + usWinDescent) / unitsPerEm. Qt's own ascent
// and descent may come from other tables of the font, so they serve only when
// these tables are missing.
qreal CellPerEm(const QFont& font)
{
    const QRawFont raw = QRawFont::fromFont(font);
    const QByteArray head = raw.fontTable("head");
    const QByteArray os2 = raw.fontTable("OS/2");
    if (head.size() >= 20 && os2.size() >= 78) {
        const int unitsPerEm = BigEndian16(head, 18);
        const int cell = BigEndian16(os2, 74) + BigEndian16(os2, 76);
        if (unitsPerEm > 0 && cell > 0)
            return qreal(cell) / unitsPerEm;
    }
    const QFontMetricsF metrics(font);
    return (metrics.ascent() + metrics.descent()) / font.pixelSize();
}

} // namespace

QFont DialogFont()
{
    QFont font(QStringLiteral("Tahoma"));
    font.setPointSize(8);
    return font;
}

QFont CellHeightFont(const QString& family, int cellHeight, QFont::Weight weight)
{
    QFont font(family);
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    // Measured at a large size so that rounding does not distort the ratio.
    font.setPixelSize(1000);
    font.setPixelSize(std::max(1, qRound(cellHeight / CellPerEm(font))));
    return font;
}
