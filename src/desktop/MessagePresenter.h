#pragma once

#include <vector>

#include <QPointer>

#include "desktop/IMessagePresenter.h"

class QMessageBox;

// The program's message boxes as modal QMessageBoxes titled with string 101. The standard
// buttons' texts follow the program's language through Qt's own translations, which start-up
// installs. Boxes may nest (an event handled while one is open shows another); CloseOpen ends the
// innermost one. Use on the user interface thread only.
class CMessagePresenter final : public IMessagePresenter
{
public:
    int Show(QWidget* pOwner, const SMessageBox& box) override;
    bool CloseOpen() override;
    bool IsOpen() const override;

private:
    struct SOpenBox
    {
        QPointer<QMessageBox> pBox;
        bool bClosedByProgram = false;
    };
    std::vector<SOpenBox> m_open; // innermost last
};
