#include "qlib/qutilitylib/qlockholder.h"

#include "qlib/qutilitylib/qcatch.h"

CQLockHolder::CQLockHolder(CQLock& lock) : m_held(lock.Lock()), m_lock(lock) {}

CQLockHolder::~CQLockHolder() {
    CQCatch::LogAndSwallow([this] {
        if (m_held) {
            m_lock.Unlock();
        }
    });
}
