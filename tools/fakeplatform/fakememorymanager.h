#pragma once

#include "addin/platform/memorymanager.h"

#include <QHash>

// The platform's allocator as tests need it: it counts what it grants and
// what comes back, knows its own blocks, and can be told to refuse.
class FakeMemoryManager : public IMemoryManager
{
public:
    FakeMemoryManager() = default;
    ~FakeMemoryManager();

    bool ADDIN_API AllocMemory(void **block, unsigned long bytes) override;
    void ADDIN_API FreeMemory(void **block) override;

    void setRefusing(bool refusing) { m_refusing = refusing; }
    bool isRefusing() const { return m_refusing; }

    int grantedCount() const { return m_granted; }
    int freedCount() const { return m_freed; }
    int liveCount() const { return m_blocks.size(); }
    int refusedCount() const { return m_refused; }
    // FreeMemory calls for blocks this manager never granted.
    int foreignFrees() const { return m_foreignFrees; }

    bool owns(const void *block) const { return m_blocks.contains(const_cast<void *>(block)); }
    // 0 for a block this manager does not know.
    unsigned long blockSize(const void *block) const { return m_blocks.value(const_cast<void *>(block), 0); }
    unsigned long lastGrantedSize() const { return m_lastSize; }

private:
    QHash<void *, unsigned long> m_blocks;
    int m_granted = 0;
    int m_freed = 0;
    int m_refused = 0;
    int m_foreignFrees = 0;
    unsigned long m_lastSize = 0;
    bool m_refusing = false;
};
