#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class CAboutDlg;
}

// The About box: the program's icon, "Version 1.3.0.09060", the copyright and the notice about
// the libraries the program is built with. OK and the close box end it with 1.
class CAboutDlg final : public QDialog
{
    Q_OBJECT
public:
    static constexpr const char* kVersion = "1.3.0.09060";

    explicit CAboutDlg(QWidget* pParent = nullptr);
    ~CAboutDlg() override;

    QString VersionLine() const;
    QString NoticeLine() const;

    // The close box ends it with 1, as OK does.
    void reject() override { done(1); }

private:
    void SetTexts();

    const std::unique_ptr<Ui::CAboutDlg> m_pUi;
};
