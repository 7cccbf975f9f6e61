#include "controls/DeviceInfoPaint.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>

#include "desktop/Pictures.h"
#include "foundation/Log.h"
#include "foundation/Paths.h"
#include "foundation/StringTable.h"

namespace {

// Room between the two cards of a row for the text lines.
constexpr int kTextSideMargin = 4;
constexpr int kTextFlags = Qt::AlignHCenter | Qt::AlignVCenter | Qt::TextWordWrap;

} // namespace

CDeviceInfoPaint::CDeviceInfoPaint() = default;

QString CDeviceInfoPaint::DisplayName(const QString& sName, bool* pbShortened)
{
    const bool bShort = sName.size() > kMaxWholeName;
    if (pbShortened)
        *pbShortened = bShort;
    return bShort ? sName.left(kShortenedLength) : sName;
}

QString CDeviceInfoPaint::FirstLine(const SDeviceCard& card)
{
    // Drawn without mnemonics, so an "&" shows as itself.
    return card.bShortened ? QStringLiteral("[%1...]").arg(card.sDisplayName)
                           : QStringLiteral("[%1]").arg(card.sDisplayName);
}

QFont CDeviceInfoPaint::CardFont()
{
    QFont font = QApplication::font();
    font.setPixelSize(kFontPixelSize);
    font.setWeight(static_cast<QFont::Weight>(kFontWeight));
    return font;
}

bool CDeviceInfoPaint::AddCard(const SDeviceCard& card)
{
    if (Count() >= kMaxCards)
        return false;
    SDeviceCard added = card;
    const int n = Count();
    added.nRow = n / 2;
    added.nColumn = n % 2;
    added.sDisplayName = DisplayName(card.sName, &added.bShortened);
    added.bounds = QRect();
    added.bSelected = false;
    m_cards.push_back(std::move(added));
    return true;
}

bool CDeviceInfoPaint::RemoveCard(const QString& sDeviceId)
{
    const int nIndex = Find(sDeviceId);
    if (nIndex < 0)
        return false;
    m_cards.erase(m_cards.begin() + nIndex);
    for (int i = nIndex; i < Count(); ++i) {
        SDeviceCard& card = m_cards[static_cast<size_t>(i)];
        card.nRow = i / 2;
        card.nColumn = i % 2;
        card.bounds = QRect();
    }
    return true;
}

int CDeviceInfoPaint::Find(const QString& sDeviceId) const
{
    for (int i = 0; i < Count(); ++i)
        if (m_cards[static_cast<size_t>(i)].sDeviceId == sDeviceId)
            return i;
    return -1;
}

bool CDeviceInfoPaint::SetCardName(const QString& sDeviceId, const QString& sName)
{
    const int n = Find(sDeviceId);
    if (n < 0)
        return false;
    SDeviceCard& card = m_cards[static_cast<size_t>(n)];
    card.sName = sName;
    card.sDisplayName = DisplayName(sName, &card.bShortened);
    return true;
}

bool CDeviceInfoPaint::SetCardText(const QString& sDeviceId, const QString& sText)
{
    const int n = Find(sDeviceId);
    if (n < 0)
        return false;
    m_cards[static_cast<size_t>(n)].sSecondLine = sText;
    return true;
}

bool CDeviceInfoPaint::GetCardName(const QString& sDeviceId, QString* psDisplayName, bool* pbShortened) const
{
    const int n = Find(sDeviceId);
    if (n < 0)
        return false;
    const SDeviceCard& card = m_cards[static_cast<size_t>(n)];
    if (psDisplayName)
        *psDisplayName = card.sDisplayName;
    if (pbShortened)
        *pbShortened = card.bShortened;
    return true;
}

QString CDeviceInfoPaint::GetCardText(const QString& sDeviceId) const
{
    const int n = Find(sDeviceId);
    return n < 0 ? QString() : m_cards[static_cast<size_t>(n)].sSecondLine;
}

int CDeviceInfoPaint::Selected() const
{
    for (int i = 0; i < Count(); ++i)
        if (m_cards[static_cast<size_t>(i)].bSelected)
            return i;
    return -1;
}

void CDeviceInfoPaint::Select(int nIndex)
{
    for (int i = 0; i < Count(); ++i)
        m_cards[static_cast<size_t>(i)].bSelected = i == nIndex;
}

int CDeviceInfoPaint::HitTest(const QPoint& point) const
{
    for (int i = 0; i < Count(); ++i)
        if (m_cards[static_cast<size_t>(i)].bounds.contains(point))
            return i;
    return -1;
}

