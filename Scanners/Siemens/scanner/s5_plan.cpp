// Planning a kind's channels into request blocks: first fit in list order, so that the same
// configuration always gives the same blocks. Planning runs at (re)initialisation only.
#include "s5.h"

#include "chrec.h"
#include "lib.h"

#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

namespace {

S5BlockList g_lists[S5_KIND_LISTS];

// Capacity of the work list; grown capacity is kept for later plans.
int g_capacity = S5_PLAN_CAPACITY_STEP;

// Allocations left before they fail (tests); -1: never fail.
int g_allocationsLeft = -1;

void *PlanAlloc(size_t size) {
    if (g_allocationsLeft == 0) return nullptr;
    if (g_allocationsLeft > 0) --g_allocationsLeft;
    return lib_Alloc(size);
}

void FreeBlocks(S5RequestBlock *blocks, int count) {
    if (blocks == nullptr) return;
    for (int i = 0; i < count; ++i)
        lib_Free(blocks[i].data);
    lib_Free(blocks);
}

// Points every enabled channel that may be planned at the first block of `list` covering it;
// all others get no link.
void LinkChannels(int n, ChannelRecord *records, const S5BlockList &list) {
    for (int i = 0; i < n; ++i) {
        S5ChannelAddress address = s5_ChannelAddress(records[i]);
        uint32_t link = 0;
        if (chrec_TestFlag(records[i], ChannelAnalog::Enable) && s5_AcceptChannel(address)) {
            for (int b = 0; b < list.count; ++b) {
                if (s5_FindBlock(address, list.blocks[b])) {
                    link = static_cast<uint32_t>(b + 1);
                    break;
                }
            }
        }
        s5_SetBlockLink(&records[i], link);
    }
}

// Memory ran out: the kind keeps its old blocks, and no channel may keep a planning mark
// that would read as a block index.
int KeepOldList(int n, ChannelRecord *records, S5BlockList *list, S5RequestBlock *work, int used,
                int capacity) {
    FreeBlocks(work, used);
    g_capacity = capacity;
    LinkChannels(n, records, *list);
    return 0;
}

// Blocks can only take channels of their own station, area and (for D and X) data block, so
// first fit needs to try only the blocks of that key, still in list order.
uint32_t MergeKey(const S5ChannelAddress &address) {
    int area = s5_TypeArea(address.type);
    int block = (area == S5_AREA_D || area == S5_AREA_X) ? address.address >> 8 : 0;
    return static_cast<uint32_t>(address.station) << 16 | static_cast<uint32_t>(area) << 8 |
           static_cast<uint32_t>(block);
}

} // namespace

static_assert(static_cast<int>(ChannelAnalog::Enable) == static_cast<int>(ChannelDigital::Enable));

S5BlockList &s5_KindBlocks(int kind) {
    return g_lists[kind];
}

void s5_ReleaseBlocks(S5BlockList *list) {
    FreeBlocks(list->blocks, list->count);
    list->blocks = nullptr;
    list->count = 0;
}

int s5_PlanBlocks(int n, ChannelRecord *records, S5BlockList *list) {
    int capacity = g_capacity;
    auto *work = static_cast<S5RequestBlock *>(PlanAlloc(sizeof(S5RequestBlock) * g_capacity));
    if (work == nullptr) return KeepOldList(n, records, list, nullptr, 0, capacity);
    int used = 0;
    std::unordered_map<uint32_t, std::vector<int>> byKey;

    for (int i = 0; i < n; ++i) {
        S5ChannelAddress address = s5_ChannelAddress(records[i]);
        address.block_link = 0;
        if (chrec_TestFlag(records[i], ChannelAnalog::Enable) && s5_AcceptChannel(address)) {
            bool merged = false;
            std::vector<int> *candidates = nullptr;
            try {
                candidates = &byKey[MergeKey(address)];
                candidates->reserve(candidates->size() + 1);
            } catch (const std::bad_alloc &) {
                return KeepOldList(n, records, list, work, 0, capacity);
            }
            for (size_t c = 0; c < candidates->size() && !merged; ++c)
                merged = s5_MergeIntoBlock(&address, &work[(*candidates)[c]]) != 0;
            if (!merged) {
                if (used == g_capacity) {
                    size_t bytes = sizeof(S5RequestBlock) * (g_capacity + S5_PLAN_CAPACITY_STEP);
                    auto *grown = static_cast<S5RequestBlock *>(PlanAlloc(bytes));
                    if (grown == nullptr) return KeepOldList(n, records, list, work, 0, capacity);
                    std::memcpy(static_cast<void *>(grown), work, sizeof(S5RequestBlock) * used);
                    lib_Free(work);
                    work = grown;
                    g_capacity += S5_PLAN_CAPACITY_STEP;
                }
                candidates->push_back(used);
                s5_NewBlock(&address, &work[used++]);
            }
        }
        s5_SetBlockLink(&records[i], address.block_link);
    }

    for (int b = 0; b < used; ++b) {
        S5RequestBlock &block = work[b];
        block.size = static_cast<uint16_t>(block.count * S5_ELEMENT_SIZE[block.type]);
        block.data = static_cast<uint8_t *>(PlanAlloc(block.size + block.count / 8 + 1));
        if (block.data == nullptr) return KeepOldList(n, records, list, work, b, capacity);
    }

    s5_ReleaseBlocks(list);
    list->blocks = work;
    list->count = used;

    for (int i = 0; i < n; ++i) {
        S5ChannelAddress address = s5_ChannelAddress(records[i]);
        if (address.block_link != 1) continue;
        uint32_t link = 0;
        auto candidates = byKey.find(MergeKey(address));
        if (candidates != byKey.end()) {
            for (int b : candidates->second) {
                if (s5_FindBlock(address, work[b])) {
                    link = static_cast<uint32_t>(b + 1);
                    break;
                }
            }
        }
        s5_SetBlockLink(&records[i], link);
    }
    return used;
}

void s5_FailPlanAllocations(int after) {
    g_allocationsLeft = after;
}

void s5_ResetPlanner() {
    for (S5BlockList &list : g_lists)
        s5_ReleaseBlocks(&list);
    g_capacity = S5_PLAN_CAPACITY_STEP;
    g_allocationsLeft = -1;
    s5_OutputModes() = S5OutputModes{};
}
