#pragma once

#include <QColor>
#include <QWidget>

// One page label of the settings window (Connection, Contents Settings, Transfer Settings): the
// label of the page on show is filled orange, the others are plain, and a page that cannot be
// reached has its text greyed blue. The owner sets the state; a click is reported to the owner,
// which decides whether it switches pages.
class CSelFocus : public QWidget
{
    Q_OBJECT
public:
    enum EState
    {
        SEL_FOCUS_SELECTED = 0,
        SEL_FOCUS_NORMAL = 1,
        SEL_FOCUS_UNAVAILABLE = 2,
    };
    static constexpr QRgb kSelectedColour = qRgb(255, 192, 0);
    static constexpr QRgb kUnavailableTextColour = qRgb(136, 148, 183);
    // The text starts this far right of and below the label's top-left corner.
    static constexpr int kTextLeft = 6;
    static constexpr int kTextTop = 3;

    explicit CSelFocus(QWidget* pParent = nullptr);

    void SetState(int nState);
    int State() const { return m_nState; }
    void SetText(const QString& sText);
    QString Text() const { return m_sText; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void Clicked();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;

private:
    int m_nState = SEL_FOCUS_NORMAL;
    QString m_sText;
};
