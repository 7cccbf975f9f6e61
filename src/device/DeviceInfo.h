#pragma once

#include <atomic>
#include <mutex>

#include <QString>
#include <QStringList>

// A copy of a device record's fields, taken under the record's lock; what other threads get
// instead of the record itself.
struct SDeviceSnapshot
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
    bool bManualAdded = false;
    bool bOnline = true;
    bool bTransferring = false;
};

// One known player: created by the device search or a manual add, owned by the device table,
// keyed by its UPnP unique device name (UDN). The search thread changes the address and the
// name while other threads read them, so every text field is read and written under the
// record's own lock; the flags are atomic. The record's lock is the innermost lock of the
// device code: nothing else is locked while it is held.
class CDeviceInfo
{
public:
    CDeviceInfo() = default;
    explicit CDeviceInfo(const SDeviceSnapshot& fields) { SetFields(fields); }
    CDeviceInfo(const CDeviceInfo&) = delete;
    CDeviceInfo& operator=(const CDeviceInfo&) = delete;

    QString Uuid() const { return Get(m_sUuid); }
    QString FriendlyName() const { return Get(m_sFriendlyName); }
    QString JpegIconUrl() const { return Get(m_sJpegIconUrl); }
    QString PngIconUrl() const { return Get(m_sPngIconUrl); }
    QString Ip() const { return Get(m_sIp); }
    QString JpegIconPath() const { return Get(m_sJpegIconPath); }
    QString PngIconPath() const { return Get(m_sPngIconPath); }
    QString BaseUrl() const { return Get(m_sBaseUrl); }
    QStringList SupportedTypes() const
    {
        std::lock_guard lock(m_mutex);
        return m_supportedTypes;
    }

    void SetUuid(const QString& s) { Set(m_sUuid, s); }
    void SetFriendlyName(const QString& s) { Set(m_sFriendlyName, s); }
    void SetJpegIconUrl(const QString& s) { Set(m_sJpegIconUrl, s); }
    void SetPngIconUrl(const QString& s) { Set(m_sPngIconUrl, s); }
    void SetIp(const QString& s) { Set(m_sIp, s); }
    void SetJpegIconPath(const QString& s) { Set(m_sJpegIconPath, s); }
    void SetPngIconPath(const QString& s) { Set(m_sPngIconPath, s); }
    void SetBaseUrl(const QString& s) { Set(m_sBaseUrl, s); }
    void SetSupportedTypes(const QStringList& types)
    {
        std::lock_guard lock(m_mutex);
        m_supportedTypes = types;
    }

    // Stores the address when it differs without regard to letter case; true when it changed.
    bool UpdateIp(const QString& sIp)
    {
        std::lock_guard lock(m_mutex);
        if (m_sIp.compare(sIp, Qt::CaseInsensitive) == 0)
            return false;
        Assign(m_sIp, sIp);
        return true;
    }
    // Stores the name when it differs exactly; true when it changed.
    bool UpdateFriendlyName(const QString& sName)
    {
        std::lock_guard lock(m_mutex);
        if (m_sFriendlyName == sName)
            return false;
        Assign(m_sFriendlyName, sName);
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
        SDeviceSnapshot fields;
        {
            std::lock_guard lock(m_mutex);
            Assign(fields.sUuid, m_sUuid);
            Assign(fields.sFriendlyName, m_sFriendlyName);
            Assign(fields.sJpegIconUrl, m_sJpegIconUrl);
            Assign(fields.sPngIconUrl, m_sPngIconUrl);
            Assign(fields.sIp, m_sIp);
            Assign(fields.sJpegIconPath, m_sJpegIconPath);
            Assign(fields.sPngIconPath, m_sPngIconPath);
            Assign(fields.sBaseUrl, m_sBaseUrl);
            fields.supportedTypes = m_supportedTypes;
        }
        fields.bManualAdded = IsManualAdded();
        fields.bOnline = IsOnline();
        fields.bTransferring = IsTransferring();
        return fields;
    }

    // Sets every field from a snapshot (the transferring flag included).
    void SetFields(const SDeviceSnapshot& fields)
    {
        {
            std::lock_guard lock(m_mutex);
            Assign(m_sUuid, fields.sUuid);
            Assign(m_sFriendlyName, fields.sFriendlyName);
            Assign(m_sJpegIconUrl, fields.sJpegIconUrl);
            Assign(m_sPngIconUrl, fields.sPngIconUrl);
            Assign(m_sIp, fields.sIp);
            Assign(m_sJpegIconPath, fields.sJpegIconPath);
            Assign(m_sPngIconPath, fields.sPngIconPath);
            Assign(m_sBaseUrl, fields.sBaseUrl);
            m_supportedTypes = fields.supportedTypes;
        }
        SetManualAdded(fields.bManualAdded);
        SetOnline(fields.bOnline);
        SetTransferring(fields.bTransferring);
    }

private:
    QString Get(const QString& sField) const
    {
        std::lock_guard lock(m_mutex);
        return sField;
    }
    void Set(QString& sField, const QString& sValue)
    {
        std::lock_guard lock(m_mutex);
        Assign(sField, sValue);
    }
    // Copy and swap rather than QString's assignment: the texts are shared between threads by
    // reference count, and this keeps every count change in code the thread checker can see.
    static void Assign(QString& sField, const QString& sValue)
    {
        QString sCopy(sValue);
        sField.swap(sCopy);
    }

    mutable std::mutex m_mutex; // guards the texts and the extension list
    QString m_sUuid;
    QString m_sFriendlyName;
    QString m_sJpegIconUrl;
    QString m_sPngIconUrl;
    QString m_sIp;
    QString m_sJpegIconPath;
    QString m_sPngIconPath;
    QString m_sBaseUrl;
    QStringList m_supportedTypes; // extensions without the dot, in the order the player gave them
    std::atomic<bool> m_bManualAdded{false};
    std::atomic<bool> m_bOnline{true};
    std::atomic<bool> m_bTransferring{false};
};
