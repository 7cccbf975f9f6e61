#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <QByteArray>

struct wl_display;
struct wl_event_source;
struct wl_resource;

// A Wayland compositor reduced to what the idle back end needs: a seat and the idle notifier
// (ext-idle-notify-v1), on a socket in the runtime folder, running on a thread of its own. The
// test reads the notifications the program asked for and makes the compositor say "idled" or
// "resumed" to them.
class CTestCompositor
{
public:
    // bIdleNotifier false: a compositor without the idle notification (as GNOME's and weston).
    explicit CTestCompositor(bool bIdleNotifier = true);
    ~CTestCompositor();
    CTestCompositor(const CTestCompositor&) = delete;
    CTestCompositor& operator=(const CTestCompositor&) = delete;

    bool IsRunning() const { return !m_sSocket.isEmpty(); }
    // WAYLAND_DISPLAY for the program's side.
    QByteArray SocketName() const { return m_sSocket; }
    // Idle time-outs of the notifications that exist now, in the order they were made.
    std::vector<std::uint32_t> Notifications();
    void SendIdled();
    void SendResumed();

    // Called on the compositor's thread by the protocol handlers.
    void AddNotification(wl_resource* pResource, std::uint32_t nTimeoutMs);
    void RemoveNotification(wl_resource* pResource);

private:
    // Runs fn on the compositor's thread and waits for it.
    void RunOnCompositor(const std::function<void()>& fn);
    void RunQueued();

    wl_display* m_pDisplay = nullptr;
    QByteArray m_sSocket;
    int m_nWakeFd = -1;
    wl_event_source* m_pWakeSource = nullptr;
    std::thread m_thread;
    std::mutex m_mutex;
    std::vector<std::function<void()>> m_queue;
    struct SNotification
    {
        wl_resource* pResource;
        std::uint32_t nTimeoutMs;
    };
    std::vector<SNotification> m_notifications; // under m_mutex
};
