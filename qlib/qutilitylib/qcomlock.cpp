#include "qlib/qutilitylib/qcomlock.h"

#include "qlib/qutilitylib/qcatch.h"

bool CQCOMLock::Lock() {
    return CQCatch::Internal([this] {
        m_mutex.lock();
        return true;
    });
}

void CQCOMLock::Unlock() {
    m_mutex.unlock();
}
