#pragma once

#include <atomic>
#include <vector>

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariant>

// The panel's side of the StatusNotifier protocol, on the test's session bus.
class CFakeStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)

public:
    explicit CFakeStatusNotifierWatcher(bool bHost) : m_bHost(bHost) {}
    ~CFakeStatusNotifierWatcher() override { Withdraw(); }

    bool Publish();
    void Withdraw();
    void HostArrives()
    {
        m_bHost = true;
        emit StatusNotifierHostRegistered();
    }

    bool IsStatusNotifierHostRegistered() const { return m_bHost; }
    int ProtocolVersion() const { return 0; }
    QStringList RegisteredStatusNotifierItems() const;

public slots:
    void RegisterStatusNotifierItem(const QString& sService);
    void RegisterStatusNotifierHost(const QString&) { HostArrives(); }

signals:
    void StatusNotifierItemRegistered(const QString& sService);
    void StatusNotifierItemUnregistered(const QString& sService);
    void StatusNotifierHostRegistered();

private:
    std::atomic<bool> m_bHost;
    bool m_bPublished = false;
    mutable QMutex m_mutex; // the watcher may answer on a thread of its own
    QStringList m_items;
};

// What a panel reads from a tray icon over the StatusNotifier protocol. Calls block with the event
// loop running: the icon answers from this thread, on a bus connection of Qt's.
class CStatusNotifierItemReader : public QObject
{
    Q_OBJECT
public:
    struct SMenuItem
    {
        int nId;
        QString sLabel;
        bool bEnabled;
    };

    explicit CStatusNotifierItemReader(QString sService);

    QVariant Property(const QString& sName) const;
    // The title of the tooltip (icon name, pictures, title, text).
    QString ToolTipTitle() const;
    // The icon's pictures as the panel receives them (every size, pixel data in order).
    QByteArray IconPixels() const;
    std::vector<SMenuItem> Menu() const;
    // The menu item with this label; nId -1 when there is none.
    SMenuItem MenuItem(const QString& sLabel) const;
    void Click(int nId) const;
    // How often the icon announced a new picture (NewIcon) since this reader was made.
    int NewIconCount() const { return m_nNewIcons; }

private slots:
    void OnNewIcon() { ++m_nNewIcons; }

private:
    QString MenuPath() const;

    QString m_sService;
    int m_nNewIcons = 0;
};

// A panel in another process: its watcher must answer while this thread waits for a reply (Qt
// asks it with blocking calls from a bus connection of its own), so it runs on a thread of its
// own, where QtDBus makes its helper objects.
class CPanel
{
public:
    CPanel();
    ~CPanel();
    bool Publish();
    bool WaitForItem();
    QString Item() const { return m_watcher.RegisteredStatusNotifierItems().front(); }

private:
    QThread m_thread;
    CFakeStatusNotifierWatcher m_watcher{true};
};
