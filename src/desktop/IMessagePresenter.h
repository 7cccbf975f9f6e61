#pragma once

#include <QString>

class QWidget;

// Results of a message box, with the numeric values the program's message handlers compare.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

enum EMessageIcon { MSG_ICON_NONE, MSG_ICON_INFORMATION, MSG_ICON_WARNING, MSG_ICON_ERROR, MSG_ICON_QUESTION };
enum EMessageButtons { MSG_BUTTONS_OK, MSG_BUTTONS_YESNO, MSG_BUTTONS_OKCANCEL };

// One message box of the program: its text (by string id, already formatted when it has
// arguments), icon, buttons and default button. The caption is always string 101.
struct SMessageBox
{
    unsigned nTextId = 0; // string table id; names the box in tests and in the log
    QString sText;        // the text shown; empty: the string table's text of nTextId
    EMessageIcon eIcon = MSG_ICON_NONE;
    EMessageButtons eButtons = MSG_BUTTONS_OK;
    int nDefault = IDOK;
};

// Shows every message box of the program. The desktop program uses a modal QMessageBox; tests
// use a double that answers from a queue, so no test ever blocks on a box.
class IMessagePresenter
{
public:
    virtual ~IMessagePresenter() = default;
    // Shows the box modally over pOwner (null: no owner, as at start-up) and returns the
    // button pressed (IDOK, IDCANCEL, IDYES, IDNO); IDNO when CloseOpen() ended it.
    virtual int Show(QWidget* pOwner, const SMessageBox& box) = 0;
    // Ends the box on show with IDNO; false when none is open.
    virtual bool CloseOpen() = 0;
    virtual bool IsOpen() const = 0;
};
