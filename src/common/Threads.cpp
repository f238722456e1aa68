// Worker threads on POSIX threads (for the stack size) and sleeping.
#include <pthread.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/KVEL_Common.h"

namespace {

// What the new thread reads and writes. Shared with the thread, so that a
// thread left to run on (when the body stopped or destroyed its own
// CBaseThread) never touches freed memory.
struct ThreadCore {
    std::atomic<bool> running{false};
    IThreadFuncInterface* body = nullptr;
    uint64_t param = 0;
    std::string name;
};

void* ThreadEntry(void* argument) {
    std::unique_ptr<std::shared_ptr<ThreadCore>> holder(
        static_cast<std::shared_ptr<ThreadCore>*>(argument));
    ThreadCore& core = **holder;
    if (!core.name.empty()) {
        // The kernel keeps at most 15 characters of a thread name.
        pthread_setname_np(pthread_self(), core.name.substr(0, 15).c_str());
    }
    core.body->ThreadFunc(core.param);
    core.running.store(false);
    return nullptr;
}

}  // namespace

struct CBaseThread::State {
    std::mutex mutex;  // serialises start and stop
    pthread_t handle{};
    bool joinable = false;
    std::shared_ptr<ThreadCore> core = std::make_shared<ThreadCore>();
};

CBaseThread::~CBaseThread() {
    StopThread();
    delete m_state;
}

int CBaseThread::StartThread(const char* name, IThreadFuncInterface* body, uint64_t param, int,
                             int stackSize, int) {
    if (!body) return 0;
    if (!m_state) m_state = new State;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->core->running.load()) return 0;
    if (m_state->joinable) {  // an earlier body has ended; collect it
        pthread_join(m_state->handle, nullptr);
        m_state->joinable = false;
    }
    ThreadCore& core = *m_state->core;
    core.body = body;
    core.param = param;
    core.name = name ? name : "";
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize > 0) pthread_attr_setstacksize(&attributes, static_cast<size_t>(stackSize));
    core.running.store(true);
    auto* handover = new std::shared_ptr<ThreadCore>(m_state->core);
    const int error = pthread_create(&m_state->handle, &attributes, ThreadEntry, handover);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete handover;
        core.running.store(false);
        return 0;
    }
    m_state->joinable = true;
    return 1;
}

void CBaseThread::StopThread() {
    if (!m_state) return;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->joinable) return;
    if (pthread_equal(m_state->handle, pthread_self())) {
        // A body cannot wait for itself: its thread is let go and ends on
        // its own (a new start is refused until it has).
        pthread_detach(m_state->handle);
        m_state->joinable = false;
        return;
    }
    pthread_join(m_state->handle, nullptr);
    m_state->joinable = false;
}

bool CBaseThread::IsRunning() const { return m_state && m_state->core->running.load(); }

void HQ_Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
