#include "support/desktop/TestFolderPicker.h"

#include <gtest/gtest.h>

CTestFolderPicker::~CTestFolderPicker()
{
    EXPECT_TRUE(m_answers.empty()) << m_answers.size() << " queued folder dialog answer(s) were never used";
}

QString CTestFolderPicker::PickFolder(QWidget*, const QString& sTitle)
{
    m_titles.push_back(sTitle);
    if (m_answers.empty()) {
        ADD_FAILURE() << "unexpected folder dialog: " << sTitle.toStdString();
        return QString();
    }
    const auto answer = std::move(m_answers.front());
    m_answers.pop_front();
    return answer();
}
