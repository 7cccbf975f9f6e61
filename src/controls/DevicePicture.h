#pragma once

#include <QPixmap>
#include <QWidget>

// The selected player's picture in the settings window: its own picture file, or the default
// player picture, centred in the control. Nothing but the background shows until the owner
// switches the display on.
class CDevicePicture : public QWidget
{
    Q_OBJECT
public:
    // The picture's size in logical pixels.
    static constexpr int kPictureSize = 50;

    explicit CDevicePicture(QWidget* pParent = nullptr);

    // The player's picture file; empty (or a file that cannot be read) shows the default picture.
    void SetPicturePath(const QString& sPath);
    QString PicturePath() const { return m_sPath; }
    void SetDefaultPicture(const QPixmap& picture);
    void SetDisplay(bool bDisplay);
    bool IsDisplayed() const { return m_bDisplay; }

    QSize sizeHint() const override { return QSize(kPictureSize, kPictureSize); }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QString m_sPath;
    QPixmap m_picture; // loaded from m_sPath
    QPixmap m_default;
    bool m_bDisplay = false;
};
