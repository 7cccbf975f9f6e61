#pragma once

#include <cstdint>
#include <memory>

#include <QObject>

#include "desktop/InputActivityMonitor.h"

class ITimerService;
class QSocketNotifier;
struct _XDisplay;

// Input on an X11 desktop from XInput2 raw events, read on a connection of its own to the X
// server: key presses, and pointer motion that really moved the pointer (wheel turns arrive as
// motion too, so the pointer position decides). Button presses do not count: a click in place
// is no input for the idle timer. Motion is reported at most once per kMotionIntervalMs. The
// connection is read when it has data (no polling); disarmed, no raw events are selected.
class CX11InputSource final : public QObject, public IIdleSource
{
public:
    static constexpr std::int64_t kMotionIntervalMs = 100;
    static constexpr unsigned kTimerMotion = 2;

    // nullptr when there is no X server or it lacks XInput 2.
    static std::unique_ptr<CX11InputSource> Open(ITimerService& timers, IIdleSourceSink& sink);
    ~CX11InputSource() override;

    const char* Name() const override { return "XInput2"; }
    bool IsThreshold() const override { return false; }
    void Start(std::int64_t nIdleMs) override;
    void Stop() override;

private:
    CX11InputSource(_XDisplay* pDisplay, int nOpcode, ITimerService& timers, IIdleSourceSink& sink);
    void SelectRawEvents(bool bOn);
    void ReadEvents();
    void MotionSeen();
    void MotionIntervalElapsed();
    // Reports a move when the pointer is somewhere else than at the last look.
    void CheckPointer();
    bool QueryPointer(int& x, int& y) const;

    _XDisplay* m_pDisplay;
    int m_nOpcode; // XInput's major opcode
    ITimerService& m_timers;
    IIdleSourceSink& m_sink;
    QSocketNotifier* m_pNotifier; // child
    bool m_bStarted = false;
    bool m_bMotionPending = false;
    int m_nLastX = 0;
    int m_nLastY = 0;
};

// The X screen saver's idle time in ms on a connection of its own; -1 when the server lacks the
// extension. For X servers without XInput 2.
class CX11IdleTime
{
public:
    CX11IdleTime();
    ~CX11IdleTime();
    CX11IdleTime(const CX11IdleTime&) = delete;
    CX11IdleTime& operator=(const CX11IdleTime&) = delete;
    bool IsAvailable() const { return m_pDisplay != nullptr; }
    std::int64_t IdleMs() const;

private:
    _XDisplay* m_pDisplay = nullptr;
};
