#include "fakeplatform/fakememorymanager.h"

#include <cstdlib>
#include <cstring>

FakeMemoryManager::~FakeMemoryManager()
{
    for (auto it = m_blocks.begin(); it != m_blocks.end(); ++it)
        std::free(it.key());
}

bool FakeMemoryManager::AllocMemory(void **block, unsigned long bytes)
{
    if (!block)
        return false;
    if (m_refusing) {
        ++m_refused;
        return false;
    }
    void *memory = std::malloc(bytes > 0 ? bytes : 1);
    if (!memory)
        return false;
    // Not zeroed, as a real allocator: a missing terminator shows up.
    std::memset(memory, 0xCD, bytes);
    m_blocks.insert(memory, bytes);
    ++m_granted;
    m_lastSize = bytes;
    *block = memory;
    return true;
}

void FakeMemoryManager::FreeMemory(void **block)
{
    if (!block || !*block)
        return;
    if (!m_blocks.remove(*block)) {
        ++m_foreignFrees;
        return;
    }
    std::free(*block);
    ++m_freed;
    *block = nullptr;
}
