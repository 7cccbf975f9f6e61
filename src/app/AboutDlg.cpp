#include "app/AboutDlg.h"

#include "ui_AboutDlg.h"

#include "app/ResourceIds.h"
#include "controls/DesignId.h"
#include "desktop/Pictures.h"
#include "foundation/StringTable.h"

namespace {

constexpr int kIconSize = 48;

} // namespace

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent), m_pUi(std::make_unique<Ui::CAboutDlg>())
{
    m_pUi->setupUi(this);
    setObjectName("aboutDialog");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    SetTexts();
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    adjustSize();
    connect(m_pUi->btnOK, &QPushButton::clicked, this, [this] { done(1); });
}

CAboutDlg::~CAboutDlg() = default;

void CAboutDlg::SetTexts()
{
    setWindowTitle(LoadStringText(136));
    m_pUi->iconLabel->setPixmap(LoadPicture(IDI_APPLICATION_ICON, QSize(kIconSize, kIconSize), devicePixelRatioF()));
    m_pUi->versionText->setText(QStringLiteral("%1 %2").arg(LoadStringText(137), QLatin1String(kVersion)));
    SetDesignId(m_pUi->versionText, m_pUi->versionText->text(), 1032);
    // Line 1034: the copyright, then what the program is built with and under which licences.
    m_pUi->noticeText->setText(
        QStringLiteral("%1\nBuilt with Qt %2 (LGPL v3), libcurl (curl licence), libxml2 (MIT licence) and "
                       "libsmbclient (GPL v3).")
            .arg(LoadStringText(138), QLatin1String(qVersion())));
    SetDesignId(m_pUi->noticeText, LoadStringText(138), 1034);
    m_pUi->btnOK->setText(LoadStringText(139));
    SetDesignId(m_pUi->btnOK, m_pUi->btnOK->text(), 1);
    FitButtonToText(m_pUi->btnOK, m_pUi->btnOK->text());
}

QString CAboutDlg::VersionLine() const
{
    return m_pUi->versionText->text();
}

QString CAboutDlg::NoticeLine() const
{
    return m_pUi->noticeText->text();
}
