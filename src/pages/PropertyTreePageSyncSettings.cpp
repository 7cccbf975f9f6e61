#include "pages/PropertyTreePageSyncSettings.h"

#include "ui_PropertyTreePageSyncSettings.h"

#include <algorithm>

#include "foundation/Settings.h"

namespace {
// The retry count for a player that is not ready, written with every apply.
constexpr DWORD kDevicePowerFrequency = 20;
} // namespace

CPropertyTreePageSyncSettings::CPropertyTreePageSyncSettings(QWidget* pParent)
    : CPropertyTreePage(kTemplateId, pParent), m_pUi(std::make_unique<Ui::CPropertyTreePageSyncSettings>())
{
    m_pUi->setupUi(this);
    setObjectName("pageSyncSettings");
    setAccessibleName("Transfer Settings (111)");
    m_autoTransfer.Load(true);
    m_minutes.Load(kDefaultMinutes);
    m_priority.Load(PROGRESS_LEVEL_MID);
    m_destination.Load(SAVE_POSITION_AUTO);
}

CPropertyTreePageSyncSettings::~CPropertyTreePageSyncSettings() = default;

void CPropertyTreePageSyncSettings::InitPage()
{
    // The stored values become both current and saved: loading is not an edit.
    DWORD dwMinutes = 0;
    if (!ReadSettingDword(kSettingAutoTransferTime, &dwMinutes) || dwMinutes == 0)
        dwMinutes = kDefaultMinutes;
    m_minutes.Load(static_cast<int>(std::min<DWORD>(dwMinutes, 0x7fffffff)));
    const bool bAutoExists = SettingExists(kSettingAutoTransfer);
    DWORD dwAuto = 0;
    m_autoTransfer.Load(!bAutoExists || (ReadSettingDword(kSettingAutoTransfer, &dwAuto) && dwAuto == 1));
    m_priority.Load(GetProgressLevel());
    if (bAutoExists) {
        m_destination.Load(GetSyncFileSavePosition());
    } else {
        m_destination.Load(SAVE_POSITION_AUTO);
        SetSyncFileSavePosition(SAVE_POSITION_AUTO);
    }
}

bool CPropertyTreePageSyncSettings::IsMinutesModified()
{
    ClampMinutes();
    return m_minutes.IsModified();
}

void CPropertyTreePageSyncSettings::CommitValues()
{
    m_autoTransfer.Commit();
    m_minutes.Commit();
    m_priority.Commit();
    m_destination.Commit();
}

void CPropertyTreePageSyncSettings::ApplySyncSettings()
{
    // Starting and stopping idle detection, the tray icon and the process priority follow these
    // values once the page's transfer controls exist; the stored values are written here.
    WriteSettingDword(kSettingAutoTransfer, m_autoTransfer.current ? 1 : 0);
    WriteSettingDword(kSettingAutoTransferTime, static_cast<DWORD>(m_minutes.current));
    WriteSettingDword(kSettingProgressLevel, m_priority.current);
    WriteSettingDword(kSettingDevicePowerFrequency, kDevicePowerFrequency);
    WriteSettingDword(kSettingSyncFileSavePosition, m_destination.current);
}

void CPropertyTreePageSyncSettings::SetAutoTransfer(bool bOn)
{
    m_autoTransfer.current = bOn;
    NotifyChanged();
}

void CPropertyTreePageSyncSettings::SetMinutes(int nMinutes)
{
    m_minutes.current = nMinutes;
    NotifyChanged();
}

void CPropertyTreePageSyncSettings::SetPriority(DWORD dwLevel)
{
    m_priority.current = dwLevel;
    NotifyChanged();
}

void CPropertyTreePageSyncSettings::SetDestination(DWORD dwPosition)
{
    m_destination.current = dwPosition;
    NotifyChanged();
}

void CPropertyTreePageSyncSettings::ClampMinutes()
{
    m_minutes.current = std::clamp(m_minutes.current, 1, 60);
}

// The manual transfer's Start/Stop button and its cancel come with the page's transfer controls.
void CPropertyTreePageSyncSettings::StartOrStopTransfer() {}
void CPropertyTreePageSyncSettings::HandleCancelFileSync() {}
