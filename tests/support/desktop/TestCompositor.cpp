#include "support/desktop/TestCompositor.h"

#include <algorithm>
#include <future>

#include <sys/eventfd.h>
#include <unistd.h>

#include <wayland-server.h>

#include "ext-idle-notify-v1-server-protocol.h"

namespace {

CTestCompositor* Owner(wl_resource* pResource)
{
    return static_cast<CTestCompositor*>(wl_resource_get_user_data(pResource));
}

void DestroyRequest(wl_client*, wl_resource* pResource)
{
    wl_resource_destroy(pResource);
}

// The seat exists only to be named in requests; its own requests make objects nobody uses.
void SeatGetDevice(wl_client* pClient, wl_resource* pSeat, std::uint32_t nId, const wl_interface* pInterface)
{
    wl_resource* pDevice = wl_resource_create(pClient, pInterface, wl_resource_get_version(pSeat), nId);
    wl_resource_set_implementation(pDevice, nullptr, nullptr, nullptr);
}
void SeatGetPointer(wl_client* c, wl_resource* s, std::uint32_t id)
{
    SeatGetDevice(c, s, id, &wl_pointer_interface);
}
void SeatGetKeyboard(wl_client* c, wl_resource* s, std::uint32_t id)
{
    SeatGetDevice(c, s, id, &wl_keyboard_interface);
}
void SeatGetTouch(wl_client* c, wl_resource* s, std::uint32_t id)
{
    SeatGetDevice(c, s, id, &wl_touch_interface);
}
const struct wl_seat_interface kSeat = {SeatGetPointer, SeatGetKeyboard, SeatGetTouch, DestroyRequest};

void BindSeat(wl_client* pClient, void* pData, std::uint32_t nVersion, std::uint32_t nId)
{
    wl_resource* pSeat = wl_resource_create(pClient, &wl_seat_interface, std::min<std::uint32_t>(nVersion, 5), nId);
    wl_resource_set_implementation(pSeat, &kSeat, pData, nullptr);
    wl_seat_send_capabilities(pSeat, WL_SEAT_CAPABILITY_POINTER | WL_SEAT_CAPABILITY_KEYBOARD);
}

const struct ext_idle_notification_v1_interface kNotification = {DestroyRequest};

void NotificationGone(wl_resource* pResource)
{
    Owner(pResource)->RemoveNotification(pResource);
}

void GetIdleNotification(wl_client* pClient, wl_resource* pNotifier, std::uint32_t nId, std::uint32_t nTimeoutMs,
                         wl_resource* /*pSeat*/)
{
    wl_resource* pNotification = wl_resource_create(pClient, &ext_idle_notification_v1_interface, 1, nId);
    wl_resource_set_implementation(pNotification, &kNotification, Owner(pNotifier), NotificationGone);
    Owner(pNotifier)->AddNotification(pNotification, nTimeoutMs);
}

const struct ext_idle_notifier_v1_interface kNotifier = {DestroyRequest, GetIdleNotification};

void BindNotifier(wl_client* pClient, void* pData, std::uint32_t /*nVersion*/, std::uint32_t nId)
{
    wl_resource* pNotifier = wl_resource_create(pClient, &ext_idle_notifier_v1_interface, 1, nId);
    wl_resource_set_implementation(pNotifier, &kNotifier, pData, nullptr);
}

int Wake(int nFd, std::uint32_t, void* pData)
{
    std::uint64_t nCount = 0;
    (void)!read(nFd, &nCount, sizeof nCount);
    (*static_cast<std::function<void()>*>(pData))();
    return 0;
}

} // namespace

CTestCompositor::CTestCompositor(bool bIdleNotifier)
{
    m_pDisplay = wl_display_create();
    const char* pszSocket = m_pDisplay ? wl_display_add_socket_auto(m_pDisplay) : nullptr;
    if (!pszSocket)
        return;
    m_sSocket = pszSocket;
    wl_global_create(m_pDisplay, &wl_seat_interface, 5, this, BindSeat);
    if (bIdleNotifier)
        wl_global_create(m_pDisplay, &ext_idle_notifier_v1_interface, 1, this, BindNotifier);
    m_nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    auto* pRunQueued = new std::function<void()>([this] { RunQueued(); });
    m_pWakeSource =
        wl_event_loop_add_fd(wl_display_get_event_loop(m_pDisplay), m_nWakeFd, WL_EVENT_READABLE, Wake, pRunQueued);
    m_thread = std::thread([this, pRunQueued] {
        wl_display_run(m_pDisplay);
        delete pRunQueued;
    });
}

CTestCompositor::~CTestCompositor()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_queue.push_back([this] { wl_display_terminate(m_pDisplay); });
        }
        const std::uint64_t nOne = 1;
        (void)!write(m_nWakeFd, &nOne, sizeof nOne);
        m_thread.join();
    }
    if (m_pDisplay) {
        wl_display_destroy_clients(m_pDisplay);
        if (m_pWakeSource)
            wl_event_source_remove(m_pWakeSource);
        wl_display_destroy(m_pDisplay);
    }
    if (m_nWakeFd >= 0)
        close(m_nWakeFd);
}

std::vector<std::uint32_t> CTestCompositor::Notifications()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::uint32_t> timeouts;
    for (const SNotification& notification : m_notifications)
        timeouts.push_back(notification.nTimeoutMs);
    return timeouts;
}

void CTestCompositor::SendIdled()
{
    RunOnCompositor([this] {
        for (const SNotification& notification : m_notifications)
            ext_idle_notification_v1_send_idled(notification.pResource);
        wl_display_flush_clients(m_pDisplay);
    });
}

void CTestCompositor::SendResumed()
{
    RunOnCompositor([this] {
        for (const SNotification& notification : m_notifications)
            ext_idle_notification_v1_send_resumed(notification.pResource);
        wl_display_flush_clients(m_pDisplay);
    });
}

void CTestCompositor::AddNotification(wl_resource* pResource, std::uint32_t nTimeoutMs)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notifications.push_back({pResource, nTimeoutMs});
}

void CTestCompositor::RemoveNotification(wl_resource* pResource)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notifications.erase(std::remove_if(m_notifications.begin(), m_notifications.end(),
                                         [pResource](const SNotification& n) { return n.pResource == pResource; }),
                          m_notifications.end());
}

void CTestCompositor::RunOnCompositor(const std::function<void()>& fn)
{
    // Blocks: the test goes on only when the events are on their way to the program.
    std::promise<void> done;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back([&] {
            fn();
            done.set_value();
        });
    }
    const std::uint64_t nOne = 1;
    (void)!write(m_nWakeFd, &nOne, sizeof nOne);
    done.get_future().wait();
}

void CTestCompositor::RunQueued()
{
    std::vector<std::function<void()>> queue;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        queue.swap(m_queue);
    }
    // The handlers take m_mutex themselves (m_notifications is read without it on this thread only
    // while no other thread writes it: additions and removals happen on this thread too).
    for (const auto& fn : queue)
        fn();
}
