#pragma once

#include <memory>

#include <QByteArray>
#include <QImage>
#include <QWidget>

class QSvgRenderer;

// A picture box that draws an image held in memory (PNG or SVG bytes), stretched to the whole
// control. An SVG is drawn afresh at the screen's pixel ratio, so it stays sharp at every scale.
// Until an image is set the control shows only its background.
class CAutoPicture : public QWidget
{
    Q_OBJECT
public:
    explicit CAutoPicture(QWidget* pParent = nullptr);
    ~CAutoPicture() override;

    // Takes the image bytes; false (and nothing shown) when they hold no readable image.
    bool SetImageData(const QByteArray& bytes);
    bool IsLoaded() const { return m_bLoaded; }
    // The image's own size in logical pixels (empty when none is loaded).
    QSize ImageSize() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QByteArray m_bytes;
    QImage m_image;                       // a raster image
    std::unique_ptr<QSvgRenderer> m_pSvg; // or a drawing
    bool m_bLoaded = false;
};
