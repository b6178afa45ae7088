#include "DisplayText.h"

#include <QLocale>

namespace tesselby {

QString displayText(std::string_view text, bool cut, std::size_t storedBytes)
{
    const QString start = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (!cut)
        return start;
    const QString size = QLocale().formattedDataSize(static_cast<qint64>(storedBytes), 1, QLocale::DataSizeSIFormat);
    return QStringLiteral("%1 … [shortened: %2 in all]").arg(start, size);
}

QString displayValue(std::string_view value)
{
    if (value.size() <= kShownValueBytes)
        return displayText(value);
    // Cut where no UTF-8 character is split.
    std::size_t end = kShownValueBytes;
    while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80)
        --end;
    return displayText(value.substr(0, end), true, value.size());
}

} // namespace tesselby
