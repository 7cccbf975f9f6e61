#include "platform/SettingsStore.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include "platform/AtomicFile.h"
#include "platform/Diagnostics.h"
#include "platform/StandardFolders.h"

namespace {

const char* const kTypeKey = "type";
const char* const kDataKey = "data";
const char* const kDword = "REG_DWORD";
const char* const kSz = "REG_SZ";

enum class EFileState
{
    MISSING,
    OK,
    CORRUPT,
    UNREADABLE,
};

// Reads the whole file into a JSON object; a missing file is an empty object.
EFileState LoadFile(const QString& sPath, QJsonObject& root)
{
    const QFileInfo info(sPath);
    if (!info.exists())
        return EFileState::MISSING;
    QFile file(sPath);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        return EFileState::UNREADABLE;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return EFileState::UNREADABLE; // a read error is no reason to call the content corrupt
    if (bytes.trimmed().isEmpty())
        return EFileState::OK; // an empty file (a crash, a full disk, a user) holds no values
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return EFileState::CORRUPT;
    root = doc.object();
    return EFileState::OK;
}

// A key whose entry in the file is not an object cannot hold values: the file is damaged.
bool KeyIsMalformed(const QJsonObject& root, const QString& sKeyPath)
{
    return root.contains(sKeyPath) && !root.value(sKeyPath).isObject();
}

// A name for the damaged file beside it that no earlier set-aside file has taken.
QString CorruptAsideName(const QString& sPath)
{
    const QString sBase = sPath + ".corrupt-" + QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss");
    QString sAside = sBase;
    for (int n = 1; QFileInfo::exists(sAside) || QFileInfo(sAside).isSymLink(); ++n)
        sAside = sBase + "-" + QString::number(n);
    return sAside;
}

std::optional<SSettingValue> ValueFromJson(const QJsonValue& json)
{
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject object = json.toObject();
    const QString sType = object.value(kTypeKey).toString();
    const QJsonValue data = object.value(kDataKey);
    SSettingValue value;
    if (sType == kDword && data.isDouble()) {
        const double d = data.toDouble();
        if (d < 0 || d > 4294967295.0)
            return std::nullopt;
        value.eType = SSettingValue::TYPE_DWORD;
        value.dwValue = static_cast<DWORD>(d);
        return value;
    }
    if (sType == kSz && data.isString()) {
        value.eType = SSettingValue::TYPE_SZ;
        value.sValue = data.toString();
        return value;
    }
    return std::nullopt;
}

QJsonObject ValueToJson(const SSettingValue& value)
{
    QJsonObject object;
    if (value.eType == SSettingValue::TYPE_DWORD) {
        object.insert(kTypeKey, kDword);
        object.insert(kDataKey, static_cast<double>(value.dwValue));
    } else {
        object.insert(kTypeKey, kSz);
        object.insert(kDataKey, value.sValue);
    }
    return object;
}

// Serialises writers of all processes: read-modify-write of the file happens under this lock.
class CFileWriteLock
{
public:
    explicit CFileWriteLock(const QString& sPath)
    {
        const QByteArray lockPath = QFile::encodeName(sPath + ".lock");
        m_fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd >= 0)
            ::flock(m_fd, LOCK_EX);
    }
    ~CFileWriteLock()
    {
        if (m_fd >= 0)
            ::close(m_fd); // closing releases the lock
    }
    bool Locked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Renames the damaged file aside; its new name, or empty when it could not be renamed.
QString SetAside(const QString& sPath)
{
    const QString sAside = CorruptAsideName(sPath);
    if (!QFile::rename(sPath, sAside)) {
        ReportDiagnostic("Settings: the settings file " + sPath + " is corrupt and cannot be set aside.");
        return QString();
    }
    ReportDiagnostic("Settings: the settings file " + sPath + " was corrupt; it was kept as " + sAside +
                     " and a new file was started.");
    return sAside;
}

template <class Modify>
bool ModifyKey(const QString& sPath, const QString& sKeyPath, Modify modify)
{
    if (sPath.isEmpty() || !QDir::isAbsolutePath(sPath)) {
        ReportDiagnostic("Settings: the settings file cannot be located (no home folder); the value is not saved.");
        return false;
    }
    const QString sFolder = QFileInfo(sPath).absolutePath();
    if (!QDir().mkpath(sFolder)) {
        ReportDiagnostic("Settings: the settings folder " + sFolder + " cannot be created; the value is not saved.");
        return false;
    }
    CFileWriteLock lock(sPath);
    if (!lock.Locked()) {
        ReportDiagnostic("Settings: the settings folder " + sFolder + " is not writable; the value is not saved.");
        return false;
    }
    QJsonObject root;
    EFileState eState = LoadFile(sPath, root);
    if (eState == EFileState::OK && KeyIsMalformed(root, sKeyPath))
        eState = EFileState::CORRUPT;
    switch (eState) {
    case EFileState::UNREADABLE:
        // Replacing a file we cannot read could destroy the user's values: leave it alone.
        ReportDiagnostic("Settings: the settings file " + sPath + " cannot be read; the value is not saved.");
        return false;
    case EFileState::CORRUPT:
        if (SetAside(sPath).isEmpty())
            return false;
        root = QJsonObject();
        break;
    case EFileState::MISSING:
    case EFileState::OK: break;
    }
    QJsonObject key = root.value(sKeyPath).toObject();
    modify(key);
    root.insert(sKeyPath, key);
    DWORD dwError = ERROR_SUCCESS;
    if (!WriteFileAtomically(sPath, QJsonDocument(root).toJson(QJsonDocument::Indented), &dwError)) {
        ReportDiagnostic(QString("Settings: writing %1 failed, error %2.").arg(sPath).arg(dwError));
        return false;
    }
    return true;
}

} // namespace

