#pragma once

#include <deque>
#include <functional>
#include <initializer_list>
#include <vector>

#include "desktop/IMessagePresenter.h"

// The message boxes of the program in tests: never shows a window and never blocks. Each box takes
// the next queued answer; a box with no answer queued fails the test (and answers its default
// button), so a box the test did not expect cannot hang the run or pass unseen. Every box shown is
// recorded with its text as the user would read it.
class CTestMessagePresenter final : public IMessagePresenter
{
public:
    // What happens while a box is open: runs with IsOpen() true and returns the button pressed.
    // When it calls CloseOpen(), the box answers IDNO instead, as a real box ended that way does.
    using WhileOpen = std::function<int()>;

    ~CTestMessagePresenter() override;

    void SetNextAnswer(int nAnswer)
    {
        m_answers.push_back([nAnswer] { return nAnswer; });
    }
    void QueueAnswers(std::initializer_list<int> answers);
    void QueueWhileOpen(WhileOpen whileOpen) { m_answers.push_back(std::move(whileOpen)); }
    // Answers not taken yet; the destructor fails the test when some are left.
    int PendingAnswers() const { return static_cast<int>(m_answers.size()); }
    void DiscardAnswers() { m_answers.clear(); }

    const std::vector<SMessageBox>& Shown() const { return m_shown; }
    std::vector<unsigned> ShownIds() const;
    void ClearShown() { m_shown.clear(); }

    int Show(QWidget* pOwner, const SMessageBox& box) override;
    bool CloseOpen() override;
    bool IsOpen() const override { return m_nOpen > 0; }

private:
    std::deque<WhileOpen> m_answers;
    std::vector<SMessageBox> m_shown;
    int m_nOpen = 0;
    bool m_bClosedByProgram = false;
};
