#pragma once

#include <map>
#include <vector>

#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QStringList>

class QPainter;

// One player as a card of the device view: its picture with the name above and the address
// below. Row and column follow from the card's place in the list (two cards per row).
struct SDeviceCard
{
    int nRow = 0;
    int nColumn = 0;
    QString sDeviceId;    // the player's UUID
    QString sName;        // the name as the player reports it
    QString sDisplayName; // the name as shown: at most 14 characters when shortened
    bool bShortened = false;
    QString sSecondLine;  // the player's IP address
    QString sPicturePath; // the player's own picture (PNG preferred); empty: the default picture
    QString sJpegPicturePath;
    QStringList supportedTypes;
    QRect bounds; // the card as last drawn (picture and both lines), in the drawing's coordinates
    bool bSelected = false;
};

// Paints the players of the Connection page's device view as cards, two per row, each row one
// area high, and remembers where each card went so the view can hit-test clicks. At most one card
// is selected; it gets a 2-pixel blue frame. With no cards the view may show a message instead.
class CDeviceInfoPaint
{
public:
    static constexpr int kMaxCards = 60000;
    // A name of up to this many characters shows whole; a longer one shows its first
    // kShortenedLength characters and "...".
    static constexpr int kMaxWholeName = 15;
    static constexpr int kShortenedLength = 14;
    static constexpr int kFontPixelSize = 15;
    static constexpr int kFontWeight = 530;
    static constexpr QRgb kSelectionColour = qRgb(64, 160, 255);
    static constexpr int kSelectionPen = 2;
    static constexpr int kSelectionMargin = 4;
    // A picture larger than this is drawn scaled down so that a row of 142 pixels holds it with
    // both text lines and the selection frame.
    static constexpr int kMaxPictureSize = 80;
    static constexpr unsigned kDefaultPictureId = 186;

    CDeviceInfoPaint();
    virtual ~CDeviceInfoPaint() = default;

    // Appends a card; false (nothing added) once kMaxCards cards exist.
    bool AddCard(const SDeviceCard& card);
    // Removes the card with this UUID; the cards after it move up one place. False when none.
    bool RemoveCard(const QString& sDeviceId);
    int Count() const { return static_cast<int>(m_cards.size()); }
    const SDeviceCard& Card(int nIndex) const { return m_cards.at(static_cast<size_t>(nIndex)); }
    // Index of the card with this UUID, -1 when there is none.
    int Find(const QString& sDeviceId) const;
    // Replace the name (and display name) or the second line of the card with this UUID.
    bool SetCardName(const QString& sDeviceId, const QString& sName);
    bool SetCardText(const QString& sDeviceId, const QString& sText);
    bool GetCardName(const QString& sDeviceId, QString* psDisplayName, bool* pbShortened) const;
    QString GetCardText(const QString& sDeviceId) const;

    // The selected card (-1: none); Select(-1) clears the selection.
    int Selected() const;
    void Select(int nIndex);
    // The card whose bounds (as last drawn) hold the point, -1 when none.
    int HitTest(const QPoint& point) const;

    // With no cards, show the text nTextId (0: nothing) in the area instead.
    void SetEmptyMessage(unsigned nTextId) { m_nEmptyMessageId = nTextId; }
    unsigned EmptyMessage() const { return m_nEmptyMessageId; }

    // Paints every card into the area (W × H): card centres at x = (2 × column + 1) × W/4 and
    // y = (2 × row + 1) × H/2, so each row fills one area height. Stores each card's bounds.
    virtual void Draw(QPainter& painter, const QRect& area);

    // The text of a card's first line: "[name]", or "[first 14 characters...]".
    static QString FirstLine(const SDeviceCard& card);
    // The name as shown and whether it was shortened.
    static QString DisplayName(const QString& sName, bool* pbShortened);
    // The card font: the desktop's family at the card's pixel size and weight.
    static QFont CardFont();

private:
    // The card's picture at the painter's pixel ratio: its own file, else the default picture.
    QPixmap CardPicture(const SDeviceCard& card, qreal devicePixelRatio);

    std::vector<SDeviceCard> m_cards;
    unsigned m_nEmptyMessageId = 0;
    QSize m_pictureSize; // of the last picture drawn
    // Pictures loaded from files, by path, so a repaint does not read the file again.
    std::map<QString, QPixmap> m_pictures;
    QPixmap m_default;
};
