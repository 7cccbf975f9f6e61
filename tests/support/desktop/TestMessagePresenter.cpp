#include "support/desktop/TestMessagePresenter.h"

#include <gtest/gtest.h>

#include "foundation/StringTable.h"

CTestMessagePresenter::~CTestMessagePresenter()
{
    EXPECT_TRUE(m_answers.empty()) << m_answers.size() << " queued message box answer(s) were never used";
}

void CTestMessagePresenter::QueueAnswers(std::initializer_list<int> answers)
{
    for (int nAnswer : answers)
        SetNextAnswer(nAnswer);
}

std::vector<unsigned> CTestMessagePresenter::ShownIds() const
{
    std::vector<unsigned> ids;
    for (const SMessageBox& box : m_shown)
        ids.push_back(box.nTextId);
    return ids;
}

int CTestMessagePresenter::Show(QWidget*, const SMessageBox& box)
{
    SMessageBox shown = box;
    if (shown.sText.isEmpty())
        shown.sText = LoadStringText(box.nTextId);
    m_shown.push_back(shown);
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected message box " << box.nTextId << ": " << shown.sText.toStdString();
        return box.nDefault;
    }
    const WhileOpen whileOpen = std::move(m_answers.front());
    m_answers.pop_front();
    // Boxes may nest (a handler that runs while one is open shows another); each level keeps
    // its own closed-by-program mark.
    const bool bOuterClosed = m_bClosedByProgram;
    m_bClosedByProgram = false;
    ++m_nOpen;
    const int nAnswer = whileOpen();
    --m_nOpen;
    const bool bClosed = m_bClosedByProgram;
    m_bClosedByProgram = bOuterClosed;
    return bClosed ? IDNO : nAnswer;
}

bool CTestMessagePresenter::CloseOpen()
{
    if (m_nOpen == 0)
        return false;
    m_bClosedByProgram = true;
    return true;
}
