#pragma once

#include <memory>

#include <QByteArray>
#include <QList>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include "PlayerState.h"

// The player's SSDP side: listens on the SSDP group (joined on the interface that holds the
// player's address), answers M-SEARCH for the targets it offers by unicast to the searcher,
// from a socket bound to its own address, and sends NOTIFY alive and byebye announcements out
// of that interface. The targets: ssdp:all, upnp:rootdevice, its UDN, its device type and the
// web API service type.
class CSsdpResponder
{
public:
    explicit CSsdpResponder(SPlayerState& state);
    ~CSsdpResponder();

    bool Open(QString* pError); // binds on the state's current address
    void Close();
    bool IsOpen() const { return m_nListenFd >= 0; }

    void SendAlive();
    void SendByeBye();
    int SearchesAnswered() const { return m_nAnswered; }

private:
    void OnDatagram();
    void Answer(const QByteArray& searchTarget, int nMxSeconds, const QByteArray& toAddress, quint16 nToPort);
    QList<QPair<QByteArray, QByteArray>> Targets() const; // (NT/ST, USN)
    void SendMulticast(const QByteArray& data);

    SPlayerState& m_state;
    int m_nListenFd = -1;
    int m_nSendFd = -1;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    QTimer m_notifyTimer;
    int m_nAnswered = 0;
};
