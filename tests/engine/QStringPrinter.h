#pragma once

#include <ostream>

#include <QByteArray>
#include <QString>
#include <QStringList>

// Readable failure messages: GoogleTest prints Qt strings as raw UTF-16 units
// otherwise. Found by argument-dependent lookup, so they live beside Qt's types.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* out)
{
    *out << '{';
    for (const QString& item : list)
        *out << " \"" << item.toStdString() << '"';
    *out << " }";
}

inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << "bytes \"" << bytes.toHex(' ').toStdString() << '"';
}
