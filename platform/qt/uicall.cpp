#include "platform/qt/uicall.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::User + 1);

// One queued piece of work; a send also carries its reply slot.
struct Request {
    std::function<void()> fn;
};

// The receiver on the UI thread. The queue is guarded by our own mutex: the
// posted Qt event only wakes the UI thread, it carries no data.
class Receiver : public QObject {
   public:
    std::mutex mutex;
    std::deque<std::function<void()>> queue;

    void Wake() { QCoreApplication::postEvent(this, new QEvent(kWakeEvent)); }

   protected:
    bool event(QEvent* e) override {
        if (e->type() != kWakeEvent) return QObject::event(e);
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (queue.empty()) break;
                fn = std::move(queue.front());
                queue.pop_front();
            }
            fn();
        }
        return true;
    }
};

Receiver* g_receiver = nullptr;
QThread* g_uiThread = nullptr;

void enqueue(std::function<void()> fn) {
    {
        std::lock_guard<std::mutex> lock(g_receiver->mutex);
        g_receiver->queue.push_back(std::move(fn));
    }
    g_receiver->Wake();
}
}  // namespace

void UiCall_Init() {
    if (g_receiver) return;
    g_uiThread = QThread::currentThread();
    g_receiver = new Receiver;  // lives as long as the process
}

bool UiCall_OnUiThread() {
    return g_uiThread && QThread::currentThread() == g_uiThread;
}

intptr_t UiCall_Send(const std::function<intptr_t()>& fn) {
    if (UiCall_OnUiThread()) return fn();
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    intptr_t result = 0;
    enqueue([&] {
        intptr_t r = fn();
        std::lock_guard<std::mutex> lock(mutex);
        result = r;
        finished = true;
        done.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return finished; });
    return result;
}

void UiCall_Post(std::function<void()> fn) {
    if (!g_receiver) return;
    enqueue(std::move(fn));
}

// LeakSanitizer's built-in suppressions for every program on the dialog
// layer: Qt and the libraries it loads keep caches for the life of the
// process, which a program ending through exit() (status 14) leaves behind.
// Only these libraries are named; our own code is still checked.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libQt6Core.so\nleak:libQt6Gui.so\n"
           "leak:libQt6Widgets.so\nleak:libglib-2.0.so\n";
}
