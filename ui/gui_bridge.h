#pragma once
// Carries a call from a worker thread to the window's thread and waits until it has been made,
// so run-log lines appear in the order written and a run's message box holds the worker. Unlike a
// blocking queued connection, a waiting worker can be let go: once the window detaches (it is
// being destroyed), pending and later calls return at once without being made, so the window can
// wait for the worker without a deadlock.

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>

namespace veltrix::ui {

class GuiBridge {
public:
    explicit GuiBridge(QObject& owner) : owner_(owner) {}

    // Runs `call` on the owner's thread and returns once it has run (at once on that thread).
    template <typename F>
    void Run(F&& call) {
        if (QThread::currentThread() == owner_.thread()) {
            call();
            return;
        }
        auto done = std::make_shared<bool>(false);
        QMetaObject::invokeMethod(
            &owner_,
            [this, done, &call] {
                {
                    std::lock_guard lock(mutex_);
                    if (detached_) {
                        return;
                    }
                }
                call();
                std::lock_guard lock(mutex_);
                *done = true;
                changed_.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return *done || detached_; });
    }

    // A one-time signal from the owner's thread to a waiting worker (a message box closed).
    using Signal = std::shared_ptr<bool>;
    Signal MakeSignal() { return std::make_shared<bool>(false); }
    void Raise(const Signal& signal) {
        std::lock_guard lock(mutex_);
        *signal = true;
        changed_.notify_all();
    }
    // Waits until `signal` is raised, or the owner has detached.
    void WaitFor(const Signal& signal) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return *signal || detached_; });
    }

    // From now on no call is made; waiting workers return.
    void Detach() {
        std::lock_guard lock(mutex_);
        detached_ = true;
        changed_.notify_all();
    }

private:
    QObject& owner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool detached_ = false;
};

}  // namespace veltrix::ui
