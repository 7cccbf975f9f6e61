#include "pages/DetailDialog.h"

#include "ui_DetailDialog.h"

#include "controls/DesignId.h"
#include "desktop/Pictures.h"
#include "foundation/Environment.h"
#include "foundation/StringTable.h"

namespace {

constexpr unsigned kPictureJapanese = 239;
constexpr unsigned kPictureOther = 242;
constexpr unsigned kPictureChinese = 243;

} // namespace

CDetailDialog::CDetailDialog(QWidget* pParent) : QDialog(pParent), m_pUi(std::make_unique<Ui::CDetailDialog>())
{
    m_pUi->setupUi(this);
    setObjectName("detailDialog");
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    SetTexts();
    layout()->setSizeConstraint(QLayout::SetMinimumSize);
    adjustSize();
    connect(m_pUi->btnOK, &QPushButton::clicked, this, [this] { done(1); });
}

CDetailDialog::~CDetailDialog() = default;

unsigned CDetailDialog::PictureForLanguage(unsigned nLanguageId)
{
    switch (nLanguageId) {
    case LANG_ID_JAPANESE: return kPictureJapanese;
    case LANG_ID_CHINESE_SIMPLIFIED: return kPictureChinese;
    default: return kPictureOther;
    }
}

void CDetailDialog::SetTexts()
{
    setWindowTitle(LoadStringText(209));
    m_pUi->heading->setText(LoadStringText(208));
    SetDesignId(m_pUi->heading, m_pUi->heading->text(), 1043);
    m_nPictureId = PictureForLanguage(StringLanguage());
    m_pUi->picture->SetImageData(LoadPictureData(m_nPictureId));
    SetDesignId(m_pUi->picture, QString::number(m_nPictureId), 1073);
    m_pUi->btnOK->setText(LoadStringText(106));
    SetDesignId(m_pUi->btnOK, m_pUi->btnOK->text(), 1072);
    FitButtonToText(m_pUi->btnOK, m_pUi->btnOK->text());
}