CSettingsStore::CSettingsStore(QString sFilePath, QString sKeyPath)
    : m_sFilePath(std::move(sFilePath)), m_sKeyPath(std::move(sKeyPath))
{}

QString CSettingsStore::DefaultFilePath()
{
    const QString sConfig = UserConfigHome();
    if (sConfig.isEmpty())
        return QString(); // no home folder: reads give "absent", writes are refused
    return sConfig + "/Brenvik Corporation/TolvaMusicTransfer.conf";
}

CSettingsStore CSettingsStore::ProgramKey()
{
    return CSettingsStore(DefaultFilePath(), "Software\\Brenvik Corporation\\TolvaMusicTransfer");
}

CSettingsStore::ECheck CSettingsStore::CheckFile(const QString& sPath, QString* psAside)
{
    QJsonObject root;
    switch (LoadFile(sPath, root)) {
    case EFileState::MISSING:
    case EFileState::OK: return CHECK_OK;
    case EFileState::UNREADABLE: return CHECK_UNREADABLE;
    case EFileState::CORRUPT: break;
    }
    // Under the writers' lock: a writer of another process may be setting it aside right now.
    CFileWriteLock lock(sPath);
    root = QJsonObject();
    if (LoadFile(sPath, root) != EFileState::CORRUPT)
        return CHECK_OK;
    const QString sAside = SetAside(sPath);
    if (sAside.isEmpty())
        return CHECK_UNREADABLE;
    if (psAside)
        *psAside = sAside;
    return CHECK_SET_ASIDE;
}

std::optional<SSettingValue> CSettingsStore::Read(const QString& sName) const
{
    QJsonObject root;
    switch (LoadFile(m_sFilePath, root)) {
    case EFileState::OK: break;
    case EFileState::CORRUPT:
        ReportDiagnostic("Settings: the settings file " + m_sFilePath + " is corrupt; its values read as absent.");
        return std::nullopt;
    case EFileState::UNREADABLE:
        ReportDiagnostic("Settings: the settings file " + m_sFilePath + " cannot be read.");
        return std::nullopt;
    case EFileState::MISSING: return std::nullopt;
    }
    if (KeyIsMalformed(root, m_sKeyPath)) {
        ReportDiagnostic("Settings: the settings file " + m_sFilePath + " is damaged; its values read as absent.");
        return std::nullopt;
    }
    const QJsonObject key = root.value(m_sKeyPath).toObject();
    if (!key.contains(sName))
        return std::nullopt;
    std::optional<SSettingValue> value = ValueFromJson(key.value(sName));
    if (!value)
        ReportDiagnostic("Settings: the value " + sName + " in " + m_sFilePath + " is malformed; it reads as absent.");
    return value;
}

bool CSettingsStore::Write(const QString& sName, const SSettingValue& value) const
{
    return ModifyKey(m_sFilePath, m_sKeyPath, [&](QJsonObject& key) { key.insert(sName, ValueToJson(value)); });
}

bool CSettingsStore::Remove(const QString& sName) const
{
    return ModifyKey(m_sFilePath, m_sKeyPath, [&](QJsonObject& key) { key.remove(sName); });
}
