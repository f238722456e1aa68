// Worker threads on POSIX threads (for the stack size) and sleeping.
#include <pthread.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "common/KVEL_Common.h"

namespace {

// What the new thread reads and writes.
struct ThreadCore {
    std::atomic<bool> running{false};
    IThreadFuncInterface* body = nullptr;
    uint64_t param = 0;
    std::string name;
};

void* ThreadEntry(void* argument) {
    auto* state = static_cast<ThreadCore*>(argument);
    if (!state->name.empty()) {
        // The kernel keeps at most 15 characters of a thread name.
        pthread_setname_np(pthread_self(), state->name.substr(0, 15).c_str());
    }
    state->body->ThreadFunc(state->param);
    state->running.store(false);
    return nullptr;
}

}  // namespace

struct CBaseThread::State : ThreadCore {
    std::mutex mutex;  // serialises start and stop
    pthread_t handle{};
    bool joinable = false;
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
    if (m_state->running.load()) return 0;
    if (m_state->joinable) {  // an earlier body has ended; collect it
        pthread_join(m_state->handle, nullptr);
        m_state->joinable = false;
    }
    m_state->body = body;
    m_state->param = param;
    m_state->name = name ? name : "";
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    if (stackSize > 0) pthread_attr_setstacksize(&attributes, static_cast<size_t>(stackSize));
    m_state->running.store(true);
    const int error = pthread_create(&m_state->handle, &attributes, ThreadEntry, static_cast<ThreadCore*>(m_state));
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        m_state->running.store(false);
        return 0;
    }
    m_state->joinable = true;
    return 1;
}

void CBaseThread::StopThread() {
    if (!m_state) return;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (!m_state->joinable) return;
    // A body that stops its own thread cannot wait for itself; the thread
    // is collected by the next start or by the destructor's owner thread.
    if (pthread_equal(m_state->handle, pthread_self())) return;
    pthread_join(m_state->handle, nullptr);
    m_state->joinable = false;
}

bool CBaseThread::IsRunning() const { return m_state && m_state->running.load(); }

void HQ_Sleep(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
