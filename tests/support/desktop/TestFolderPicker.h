#pragma once

#include <deque>
#include <functional>
#include <vector>

#include <QString>

#include "desktop/IFolderPicker.h"

// The folder dialog in tests: answers from a queue and records each title shown. A dialog with no
// answer queued fails the test and answers "cancelled". A queued action runs while the dialog is
// "open" (to check what the program did before showing it).
class CTestFolderPicker final : public IFolderPicker
{
public:
    ~CTestFolderPicker() override;

    void SetNextAnswer(const QString& sFolder)
    {
        m_answers.push_back([sFolder] { return sFolder; });
    }
    void QueueWhileOpen(std::function<QString()> whileOpen) { m_answers.push_back(std::move(whileOpen)); }
    const std::vector<QString>& Titles() const { return m_titles; }

    QString PickFolder(QWidget* pOwner, const QString& sTitle) override;

private:
    std::deque<std::function<QString()>> m_answers;
    std::vector<QString> m_titles;
};
