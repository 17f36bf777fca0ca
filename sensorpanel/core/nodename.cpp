#include "nodename.h"

#include <QtCore/QTextCodec>

namespace NodeName {

QByteArray Stored(const QByteArray &bytes)
{
    const int end = bytes.indexOf('\0');
    return end < 0 ? bytes : bytes.left(end);
}

bool IsUtf8(const QByteArray &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QString Text(const QByteArray &bytes)
{
    const QByteArray stored = Stored(bytes);
    return IsUtf8(stored) ? QString::fromUtf8(stored) : QString::fromLatin1(stored);
}

bool Encode(const QString &text, int maxBytes, QByteArray *bytes, QString *kept)
{
    QByteArray out;
    int i = 0;
    while (i < text.size()) {
        const int width = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        const QByteArray piece = text.mid(i, width).toUtf8();
        if (out.size() + piece.size() > maxBytes)
            break;
        out += piece;
        i += width;
    }
    if (bytes)
        *bytes = out;
    if (kept)
        *kept = text.left(i);
    return i == text.size();
}

} // namespace NodeName
