#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// What one reference player is and how it currently misbehaves. main.cpp owns the one instance;
// the responders read it for every answer, and the control channel changes it at run time, so
// a change takes effect with the next request.

enum EPowerState
{
    POWER_STATE_ACTIVE,
    POWER_STATE_NETWORK_READY,  // standby, only the network up: can be woken
    POWER_STATE_DATABASE_READY, // standby with a usable database
    POWER_STATE_STANDBY_OTHER,  // standby without a detail the program knows
    POWER_STATE_OFF             // a status the program does not know at all
};

// Which description the player serves.
enum EDescriptionVariant
{
    DESCRIPTION_NORMAL,
    DESCRIPTION_MALFORMED,           // cut off in the middle: not well-formed XML
    DESCRIPTION_OTHER_SERVICE_FIRST, // another service listed before the web API service
    DESCRIPTION_NO_BASE_URL,         // without the vendor device-info element
    DESCRIPTION_NO_ICONS,            // without an icon list
    DESCRIPTION_DOCTYPE,             // with an internal DTD subset
    DESCRIPTION_FILE                 // the file given with --description-file, placeholders filled
};

struct SPlayerState
{
    QString sAddress;
    quint16 nPort = 60100;
    QString sUdn;
    QString sFriendlyName;
    QString sModelName = "Tessel HDD Audio Player";

    bool bSsdpOn = true;    // answers M-SEARCH and announces
    bool bHttpOn = true;    // accepts connections on the HTTP port
    bool bMxSpread = false; // spread SSDP answers over the searcher's MX, as UDA asks
    int nNotifyIntervalMs = 900000;

    EPowerState ePower = POWER_STATE_ACTIVE;
    int nWakeDelayMs = 1000;   // setPowerStatus takes effect after this delay
    bool bWakeIgnored = false; // accept setPowerStatus but never change state
    int nWakeRequests = 0;
    int nPowerQueries = 0;
    int nFileTypeQueries = 0;
    QStringList fileTypes = {"mp3", "wma", "m4a", "flac", "wav", "aiff", "ogg"};

    int nSlowMs = 0;             // delay before every HTTP answer
    int nHttpStatus = 200;       // status of every HTTP answer (its body stays the normal one)
    QString sHttpStatusPath;     // when set, the status applies only to paths starting with it
    bool bMalformedJson = false; // web API answers cut off in the middle
    EDescriptionVariant eDescription = DESCRIPTION_NORMAL;
    QByteArray descriptionTemplate; // for DESCRIPTION_FILE
    int nHttpRequests = 0;
    QString sRequestLogPath; // each request appended as one JSON line

    QString sLocationHost; // when set, SSDP sends searchers to this host for the description
    QString DescriptionUrl() const { return QString("http://%1:%2/tolva.xml").arg(sAddress).arg(nPort); }
    // The LOCATION of SSDP answers and announcements.
    QString SsdpLocation() const
    {
        return sLocationHost.isEmpty() ? DescriptionUrl()
                                       : QString("http://%1:%2/tolva.xml").arg(sLocationHost).arg(nPort);
    }
    QString BaseUrl() const { return QString("http://%1:%2/api").arg(sAddress).arg(nPort); }
};

const char* PowerStateName(EPowerState e);
