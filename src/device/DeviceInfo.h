#pragma once

#include <atomic>
#include <mutex>

#include <QString>
#include <QStringList>

// A device record's texts and extension list.
struct SDeviceTexts
{
    QString sUuid;
    QString sFriendlyName;
    QString sJpegIconUrl;
    QString sPngIconUrl;
    QString sIp;
    QString sJpegIconPath;
    QString sPngIconPath;
    QString sBaseUrl;
    QStringList supportedTypes;
};

// A copy of a device record's fields, taken under the record's lock; what other threads get
// instead of the record itself.
struct SDeviceSnapshot : SDeviceTexts
{
    bool bManualAdded = false;
    bool bOnline = true;
    bool bTransferring = false;
};

// One known player: created by the device search or a manual add, owned by the device table,
// keyed by its UPnP unique device name (UDN). The search thread changes the address and the
// name while other threads read them, so the texts are read and written under the record's own
// lock; the flags are atomic. The record's lock is the innermost lock of the device code:
// nothing else is locked while it is held.
class CDeviceInfo
{
public:
    CDeviceInfo() = default;
    explicit CDeviceInfo(const SDeviceSnapshot& fields) { SetFields(fields); }
    CDeviceInfo(const CDeviceInfo&) = delete;
    CDeviceInfo& operator=(const CDeviceInfo&) = delete;

    QString Uuid() const { return Get(&SDeviceTexts::sUuid); }
    QString FriendlyName() const { return Get(&SDeviceTexts::sFriendlyName); }
    QString JpegIconUrl() const { return Get(&SDeviceTexts::sJpegIconUrl); }
    QString PngIconUrl() const { return Get(&SDeviceTexts::sPngIconUrl); }
    QString Ip() const { return Get(&SDeviceTexts::sIp); }
    QString JpegIconPath() const { return Get(&SDeviceTexts::sJpegIconPath); }
    QString PngIconPath() const { return Get(&SDeviceTexts::sPngIconPath); }
    QString BaseUrl() const { return Get(&SDeviceTexts::sBaseUrl); }
    QStringList SupportedTypes() const
    {
        std::lock_guard lock(m_mutex);
        return m_texts.supportedTypes;
    }

    void SetUuid(const QString& s) { Set(&SDeviceTexts::sUuid, s); }
    void SetFriendlyName(const QString& s) { Set(&SDeviceTexts::sFriendlyName, s); }
    void SetJpegIconUrl(const QString& s) { Set(&SDeviceTexts::sJpegIconUrl, s); }
    void SetPngIconUrl(const QString& s) { Set(&SDeviceTexts::sPngIconUrl, s); }
    void SetIp(const QString& s) { Set(&SDeviceTexts::sIp, s); }
    void SetJpegIconPath(const QString& s) { Set(&SDeviceTexts::sJpegIconPath, s); }
    void SetPngIconPath(const QString& s) { Set(&SDeviceTexts::sPngIconPath, s); }
    void SetBaseUrl(const QString& s) { Set(&SDeviceTexts::sBaseUrl, s); }
    void SetSupportedTypes(const QStringList& types)
    {
        std::lock_guard lock(m_mutex);
        m_texts.supportedTypes = types;
    }

    // Stores the address when it differs without regard to letter case; true when it changed.
    bool UpdateIp(const QString& sIp)
    {
        std::lock_guard lock(m_mutex);
        if (m_texts.sIp.compare(sIp, Qt::CaseInsensitive) == 0)
            return false;
        Assign(m_texts.sIp, sIp);
        return true;
    }
    // Stores the name when it differs exactly; true when it changed.
    bool UpdateFriendlyName(const QString& sName)
    {
        std::lock_guard lock(m_mutex);
        if (m_texts.sFriendlyName == sName)
            return false;
        Assign(m_texts.sFriendlyName, sName);
        return true;
    }

    bool IsManualAdded() const { return m_bManualAdded.load(); }
    void SetManualAdded(bool b) { m_bManualAdded.store(b); }
    // Seen since the last offline check; a new record starts online.
    bool IsOnline() const { return m_bOnline.load(); }
    void SetOnline(bool b) { m_bOnline.store(b); }
    // A transfer to this player runs; the current device cannot be switched away meanwhile.
    bool IsTransferring() const { return m_bTransferring.load(); }
    void SetTransferring(bool b) { m_bTransferring.store(b); }

    SDeviceSnapshot Snapshot() const
    {
        std::unique_lock lock(m_mutex);
        SDeviceSnapshot fields{m_texts};
        lock.unlock();
        fields.bManualAdded = IsManualAdded();
        fields.bOnline = IsOnline();
        fields.bTransferring = IsTransferring();
        return fields;
    }

    // Sets every field from a snapshot (the transferring flag included).
    void SetFields(const SDeviceSnapshot& fields)
    {
        {
            SDeviceTexts texts(fields);
            std::lock_guard lock(m_mutex);
            m_texts = std::move(texts); // the old texts go with `texts`, see Assign
        }
        SetManualAdded(fields.bManualAdded);
        SetOnline(fields.bOnline);
        SetTransferring(fields.bTransferring);
    }

private:
    QString Get(QString SDeviceTexts::*pField) const
    {
        std::lock_guard lock(m_mutex);
        return m_texts.*pField;
    }
    void Set(QString SDeviceTexts::*pField, const QString& sValue)
    {
        std::lock_guard lock(m_mutex);
        Assign(m_texts.*pField, sValue);
    }
    // Copy and swap rather than QString's assignment: the texts are shared between threads by
    // reference count, and this keeps every count change in code the thread checker can see.
    static void Assign(QString& sField, const QString& sValue)
    {
        QString sCopy(sValue);
        sField.swap(sCopy);
    }

    mutable std::mutex m_mutex; // guards m_texts
    SDeviceTexts m_texts;       // the extension list without dots, in the order the player gave it
    std::atomic<bool> m_bManualAdded{false};
    std::atomic<bool> m_bOnline{true};
    std::atomic<bool> m_bTransferring{false};
};
