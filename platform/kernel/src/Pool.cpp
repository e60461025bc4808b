// Pool. Every block is charged to the module that allocated it with its tag, filled with a
// pattern (pool is not zeroed), and followed by guard bytes that are checked when it is freed.
#include <cstdlib>
#include <cstring>

#include "KernelState.h"

namespace tapkernel {

namespace {

constexpr size_t kGuardBytes = 16;
constexpr uint8_t kFreshFill = 0xA5;
constexpr uint8_t kGuardFill = 0xBD;
constexpr uint8_t kFreedFill = 0xFD;
constexpr ULONG kNoTag = 0x656E6F4E; // "None"

bool IsPaged(POOL_TYPE type)
{
    return type == PagedPool || type == PagedPoolCacheAligned;
}

// The tag as a pool dump shows it: its bytes in memory order.
std::string TagText(ULONG tag)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((tag >> (8 * i)) & 0xFF);
        text += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return text;
}

PVOID Allocate(const char *routine, POOL_TYPE type, SIZE_T bytes, ULONG tag)
{
    KIRQL irql = CurrentIrql();
    if (IsPaged(type) && irql > APC_LEVEL) {
        BugCheck(routine, "paged pool requested at IRQL %u (paged pool needs IRQL <= APC_LEVEL)", irql);
    }
    if (irql > DISPATCH_LEVEL) {
        BugCheck(routine, "called at IRQL %u", irql);
    }
    if (type != NonPagedPool && type != PagedPool && type != NonPagedPoolCacheAligned && type != PagedPoolCacheAligned) {
        BugCheck(routine, "pool type %d is not allowed", static_cast<int>(type));
    }
    if (bytes == 0) {
        BugCheck(routine, "zero-byte allocation (tag '%s')", TagText(tag).c_str());
    }
    Owner owner = CurrentOwner();
    if (owner.module != nullptr && owner.module->options.requiredPoolTag &&
        *owner.module->options.requiredPoolTag != tag) {
        BugCheck(routine, "pool tag '%s' used; every allocation of module %s carries '%s'", TagText(tag).c_str(),
                 owner.module->name.c_str(), TagText(*owner.module->options.requiredPoolTag).c_str());
    }
    KernelState &state = State();
    std::function<void()> observer;
    if (owner.module != nullptr) {
        std::lock_guard<std::mutex> held(state.lock);
        auto found = state.poolObservers.find(owner.module->name);
        if (found != state.poolObservers.end()) {
            observer = found->second;
        }
    }
    if (observer) {
        observer();
    }
    std::lock_guard<std::mutex> held(state.lock);
    if (ConsumePoolFailure(owner.module)) {
        return nullptr;
    }
    if (owner.module != nullptr) {
        ++owner.module->poolAllocations;
    }
    auto *block = static_cast<uint8_t *>(std::malloc(bytes + kGuardBytes));
    std::memset(block, kFreshFill, bytes);
    std::memset(block + bytes, kGuardFill, kGuardBytes);
    PoolBlock record;
    record.size = bytes;
    record.tag = tag;
    record.type = type;
    record.owner = owner;
    state.pool.emplace(block, record);
    return block;
}

void Free(const char *routine, PVOID pointer, const ULONG *tag)
{
    KernelState &state = State();
    std::lock_guard<std::mutex> held(state.lock);
    auto it = state.pool.find(pointer);
    if (it == state.pool.end()) {
        BugCheck(routine, "%p is not an allocated pool block (freed twice, or not from pool)", pointer);
    }
    const PoolBlock &block = it->second;
    KIRQL irql = CurrentIrql();
    if ((IsPaged(block.type) && irql > APC_LEVEL) || irql > DISPATCH_LEVEL) {
        BugCheck(routine, "%s pool block %p freed at IRQL %u", IsPaged(block.type) ? "paged" : "nonpaged", pointer,
                 irql);
    }
    if (tag != nullptr && *tag != block.tag) {
        BugCheck(routine, "pool block %p has tag '%s', freed with tag '%s'", pointer, TagText(block.tag).c_str(),
                 TagText(*tag).c_str());
    }
    auto *bytes = static_cast<uint8_t *>(pointer);
    for (size_t i = 0; i < kGuardBytes; ++i) {
        if (bytes[block.size + i] != kGuardFill) {
            BugCheck(routine, "pool block %p (tag '%s', %zu bytes) was written past its end", pointer,
                     TagText(block.tag).c_str(), block.size);
        }
    }
    ForgetLocksIn(state, bytes, block.size);
    std::memset(bytes, kFreedFill, block.size);
    state.pool.erase(it);
    std::free(bytes);
}

} // namespace

bool ConsumePoolFailure(DriverModule *module)
{
    if (module == nullptr || module->poolFailCount == 0) {
        return false;
    }
    if (module->poolFailSkip > 0) {
        --module->poolFailSkip;
        return false;
    }
    --module->poolFailCount;
    return true;
}

uint64_t Kernel::PoolAllocations(DriverModule *module)
{
    std::lock_guard<std::mutex> held(state_->lock);
    return module->poolAllocations;
}

std::string PoolTagText(ULONG tag)
{
    return TagText(tag);
}

void *KernelAllocate(size_t size)
{
    void *block = std::malloc(size);
    std::memset(block, kFreshFill, size);
    return block;
}

void KernelFree(void *block)
{
    std::free(block);
}

} // namespace tapkernel

using namespace tapkernel;

extern "C" PVOID NTAPI ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T bytes, ULONG tag)
{
    return Allocate("ExAllocatePoolWithTag", type, bytes, tag);
}

extern "C" PVOID NTAPI ExAllocatePool(POOL_TYPE type, SIZE_T bytes)
{
    return Allocate("ExAllocatePool", type, bytes, kNoTag);
}

extern "C" VOID NTAPI ExFreePool(PVOID pointer)
{
    Free("ExFreePool", pointer, nullptr);
}

extern "C" VOID NTAPI ExFreePoolWithTag(PVOID pointer, ULONG tag)
{
    Free("ExFreePoolWithTag", pointer, &tag);
}
