#include "support/desktop/FakeStatusNotifierHost.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMutexLocker>
#include <QTest>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// Reads an array of (width, height, ARGB bytes) pictures; returns them as "WxH:" plus the bytes
// each, one after the other.
QByteArray ReadPixmaps(const QDBusArgument& arg)
{
    QByteArray all;
    arg.beginArray();
    while (!arg.atEnd()) {
        int nWidth = 0, nHeight = 0;
        QByteArray pixels;
        arg.beginStructure();
        arg >> nWidth >> nHeight >> pixels;
        arg.endStructure();
        all += QByteArray::number(nWidth) + 'x' + QByteArray::number(nHeight) + ':' + pixels;
    }
    arg.endArray();
    return all;
}

void ReadLayout(const QDBusArgument& arg, std::vector<CStatusNotifierItemReader::SMenuItem>& items)
{
    int nId = 0;
    QVariantMap properties;
    arg.beginStructure();
    arg >> nId >> properties;
    if (properties.contains(QStringLiteral("label")))
        items.push_back({nId, properties.value(QStringLiteral("label")).toString(),
                         properties.value(QStringLiteral("enabled"), true).toBool()});
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        ReadLayout(child.variant().value<QDBusArgument>(), items);
    }
    arg.endArray();
    arg.endStructure();
}

} // namespace

bool CFakeStatusNotifierWatcher::Publish()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_bPublished = bus.registerObject(kWatcherPath, this,
                                      QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots |
                                          QDBusConnection::ExportAllSignals) &&
                   bus.registerService(kWatcherService);
    return m_bPublished;
}

void CFakeStatusNotifierWatcher::Withdraw()
{
    if (!m_bPublished)
        return;
    QDBusConnection::sessionBus().unregisterService(kWatcherService);
    QDBusConnection::sessionBus().unregisterObject(kWatcherPath);
    m_bPublished = false;
}

QStringList CFakeStatusNotifierWatcher::RegisteredStatusNotifierItems() const
{
    const QMutexLocker lock(&m_mutex);
    return m_items;
}

void CFakeStatusNotifierWatcher::RegisterStatusNotifierItem(const QString& sService)
{
    // The test reads the list; no StatusNotifierItemRegistered, as QtDBus may run this slot
    // outside the watcher's thread, where it cannot relay signals.
    const QMutexLocker lock(&m_mutex);
    m_items.push_back(sService);
}

CStatusNotifierItemReader::CStatusNotifierItemReader(QString sService) : m_sService(std::move(sService))
{
    QDBusConnection::sessionBus().connect(m_sService, kItemPath, kItemInterface, QStringLiteral("NewIcon"), this,
                                          SLOT(OnNewIcon()));
}

QVariant CStatusNotifierItemReader::Property(const QString& sName) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        m_sService, kItemPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << kItemInterface << sName;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000);
    return reply.arguments().isEmpty() ? QVariant() : reply.arguments().at(0).value<QDBusVariant>().variant();
}

QString CStatusNotifierItemReader::ToolTipTitle() const
{
    const QDBusArgument arg = Property(QStringLiteral("ToolTip")).value<QDBusArgument>();
    QString sIconName, sTitle, sText;
    arg.beginStructure();
    arg >> sIconName;
    ReadPixmaps(arg);
    arg >> sTitle >> sText;
    arg.endStructure();
    return sTitle;
}

QByteArray CStatusNotifierItemReader::IconPixels() const
{
    const QDBusArgument arg = Property(QStringLiteral("IconPixmap")).value<QDBusArgument>();
    return ReadPixmaps(arg);
}

std::vector<CStatusNotifierItemReader::SMenuItem> CStatusNotifierItemReader::Menu() const
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_sService, MenuPath(), QStringLiteral("com.canonical.dbusmenu"),
                                                       QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000);
    std::vector<SMenuItem> items;
    if (reply.arguments().size() == 2)
        ReadLayout(reply.arguments().at(1).value<QDBusArgument>(), items);
    return items;
}

CStatusNotifierItemReader::SMenuItem CStatusNotifierItemReader::MenuItem(const QString& sLabel) const
{
    for (const SMenuItem& item : Menu()) {
        if (item.sLabel == sLabel)
            return item;
    }
    return {-1, QString(), false};
}

void CStatusNotifierItemReader::Click(int nId) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_sService, MenuPath(), QStringLiteral("com.canonical.dbusmenu"),
                                                       QStringLiteral("Event"));
    call << nId << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
    QDBusConnection::sessionBus().call(call, QDBus::BlockWithGui, 5000);
}

QString CStatusNotifierItemReader::MenuPath() const
{
    return Property(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
}

CPanel::CPanel()
{
    m_watcher.moveToThread(&m_thread);
    m_thread.start();
}

CPanel::~CPanel()
{
    QMetaObject::invokeMethod(
        &m_watcher, [&] { m_watcher.Withdraw(); }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool CPanel::Publish()
{
    bool bPublished = false;
    QMetaObject::invokeMethod(
        &m_watcher, [&] { bPublished = m_watcher.Publish(); }, Qt::BlockingQueuedConnection);
    return bPublished;
}

bool CPanel::WaitForItem()
{
    return QTest::qWaitFor([&] { return !m_watcher.RegisteredStatusNotifierItems().isEmpty(); }, 5000);
}
