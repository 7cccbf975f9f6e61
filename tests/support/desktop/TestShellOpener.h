#pragma once

#include <deque>
#include <initializer_list>
#include <utility>
#include <vector>

#include <QString>
#include <QStringList>

#include "desktop/IShellOpener.h"

// Opening addresses in tests: records every address and answers with a scripted result. As the
// real opener, it never answers inside Open(): the answers wait until CompletePending() (or,
// with auto-completion on, until the event loop runs).
class CTestShellOpener final : public IShellOpener
{
public:
    void SetResult(bool bOpened) { m_bResult = bOpened; }
    // Results for the next calls, in order; when used up, SetResult's result applies.
    void QueueResults(std::initializer_list<bool> results) { m_queued.insert(m_queued.end(), results); }
    // Posts each answer to the event loop instead of waiting for CompletePending().
    void SetAutoComplete(bool bOn) { m_bAutoComplete = bOn; }

    void Open(const QString& sUrl, Done done) override;
    // Runs the answers of the calls made so far (and of calls those answers make); returns how many.
    int CompletePending();

    const QStringList& Opened() const { return m_opened; }
    int PendingCount() const { return static_cast<int>(m_pending.size()); }

private:
    bool NextResult();

    bool m_bResult = true;
    bool m_bAutoComplete = false;
    std::deque<bool> m_queued;
    QStringList m_opened;
    std::deque<std::pair<Done, bool>> m_pending;
};
