#include "print/DiscPrint.h"

#include "browse/FolderListing.h"
#include "collection/Fendrel.h"
#include "platform/AnsiText.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPagedPaintDevice>
#include <QPainter>

#include <algorithm>

namespace {

std::optional<TCalendarTime> LocalTime(uint64_t fileTime, int64_t offset)
{
    return FileTimeToLocal(static_cast<uint32_t>(fileTime >> 32), static_cast<uint32_t>(fileTime),
                           offset);
}

std::string ShortDate(const std::optional<TCalendarTime>& time)
{
    if (!time)
        return {};
    return FormatDate(*time) + " " + FormatTime(*time).substr(0, 5);
}

// "1 352 690": digits in groups of three, as the eye reads a column of sizes.
QString Grouped(uint64_t value)
{
    QString digits = QString::number(value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QChar(0x202F));
    return digits;
}

// Walks the disc's tree in order, adding a line per folder and file; returns the size of the
// files below node.
uint64_t AddLines(const TFendrel& collection, const TCollectionNode& node, int depth,
                  int64_t offset, TDiscListing& listing)
{
    struct TFrame {
        const TCollectionNode* Node;
        size_t Next;
        size_t Line; // of the folder, whose size is known once it is left; SIZE_MAX for the disc
    };
    uint64_t total = 0;
    std::vector<TFrame> pending{{&node, 0, SIZE_MAX}};
    std::vector<uint64_t> sizes{0};
    while (!pending.empty()) {
        TFrame& top = pending.back();
        if (top.Next == top.Node->Children.size()) {
            const uint64_t size = sizes.back();
            if (top.Line != SIZE_MAX)
                listing.Lines[top.Line].Size = size;
            pending.pop_back();
            sizes.pop_back();
            if (sizes.empty())
                total = size;
            else
                sizes.back() += size;
            continue;
        }
        const TCollectionNode& child = collection.GetNode(top.Node->Children[top.Next++]);
        TDiscListing::TLine line;
        line.Depth = depth + static_cast<int>(pending.size()) - 1;
        line.Name = AnsiToUtf8(child.Name.view());
        line.Folder = child.Is(nfFolder);
        line.Date = ShortDate(
            LocalTime((uint64_t{child.WriteTimeHigh} << 32) | child.WriteTimeLow, offset));
        listing.Lines.push_back(line);
        if (line.Folder) {
            ++listing.Folders;
            pending.push_back({&child, 0, listing.Lines.size() - 1});
            sizes.push_back(0);
        } else {
            ++listing.Files;
            listing.Lines.back().Size = child.FullSize();
            sizes.back() += child.FullSize();
        }
    }
    return total;
}

} // namespace

TDiscListing MakeDiscListing(const TFendrel& collection, uint32_t disc, int64_t utcOffsetSeconds)
{
    const TCollectionNode& node = collection.GetNode(disc);
    TDiscListing listing;
    listing.Title = AnsiToUtf8(node.Name.view());
    if (const auto record = collection.DiscRecords.find(disc);
        record != collection.DiscRecords.end()) {
        listing.Label = record->second.Facts.Identity.Label;
        if (record->second.Added != 0)
            if (const auto added = LocalTime(record->second.Added, utcOffsetSeconds))
                listing.Added = FormatDate(*added);
    }
    listing.Size = AddLines(collection, node, 0, utcOffsetSeconds, listing);
    return listing;
}

int PaintDiscListing(QPagedPaintDevice& device, const TDiscListing& listing)
{
    QPainter painter(&device);
    const QRectF page(0, 0, device.width(), device.height());
    // About 9 points on A4, down to 6 on a CD insert.
    const double widthMm = device.widthMM();
    const double points = std::clamp(widthMm / 20.0, 6.0, 9.0);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(points);
    QFont bold = font;
    bold.setBold(true);
    QFont heading = bold;
    heading.setPointSizeF(points * 1.25);
    painter.setFont(font);
    const QFontMetricsF metrics(font, &device);
    const double lineHeight = metrics.lineSpacing();
    const double indent = metrics.horizontalAdvance(QStringLiteral("MM"));
    const double gap = metrics.horizontalAdvance(QStringLiteral("  "));
    const double dateWidth = metrics.horizontalAdvance(QStringLiteral("00.00.0000 00:00"));
    const double sizeWidth = metrics.horizontalAdvance(Grouped(999'999'999'999));
    const double dateLeft = page.right() - dateWidth;
    const double sizeRight = dateLeft - gap;
    const double nameRight = sizeRight - sizeWidth - gap;

    const QString title = QString::fromStdString(listing.Title);
    int pageNumber = 0;
    double y = 0;
    const auto startPage = [&] {
        if (pageNumber > 0)
            device.newPage();
        ++pageNumber;
        painter.setFont(bold);
        const QFontMetricsF boldMetrics(bold, &device);
        const QString number = QString::fromUtf8("стр. %1").arg(pageNumber);
        const double numberWidth = boldMetrics.horizontalAdvance(number);
        painter.drawText(
            QRectF(0, 0, page.width() - numberWidth - gap, lineHeight),
            Qt::AlignLeft | Qt::AlignVCenter,
            boldMetrics.elidedText(title, Qt::ElideRight, page.width() - numberWidth - gap));
        painter.drawText(QRectF(0, 0, page.width(), lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                         number);
        y = lineHeight * 1.2;
        painter.drawLine(QPointF(0, y), QPointF(page.width(), y));
        y += lineHeight * 0.3;
        painter.setFont(font);
    };
    const auto room = [&](double height) {
        if (y + height > page.height())
            startPage();
    };

    startPage();
    // The facts, under the title, on the first page.
    painter.setFont(heading);
    const QFontMetricsF headingMetrics(heading, &device);
    painter.drawText(QRectF(0, y, page.width(), headingMetrics.lineSpacing()),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     headingMetrics.elidedText(title, Qt::ElideRight, page.width()));
    y += headingMetrics.lineSpacing();
    painter.setFont(font);
    QStringList facts;
    if (!listing.Label.empty())
        facts << QString::fromUtf8("Метка: ") + QString::fromStdString(listing.Label);
    if (!listing.Added.empty())
        facts << QString::fromUtf8("Добавлен: ") + QString::fromStdString(listing.Added);
    facts << QString::fromUtf8("Папок: %1, файлов: %2, размер: %3 байт")
                 .arg(listing.Folders)
                 .arg(listing.Files)
                 .arg(Grouped(listing.Size));
    for (const QString& fact : facts) {
        room(lineHeight);
        painter.drawText(QRectF(0, y, page.width(), lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(fact, Qt::ElideRight, page.width()));
        y += lineHeight;
    }
    y += lineHeight * 0.5;

    for (const TDiscListing::TLine& line : listing.Lines) {
        room(lineHeight);
        const double left = std::min(indent * line.Depth, nameRight / 2);
        painter.setFont(line.Folder ? bold : font);
        const QFontMetricsF lineMetrics(painter.font(), &device);
        painter.drawText(QRectF(left, y, nameRight - left, lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         lineMetrics.elidedText(QString::fromStdString(line.Name), Qt::ElideMiddle,
                                                nameRight - left));
        painter.setFont(font);
        painter.drawText(QRectF(nameRight, y, sizeRight - nameRight, lineHeight),
                         Qt::AlignRight | Qt::AlignVCenter, Grouped(line.Size));
        painter.drawText(QRectF(dateLeft, y, dateWidth, lineHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(line.Date));
        y += lineHeight;
    }
    return pageNumber;
}
