#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ShellFixture.h"
#include "TextFitCheck.h"
#include "controls/SelFocus.h"

namespace {

// The screenshot check must find texts that are cut off, or it proves nothing.
TEST(CTextFitCheckTest, FindsCutOffLabelsButtonsAndPageLabelsAndPassesFittingOnes)
{
    QWidget window;
    auto* pLayout = new QVBoxLayout(&window);
    auto* pFits = new QLabel("Fits", &window);
    auto* pCut = new QLabel("A text far too long for its label", &window);
    pCut->setObjectName("cutLabel");
    pCut->setFixedWidth(40);
    auto* pWrapped = new QLabel("A wrapped text that needs several lines of room to be read in full", &window);
    pWrapped->setWordWrap(true);
    pWrapped->setFixedSize(80, 20);
    auto* pButton = new QPushButton("Quit Setup Wizard and start transferring", &window);
    pButton->setAccessibleName("Start (1)");
    pButton->setFixedWidth(60);
    auto* pEmpty = new QPushButton(&window);
    pEmpty->setObjectName("emptyButton");
    auto* pPageLabel = new CSelFocus(&window);
    pPageLabel->SetText("Übertragungseinstellungen");
    pPageLabel->setFixedWidth(50);
    auto* pHidden = new QLabel("A hidden label that would not fit", &window);
    pHidden->setFixedWidth(10);
    pHidden->hide();
    for (QWidget* pWidget : std::initializer_list<QWidget*>{pFits, pCut, pWrapped, pButton, pEmpty, pPageLabel})
        pLayout->addWidget(pWidget);
    window.show();

    const QStringList offenders = FindCutOffTexts(&window);
    const QString sAll = offenders.join('\n');
    EXPECT_EQ(offenders.size(), 5) << sAll.toStdString();
    EXPECT_TRUE(sAll.contains("cutLabel \"A text far too long")) << sAll.toStdString();
    EXPECT_TRUE(sAll.contains("A wrapped text")) << sAll.toStdString();
    EXPECT_TRUE(sAll.contains("Start (1)")) << sAll.toStdString();
    EXPECT_TRUE(sAll.contains("emptyButton \"\": has no text")) << sAll.toStdString();
    EXPECT_TRUE(sAll.contains("Übertragungseinstellungen")) << sAll.toStdString();
    EXPECT_FALSE(sAll.contains("Fits") || sAll.contains("hidden")) << sAll.toStdString();
}

} // namespace
