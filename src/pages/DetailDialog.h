#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class CDetailDialog;
}

// The IP-address help of the Connection page: how to read the player's address on the player,
// as a picture in the program's language (239 Japanese, 243 Chinese, 242 every other language).
// OK ends it with 1.
class CDetailDialog final : public QDialog
{
    Q_OBJECT
public:
    explicit CDetailDialog(QWidget* pParent = nullptr);
    ~CDetailDialog() override;

    // The help picture for a language id of the string tables.
    static unsigned PictureForLanguage(unsigned nLanguageId);
    unsigned PictureId() const { return m_nPictureId; }

protected:
    void reject() override { done(1); }

private:
    void SetTexts();

    const std::unique_ptr<Ui::CDetailDialog> m_pUi;
    unsigned m_nPictureId = 0;
};