QPixmap CDeviceInfoPaint::CardPicture(const SDeviceCard& card, qreal devicePixelRatio)
{
    if (!card.sPicturePath.isEmpty() && PathExists(card.sPicturePath)) {
        auto it = m_pictures.find(card.sPicturePath);
        if (it == m_pictures.end()) {
            // Read once per path; the log line tells which file a card shows.
            WriteLog(card.sPicturePath + " DrawCtrl");
            QPixmap picture(card.sPicturePath);
            if (picture.isNull())
                WriteLog("DrawCtrl: picture cannot be read " + card.sPicturePath);
            it = m_pictures.emplace(card.sPicturePath, picture).first;
        }
        if (!it->second.isNull())
            return it->second;
    } else if (!card.sPicturePath.isEmpty() && !m_pictures.count(card.sPicturePath)) {
        WriteLog("DrawCtrl is empty ");
        m_pictures.emplace(card.sPicturePath, QPixmap());
    }
    if (m_default.isNull() || !qFuzzyCompare(m_default.devicePixelRatio(), devicePixelRatio)) {
        if (card.sPicturePath.isEmpty())
            WriteLog("DrawCtrl is empty ");
        const QSize size = PictureSize(kDefaultPictureId).scaled(kMaxPictureSize, kMaxPictureSize, Qt::KeepAspectRatio);
        m_default = LoadPicture(kDefaultPictureId, size, devicePixelRatio);
    }
    return m_default;
}

void CDeviceInfoPaint::Draw(QPainter& painter, const QRect& area)
{
    painter.save();
    const QFont font = CardFont();
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::TransparentMode);
    if (m_cards.empty()) {
        if (m_nEmptyMessageId != 0) {
            QString sText = LoadStringText(m_nEmptyMessageId);
            sText.replace(QLatin1String("\\n"), QLatin1String("\n"));
            painter.drawText(area.adjusted(8, 8, -8, -8), kTextFlags, sText);
        }
        painter.restore();
        return;
    }
    const int nQuarter = area.width() / 4;
    const int nHalf = area.height() / 2;
    const int nTextWidth = std::max(1, area.width() / 2 - 2 * kTextSideMargin);
    const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QFontMetrics metrics(font);
    for (SDeviceCard& card : m_cards) {
        const int x = area.left() + (2 * card.nColumn + 1) * nQuarter;
        const int y = area.top() + (2 * card.nRow + 1) * nHalf;
        // Cards far outside the painted region need their bounds only when they are drawn.
        QPixmap picture = CardPicture(card, dpr);
        QSize size = picture.deviceIndependentSize().toSize();
        if (size.width() > kMaxPictureSize || size.height() > kMaxPictureSize)
            size = size.scaled(kMaxPictureSize, kMaxPictureSize, Qt::KeepAspectRatio);
        m_pictureSize = size;
        QRect pictureRect(QPoint(0, 0), size);
        pictureRect.moveCenter(QPoint(x, y));

        const QString sFirst = FirstLine(card);
        QRect firstRect = metrics.boundingRect(QRect(0, 0, nTextWidth, 10000), kTextFlags, sFirst);
        firstRect.moveCenter(QPoint(x, 0));
        firstRect.moveBottom(pictureRect.top() - 1);
        QRect secondRect = metrics.boundingRect(QRect(0, 0, nTextWidth, 10000), kTextFlags, card.sSecondLine);
        secondRect.moveCenter(QPoint(x, 0));
        secondRect.moveTop(pictureRect.bottom() + 1);

        card.bounds =
            QRect(QPoint(std::min({pictureRect.left(), firstRect.left(), secondRect.left()}),
                         std::min(pictureRect.top(), firstRect.top())),
                  QPoint(std::max({pictureRect.right(), firstRect.right(), secondRect.right()}), secondRect.bottom()));
        if (!painter.clipBoundingRect().isEmpty() &&
            !painter.clipBoundingRect().intersects(card.bounds.adjusted(-8, -8, 8, 8)))
            continue;
        if (!picture.isNull())
            painter.drawPixmap(pictureRect, picture);
        painter.drawText(firstRect, kTextFlags, sFirst);
        painter.drawText(secondRect, kTextFlags, card.sSecondLine);
        if (card.bSelected) {
            painter.save();
            QPen pen(QColor::fromRgb(kSelectionColour), kSelectionPen);
            pen.setJoinStyle(Qt::MiterJoin);
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            const QRect frame =
                card.bounds.adjusted(-kSelectionMargin, -kSelectionMargin, kSelectionMargin, kSelectionMargin);
            // The pen is centred on the path: inset by half its width so both pixels fall inside.
            painter.drawRect(QRectF(frame).adjusted(1, 1, -1, -1));
            painter.restore();
        }
    }
    painter.restore();
}
