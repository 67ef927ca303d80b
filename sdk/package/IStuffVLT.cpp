// The package manager: creating, opening and closing packages, the registry
// of 32 slots, walking entries, loading, adding and deleting blocks.
//
// Searches are answered from each open package's index (PackageIndex.h),
// which holds exactly what a scan of the file from offset 520 finds; the
// results, messages, cursor and file bytes are those of the scan itself.
#include "package/IStuffVLT.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <SDL.h>
#include <zlib.h>

#include "core/Endian.h"
#include "core/FileAccess.h"
#include "core/Log.h"
#include "core/SourceDate.h"
#include "core/WorkerPool.h"
#include "package/PackageCipher.h"
#include "package/PackageFormat.h"
#include "package/PackageIndex.h"
#include "package/PackageUpgrade.h"

using namespace vlt;

namespace {

constexpr const char kDeletedType[kTypeSize] = {'D', 'E', 'L', 'E', 'T', 'E', 'D', 0};
// Offsets are 32-bit in the slot and the cursor: a package never grows past this.
constexpr uint64_t kMaxPackageLength = 0xFFFFFFFFull;
// No place recorded (IStuffVLT::UpdatedPlace).
constexpr uint32_t kNoPlace = 0xFFFFFFFFu;

const char* ErrorText(int err) { return err ? strerror(err) : "unexpected end of file"; }

// The most payload bytes (copies handed over and their compressed forms)
// that wait for their compression or their write at one time (a larger
// block waits alone). Kept small, so that the memory of the blocks written is used again
// rather than fresh pages taken for every block of a large import.
constexpr uint64_t kPendingBytes = uint64_t(8) << 20;
// A block larger than this is compressed by AddData itself, from the
// caller's bytes: a worker would need a copy of it.
constexpr uint32_t kLargeBlock = uint32_t(16) << 20;
// The most blocks, and their bytes (packed and decoded), decoded ahead of
// the one loaded.
constexpr size_t kAheadBlocks = 512;
constexpr uint64_t kAheadBytes = uint64_t(48) << 20;
// A block smaller than this decodes in less time than its part of a
// handoff costs the loading thread.
constexpr uint32_t kAheadLeast = 1024;

// A run of consecutive work handed to a worker at once: one handoff costs
// more than compressing or decoding a small block, so blocks travel in
// batches of about this many input bytes (a larger block alone).
constexpr uint64_t kBatchBytes = uint64_t(96) << 10;
constexpr size_t kBatchBlocks = 256;
// The most bytes of entries gathered for one write to the package.
constexpr uint64_t kTailBytes = uint64_t(256) << 10;

// One block handed to AddData, compressed by a worker as part of a batch.
// The worker reads input and writes packed and ok; the thread that made the
// block reads them only after the pool's Wait for its batch.
struct CompressJob;
struct CompressBatch : vlt::WorkerPool::Job {
    // Held until the batch has run; the blocks hold the batch.
    std::vector<std::shared_ptr<CompressJob>> blocks;
    uint64_t bytes = 0;
    void Run() override;
};
struct CompressJob {
    int id = 0;
    int slot = 0;
    BlockInfo block{};  // name, type, mode and size; no data
    bool replacing = false;
    uint64_t cost = 0;
    uint64_t pair = 0;  // PairHash of its name and type
    std::vector<uint8_t> input;
    PackedBytes packed;
    bool ok = false;
    std::shared_ptr<CompressBatch> batch;
};
void CompressBatch::Run() {
    for (const std::shared_ptr<CompressJob>& job : blocks) {
        job->ok = CompressBlock(job->input.data(), job->block.size, job->packed);
        std::vector<uint8_t>().swap(job->input);
    }
    blocks.clear();
}

// One compressed entry decoded by a worker, as part of a batch of
// neighbouring entries read with one pread call on the package's
// descriptor, which stays open until the batch is waited for. The cipher is
// only read.
struct DecodeJob;
struct DecodeBatch : vlt::WorkerPool::Job {
    int fd = -1;
    const PackageCipher* cipher = nullptr;
    // From the first job's payload to the end of the last one's padding.
    uint64_t start = 0, end = 0;
    std::vector<std::shared_ptr<DecodeJob>> jobs;  // held until the batch has run
    void Run() override;
};
struct DecodeJob {
    uint64_t offset = 0;
    uint32_t packedSize = 0;
    uint32_t size = 0;
    uint64_t cost = 0;
    uint8_t* out = nullptr;  // malloc'd, as LoadBlock hands payloads over
    bool ok = false;
    std::shared_ptr<DecodeBatch> batch;
    ~DecodeJob() { std::free(out); }
};
void DecodeBatch::Run() {
    std::vector<uint8_t> span(static_cast<size_t>(end - start));
    const bool read = files::ReadUpToAt(fd, span.data(), span.size(), start) == static_cast<long long>(span.size());
    for (const std::shared_ptr<DecodeJob>& job : jobs) {
        if (!read) break;
        const uint64_t padded = PaddedLength(job->packedSize);
        uint8_t* packed = span.data() + (job->offset - start);
        // Each payload is enciphered on its own, from its first byte.
        if (cipher) cipher->Decipher(packed, static_cast<size_t>(padded));
        job->out = static_cast<uint8_t*>(std::malloc(job->size ? job->size : 1));
        job->ok = job->out && DecompressBlock(packed, job->packedSize, job->out, job->size);
    }
    jobs.clear();
}

// A pair's key among the blocks waiting for their compression: a hash of
// its name and type (FNV-1a). Two pairs that share a key only make an
// AddData wait for a write it did not need.
uint64_t PairHash(const char* name, const char* type) {
    uint64_t h = 14695981039346656037ull;
    const auto mix = [&h](const char* text, size_t length) {
        for (size_t i = 0; i < length; ++i) h = (h ^ static_cast<unsigned char>(text[i])) * 1099511628211ull;
    };
    mix(name, strnlen(name, kNameSize));
    h = (h ^ 0x100u) * 1099511628211ull;  // between the two: no name and type run together
    mix(type, strnlen(type, kTypeSize));
    return h;
}

}  // namespace

struct IStuffVLT::Impl {
    IStuffVLT* self = nullptr;
    PackageCipher packageCipher;
    PackageCipher internalCipher;
    PackageSlot slots[kMaxPackages];
    PackageIndex index[kMaxPackages];
    int32_t nextId = 0;
    int32_t rotating = 0;
    uint8_t head[kHeadSize] = {};
    uint8_t header[kHeaderSize] = {};
    uint8_t keySet = 0;
    // The payload offset and packed size of the entry last found by any search.
    uint64_t cursorOffset = 0;
    uint32_t cursorLength = 0;
    // Per slot: whether AddData updates (SetUpdating), and what it did.
    bool updating[kMaxPackages] = {};
    UpdateCounts updateCounts[kMaxPackages];
    // Per slot: the name and type pairs AddData was handed while updating.
    PairSet updated[kMaxPackages];
    // Per slot and pair of updated: the place of the first live block of the
    // pair when updating began (the one the first AddData of the pair
    // found), or kNoPlace; and the number of entries then.
    std::vector<uint32_t> updatedPlace[kMaxPackages];
    uint64_t updateBefore[kMaxPackages] = {};
    void ForgetUpdated(int k) {
        updated[k].Clear();
        std::vector<uint32_t>().swap(updatedPlace[k]);
        updateBefore[k] = 0;
    }
    // Per slot: the errno of the first write to the file that failed (WriteError).
    int writeError[kMaxPackages] = {};
    // Per slot: the checksum of the file from offset 520 up to crcEnd, kept
    // while entries are appended, so that the header's is not read back at
    // the close; crcKnown is cleared by any other write.
    uint32_t crc[kMaxPackages] = {};
    uint64_t crcEnd[kMaxPackages] = {};
    bool crcKnown[kMaxPackages] = {};
    // Per slot: where the file's written bytes have not been handed to the
    // device yet (StartWriteback).
    uint64_t writebackFrom[kMaxPackages] = {};
    // Set while OpenForReading runs Open.
    bool readingOnly = false;

    // Entries appended after the blocks compressed by workers, gathered
    // for one write at tailAt of slot tailSlot's file; the index holds them
    // already. Anything that reads or writes the file writes them first
    // (Sync); the AddData of the first of them names a failure.
    std::vector<uint8_t> tailBytes;
    int tailSlot = -1;
    uint64_t tailAt = 0;
    int tailId = 0;
    std::string tailName;

    // Worker threads (SetJobs), made when first needed.
    std::unique_ptr<WorkerPool> pool;
    unsigned poolJobs = 0;
    // Blocks whose AddData answered, in the order of the calls, waiting for
    // their compression or their write; the pairs they hold, counted.
    std::deque<std::shared_ptr<CompressJob>> pending;
    uint64_t pendingBytes = 0;
    std::unordered_map<uint64_t, int> pendingPairs;
    // The newest pending blocks, not yet handed to the workers.
    std::shared_ptr<CompressBatch> openBatch;
    // Per slot: compressed entries decoded ahead, by entry number; the next
    // entry to consider; their bytes.
    std::map<size_t, std::shared_ptr<DecodeJob>> ahead[kMaxPackages];
    size_t aheadNext[kMaxPackages] = {};
    uint64_t aheadBytes[kMaxPackages] = {};

    // The pool when more than one job is asked for; null otherwise. A new
    // number takes effect once nothing is pending.
    WorkerPool* Pool() {
        const unsigned want = std::min(IStuffVLT::Jobs(), 256u);
        if (want != poolJobs && pending.empty()) {
            for (int k = 0; k < kMaxPackages; ++k) DropAhead(k);
            pool.reset();
            poolJobs = want;
            if (want > 1) pool.reset(new WorkerPool(want - 1));  // the calling thread is the last one
        }
        return pool && pool->Threads() ? pool.get() : nullptr;
    }
    bool PairPending(const char* name, const char* type) const {
        return !pendingPairs.empty() && pendingPairs.count(PairHash(name, type)) != 0;
    }

    // Hands block (its bytes copied) to the workers; 1. Waits for the
    // oldest blocks while too many bytes are pending.
    int Submit(WorkerPool& workers, int id, int k, const BlockInfo& block, bool replacing) {
        auto job = std::make_shared<CompressJob>();
        job->id = id;
        job->slot = k;
        job->block = block;
        job->block.data = nullptr;
        job->replacing = replacing;
        job->pair = PairHash(block.name, block.type);
        if (block.size) job->input.assign(block.data, block.data + block.size);
        job->cost = uint64_t(block.size) * 2 + block.size / 8 + 256;
        PrepareCompressor();  // here, so that no worker ever sets UCL's hooks
        pending.push_back(job);
        pendingBytes += job->cost;
        ++pendingPairs[job->pair];
        // A block too large to share a batch goes alone, after the batch
        // that was being gathered.
        if (openBatch && openBatch->bytes + block.size > kBatchBytes) HandOver(workers);
        if (!openBatch) openBatch = std::make_shared<CompressBatch>();
        job->batch = openBatch;
        openBatch->blocks.push_back(job);
        openBatch->bytes += block.size;
        if (openBatch->bytes >= kBatchBytes || openBatch->blocks.size() >= kBatchBlocks) HandOver(workers);
        while (pendingBytes > kPendingBytes && pending.size() > 1) CommitOldest();
        return 1;
    }
    // Hands the batch being gathered to the workers.
    void HandOver(WorkerPool& workers) {
        if (!openBatch) return;
        std::shared_ptr<CompressBatch> batch = std::move(openBatch);
        openBatch.reset();
        workers.Submit(batch);
    }
    // Waits for the oldest pending block and writes it.
    void CommitOldest() {
        std::shared_ptr<CompressJob> job = std::move(pending.front());
        pending.pop_front();
        if (job->batch == openBatch) HandOver(*pool);  // then run here unless a worker took it at once
        pool->Wait(*job->batch);
        job->batch.reset();
        pendingBytes -= job->cost;
        if (--pendingPairs[job->pair] == 0) pendingPairs.erase(job->pair);
        const int k = job->slot;
        if (slots[k].id != job->id) return;  // cannot happen: every close drains first
        const LogTag tag("IStuffVLT->AddData(%d,'%s')", job->id, job->block.name);
        if (writeError[k]) {
            tag.Error("the data block was not written: an earlier write to the VLT failed.\n");
        } else if (!job->ok || job->packed.size > UINT32_MAX) {
            tag.Error("UCL failed to compress the data block.\n");
            NoteWriteError(k, EIO);
        } else {
            Append(job->id, k, job->block, job->packed.data.get(), static_cast<uint32_t>(job->packed.size),
                   job->replacing, true);
        }
    }
    // Writes the pending blocks whose compression is done, up to the first
    // that is not.
    void CommitFinished() {
        while (!pending.empty() && pending.front()->batch != openBatch && pool->Done(*pending.front()->batch))
            CommitOldest();
    }
    // Everything pending written to the file.
    void Drain() {
        while (!pending.empty()) CommitOldest();
        FlushTail();
    }
    // Writes the gathered entries. A failure is the package's write error:
    // the file is cut back to where they began, and the index forgets them.
    void FlushTail() {
        if (tailBytes.empty()) return;
        const int k = tailSlot;
        PackageSlot& slot = slots[k];
        const bool written = files::WriteAllAt(slot.handle, tailBytes.data(), tailBytes.size(), tailAt);
        const int err = errno;
        if (written) {
            Wrote(k, tailBytes.data(), tailBytes.size(), tailAt);
            StartWriteback(k, tailAt + tailBytes.size());
        } else {
            crcKnown[k] = false;
            NoteWriteError(k, err);
            const bool restored = ftruncate(slot.handle, static_cast<off_t>(tailAt)) == 0;
            slot.recordedLength -= static_cast<uint32_t>(tailBytes.size());
            index[k].Reset(slot.handle);
            LogTag("IStuffVLT->AddData(%d,'%s')", tailId, tailName.c_str())
                .Error("the data block could not be written: %s%s\n", strerror(err),
                       restored ? "" : " (the VLT could not be restored)");
        }
        tailBytes.clear();
        if (tailBytes.capacity() > 2 * kTailBytes) std::vector<uint8_t>().swap(tailBytes);
        tailSlot = -1;
    }

    // Forgets what was decoded ahead for slot k (before its file is closed).
    void DropAhead(int k) {
        for (auto& a : ahead[k]) pool->Wait(*a.second->batch);
        ahead[k].clear();
        aheadBytes[k] = 0;
        aheadNext[k] = 0;
    }
    // Entry j (found, its bounds checked) is being loaded: the entries
    // before it that were decoded ahead are dropped, those after it are
    // scheduled, and j's own decoded job is handed back when there is one.
    std::shared_ptr<DecodeJob> TakeAhead(int k, size_t j) {
        std::map<size_t, std::shared_ptr<DecodeJob>>& a = ahead[k];
        std::shared_ptr<DecodeJob> mine;
        while (!a.empty() && a.begin()->first <= j) {
            std::shared_ptr<DecodeJob> job = std::move(a.begin()->second);
            const size_t at = a.begin()->first;
            a.erase(a.begin());
            pool->Wait(*job->batch);
            job->batch.reset();
            aheadBytes[k] -= job->cost;
            if (at == j) mine = std::move(job);
        }
        // A load behind what was scheduled (a second walk) starts afresh.
        if (j + 1 < aheadNext[k] && a.empty()) aheadNext[k] = j + 1;
        if (aheadNext[k] < j + 1) aheadNext[k] = j + 1;
        // The window is topped up only once half of it is free, so that the
        // workers are handed full batches rather than one block per load.
        if (a.size() > kAheadBlocks / 2 || aheadBytes[k] > kAheadBytes / 2) return mine;
        const PackageIndex::EntryList entries = index[k].entries();
        std::shared_ptr<DecodeBatch> batch;
        auto handOver = [&] {
            if (batch) pool->Submit(batch);
            batch.reset();
        };
        while (aheadNext[k] < entries.size() && a.size() < kAheadBlocks && aheadBytes[k] < kAheadBytes) {
            const size_t n = aheadNext[k]++;
            const IndexEntry e = entries[n];
            const uint32_t size = LoadLE32(e.desc + kSizeOffset);
            if (e.desc[kModeOffset] != compressed || std::memcmp(e.desc + kTypeOffset, kDeletedType, kTypeSize) == 0 ||
                e.payload() + PaddedLength(e.packedSize) > slots[k].recordedLength ||
                size > MaxUnpackedSize(e.packedSize))
                continue;                      // loaded, and refused, on the calling thread
            if (size < kAheadLeast) continue;  // decoded where it is loaded: cheaper than handing it over
            auto job = std::make_shared<DecodeJob>();
            job->offset = e.payload();
            job->packedSize = e.packedSize;
            job->size = size;
            job->cost = PaddedLength(e.packedSize) * 2 + size;
            const uint64_t stop = job->offset + PaddedLength(e.packedSize);
            // A batch reads one span of the file: entries that lie after
            // one another, the span no longer than a batch.
            if (batch &&
                (job->offset < batch->end || stop - batch->start > kBatchBytes || batch->jobs.size() >= kBatchBlocks))
                handOver();
            if (!batch) {
                batch = std::make_shared<DecodeBatch>();
                batch->fd = slots[k].handle;
                batch->cipher = CipherOf(k);
                batch->start = job->offset;
            }
            batch->end = stop;
            batch->jobs.push_back(job);
            job->batch = batch;
            aheadBytes[k] += job->cost;
            a.emplace(n, job);
        }
        handOver();
        return mine;
    }

    // Appends one entry at the end of slot k's file: its descriptor from
    // block (name, type, final storage mode, size) and body, packedSize bytes
    // as they are stored before the scrambling and cipher; then, when
    // replacing, deletes the live blocks of the pair before it. The packed
    // size, or 0 (logged). deferred: for a block whose AddData answered
    // already, so that a refusal is kept as the package's write error.
    int Append(int id, int k, const BlockInfo& block, const uint8_t* body, uint32_t packedSize, bool replacing,
               bool deferred) {
        PackageSlot& slot = slots[k];
        uint8_t desc[kDescriptorSize] = {};
        std::memcpy(desc + kNameOffset, block.name, strnlen(block.name, kNameSize));
        std::memcpy(desc + kTypeOffset, block.type, strnlen(block.type, kTypeSize));
        desc[kModeOffset] = block.mode;
        StoreLE32(desc + kSizeOffset, block.size);
        StoreLE32(desc + kPackedOffset, packedSize);

        const uint64_t padded = PaddedLength(packedSize);
        // Behind the entries gathered for one write, the file's end is known.
        const bool gathering = tailSlot == k && !tailBytes.empty();
        struct stat st;
        if (!gathering && fstat(slot.handle, &st) != 0) {
            NoteWriteError(k, errno);
            LogTag("IStuffVLT->AddData(%d,'%s')", id, block.name).Error("it was not possible to access to the VLT.\n");
            return 0;
        }
        const uint64_t end = gathering ? tailAt + tailBytes.size() : static_cast<uint64_t>(st.st_size);
        if (end + kEntryHeadSize + padded > kMaxPackageLength) {
            LogTag("IStuffVLT->AddData(%d,'%s')", id, block.name).Error("the VLT cannot grow beyond 4 GiB.\n");
            if (deferred) NoteWriteError(k, EFBIG);  // no caller is left to be told
            return 0;
        }
        const PackageCipher* cipher = CipherOf(k);
        uint8_t head[kEntryHeadSize] = {};
        std::memcpy(head, kMarker, kMarkerSize);
        std::memcpy(head + kMarkerSize, desc, kDescriptorSize);
        if (cipher) cipher->Encipher(head + kMarkerSize, kDescriptorSize);
        // A block whose AddData answered already is gathered with its
        // neighbours into one write (Sync), once the index holds it without
        // reading the file; the bytes are the same as written one by one.
        if (deferred && kEntryHeadSize + padded <= kTailBytes) {
            if (!gathering) FlushTail();
            if (writeError[k]) return 0;  // the write before it failed, and said so
            if (index[k].Record(end, end, desc)) {
                if (tailBytes.empty()) {
                    tailSlot = k;
                    tailAt = end;
                    tailId = id;
                    tailName.assign(block.name, strnlen(block.name, kNameSize));
                }
                const size_t at = tailBytes.size();
                tailBytes.resize(at + static_cast<size_t>(kEntryHeadSize + padded), 0);
                uint8_t* entry = tailBytes.data() + at;
                std::memcpy(entry, head, kEntryHeadSize);
                uint8_t* payload = entry + kEntryHeadSize;
                if (packedSize) std::memcpy(payload, body, packedSize);
                if (block.mode == crypted) ScrambleBlock(payload, packedSize);
                if (cipher) cipher->Encipher(payload, static_cast<size_t>(padded));
                slot.modified = 1;
                slot.recordedLength += static_cast<uint32_t>(kEntryHeadSize + padded);
                if (tailBytes.size() >= kTailBytes) FlushTail();
                return Replaced(id, k, block, packedSize, replacing);
            }
        }
        FlushTail();
        // Slices of whole cipher blocks: enciphered one by one they give the
        // bytes of the whole payload enciphered at once. A small entry goes
        // in one write with its head.
        constexpr uint64_t kSlice = uint64_t(1) << 20;
        std::vector<uint8_t> slice;
        const bool together = padded <= kSlice;
        bool written = together || files::WriteAllAt(slot.handle, head, sizeof head, end);
        if (written && !together) Wrote(k, head, sizeof head, end);
        for (uint64_t done = 0; written && done < padded; done += kSlice) {
            const size_t n = static_cast<size_t>(std::min(kSlice, padded - done));
            const size_t data = done < packedSize ? static_cast<size_t>(std::min<uint64_t>(n, packedSize - done)) : 0;
            const size_t lead = together ? kEntryHeadSize : 0;
            slice.assign(lead + n, 0);
            std::memcpy(slice.data(), head, lead);
            uint8_t* bytes = slice.data() + lead;
            if (data) std::memcpy(bytes, body + done, data);
            if (block.mode == crypted) ScrambleBlock(bytes, data);
            if (cipher) cipher->Encipher(bytes, n);
            written = files::WriteAllAt(slot.handle, slice.data(), slice.size(), end + kEntryHeadSize + done - lead);
            if (written) Wrote(k, slice.data(), slice.size(), end + kEntryHeadSize + done - lead);
        }
        if (together && padded == 0) {
            written = files::WriteAllAt(slot.handle, head, sizeof head, end);
            if (written) Wrote(k, head, sizeof head, end);
        }
        if (!written) {
            const int err = errno;
            crcKnown[k] = false;
            NoteWriteError(k, err);
            // Cut a partly written entry away again: the file stays as it was.
            const bool restored = ftruncate(slot.handle, static_cast<off_t>(end)) == 0;
            index[k].Invalidate();
            LogTag("IStuffVLT->AddData(%d,'%s')", id, block.name)
                .Error("the data block could not be written: %s%s\n", strerror(err),
                       restored ? "" : " (the VLT could not be restored)");
            return 0;
        }
        slot.modified = 1;
        slot.recordedLength += static_cast<uint32_t>(kEntryHeadSize + padded);
        if (!index[k].Record(end, end, desc)) index[k].Appended();
        return Replaced(id, k, block, packedSize, replacing);
    }

    // After the append of block: when replacing, deletes the live blocks of
    // the pair before it; counts the update. The packed size, or 0.
    int Replaced(int id, int k, const BlockInfo& block, uint32_t packedSize, bool replacing) {
        if (replacing) {
            // The new block is the last entry; every earlier live block of the
            // pair is the one it replaces.
            BlockInfo old;
            std::memset(&old, 0, sizeof old);
            std::memcpy(old.name, block.name, sizeof old.name);
            std::memcpy(old.type, block.type, sizeof old.type);
            for (;;) {
                index[k].Extend(CipherOf(k));
                const long long j = index[k].FindPair(old.name, old.type);
                if (j < 0 || static_cast<size_t>(j) + 1 >= index[k].entries().size()) break;
                if (!self->DeleteNow(id, &old)) {
                    LOG_PRINT(0,
                              " . [IStuffVLT->AddData(%d,'%s')] Error: the block it replaces could not be deleted.\n",
                              id, old.name);
                    return 0;
                }
            }
        }
        if (updating[k]) ++(replacing ? updateCounts[k].replaced : updateCounts[k].added);
        return static_cast<int>(packedSize);
    }

    // The slot of an open package, or -1.
    int SlotOf(int id) const {
        if (id < 1) return -1;
        for (int i = 0; i < kMaxPackages; ++i)
            if (slots[i].id == id) return i;
        return -1;
    }
    void NoteWriteError(int k, int err) {
        if (!writeError[k]) writeError[k] = err ? err : EIO;
    }
    // n bytes were written at offset at of slot k's file: the checksum
    // follows them when they extend what it covers.
    void Wrote(int k, const uint8_t* bytes, size_t n, uint64_t at) {
        if (!crcKnown[k]) return;
        if (at != crcEnd[k]) {
            crcKnown[k] = false;
            return;
        }
        crc[k] = static_cast<uint32_t>(crc32(crc[k], bytes, static_cast<uInt>(n)));
        crcEnd[k] += n;
    }
    // Asks the system to start writing what was appended so far to the
    // device, once there is enough of it: the fsync at the close then has
    // little left to wait for. Only a hint; the fsync reports any failure.
    void StartWriteback(int k, uint64_t end) {
        constexpr uint64_t kWritebackBytes = uint64_t(1) << 20;
        if (end < writebackFrom[k] + kWritebackBytes) return;
        sync_file_range(slots[k].handle, static_cast<off_t>(writebackFrom[k]),
                        static_cast<off_t>(end - writebackFrom[k]), SYNC_FILE_RANGE_WRITE);
        writebackFrom[k] = end;
    }
    bool Locked(int k) const { return slots[k].protectedFlag && !keySet; }
    const PackageCipher* CipherOf(int k) const { return slots[k].protectedFlag ? &packageCipher : nullptr; }

    void Take(int k, size_t j, BlockInfo* info) {
        const IndexEntry& e = index[k].entries()[j];
        std::memcpy(info->name, e.desc + kNameOffset, kNameSize);
        info->name[kNameSize - 1] = 0;  // untrusted: always a terminated text
        std::memcpy(info->type, e.desc + kTypeOffset, kTypeSize);
        info->type[kTypeSize - 1] = 0;
        info->mode = e.desc[kModeOffset];
        info->size = LoadLE32(e.desc + kSizeOffset);
        info->packedSize = e.packedSize;
        info->data = nullptr;
        cursorOffset = e.payload();
        cursorLength = e.packedSize;
    }

    // The end of a walk: the message of a descriptor cut short, and the result.
    int WalkEnd(int id, int result, bool shortDescriptor, bool first) {
        if (shortDescriptor) {
            if (first)
                LogTag("IStuffVLT->FindFirst(%d)", id).Error("the first block was unsuccessfully loaded.\n");
            else
                LogTag("IStuffVLT->FindNext(%d)", id).Error("the next block was unsuccessfully loaded.\n");
        }
        return result;
    }

    int Find(int id, BlockInfo* info, bool first) {
        const int k = SlotOf(id);
        if (k < 0) return 2;
        if (Locked(k)) {
            LogTag("IStuffVLT->Find(%d)", id).Error("the given VLT is protected and the key was not set.\n");
            return 0;
        }
        if (first) {
            cursorOffset = 0;
            cursorLength = 0;
        }
        const uint64_t start = first ? kFirstEntry : cursorOffset + cursorLength;
        PackageIndex& idx = index[k];
        idx.Extend(CipherOf(k));
        const long long j = idx.AfterScanStart(start);
        if (j >= 0) {
            if (static_cast<size_t>(j) < idx.entries().size()) {
                Take(k, static_cast<size_t>(j), info);
                return 1;
            }
            return WalkEnd(id, idx.endResult(), idx.endShortDescriptor(), first);
        }
        // A start the index does not know (the shared cursor last moved in
        // another package): scan the file itself from there.
        IndexEntry e;
        size_t descBytes = 0;
        switch (idx.window().Next(start, e.marker, e.desc, descBytes)) {
            case FileWindow::Scan::End: return 0;
            case FileWindow::Scan::ReadError: return 2;
            case FileWindow::Scan::ShortDescriptor: return WalkEnd(id, descBytes ? 2 : 0, true, first);
            case FileWindow::Scan::Found: break;
        }
        if (const PackageCipher* c = CipherOf(k)) c->Decipher(e.desc, kDescriptorSize);
        std::memcpy(info->name, e.desc + kNameOffset, kNameSize);
        info->name[kNameSize - 1] = 0;
        std::memcpy(info->type, e.desc + kTypeOffset, kTypeSize);
        info->type[kTypeSize - 1] = 0;
        info->mode = e.desc[kModeOffset];
        info->size = LoadLE32(e.desc + kSizeOffset);
        info->packedSize = LoadLE32(e.desc + kPackedOffset);
        info->data = nullptr;
        cursorOffset = e.payload();
        cursorLength = info->packedSize;
        return 1;
    }

    // The search by name and type: the result of a walk from the first entry
    // that stops at the first entry carrying both (1, with the found record
    // copied over info and its number in found), or the walk's end result.
    int Search(int id, int k, BlockInfo* info, size_t& found) {
        if (Locked(k)) {
            LogTag("IStuffVLT->Find(%d)", id).Error("the given VLT is protected and the key was not set.\n");
            return 0;
        }
        cursorOffset = 0;
        cursorLength = 0;
        PackageIndex& idx = index[k];
        idx.Extend(CipherOf(k));
        const long long j = idx.FindPair(info->name, info->type);
        if (j >= 0) {
            found = static_cast<size_t>(j);
            Take(k, found, info);
            return 1;
        }
        const size_t n = idx.entries().size();
        if (n) {
            // The walk passed every entry; the cursor stays at the last one.
            cursorOffset = idx.Marker(n - 1) + kEntryHeadSize;
            cursorLength = idx.PackedSize(n - 1);
        }
        return WalkEnd(id, idx.endResult(), idx.endShortDescriptor(), n == 0);
    }

    bool ChecksumOf(int fd, uint32_t& crc) {
        struct stat st;
        if (fstat(fd, &st) != 0) return false;
        const uint64_t length = static_cast<uint64_t>(st.st_size);
        if (length < kFirstEntry) {
            errno = 0;
            return false;
        }
        return ChecksumFromHere(fd, length - kFirstEntry, crc);
    }

    // Registers an opened package; its id, or 0 when the registry is full.
    // fileCrc: the checksum of the whole file from offset 520, when it was
    // read.
    int Register(int fd, int32_t protectedFlag, const char* path, uint64_t length, bool remembered, bool readOnly,
                 const uint32_t* fileCrc) {
        if (!remembered) {
            int s = -1;
            for (int i = 0; i < kMaxPackages && s < 0; ++i)
                if (slots[i].recordedLength == 0) s = i;
            if (s < 0) {
                for (int i = 0; i < kMaxPackages && s < 0; ++i) {
                    const int c = (rotating + i) % kMaxPackages;
                    if (slots[c].id == 0) s = c;
                }
                if (s < 0) {
                    LogTag("IStuffVLT").Warning("reached maximum limit of VLT files opened(%d).\n", kMaxPackages);
                    return 0;
                }
                rotating = (rotating + 1) % kMaxPackages;
            }
            slots[s].recordedLength = static_cast<uint32_t>(length);
            slots[s].fileName = path;
            slots[s].openCount = 0;
        }
        int t = 0;
        while (t < kMaxPackages && !(slots[t].recordedLength == length && slots[t].fileName == path)) ++t;
        if (t == kMaxPackages) return 0;  // cannot happen: the slot was just filled
        PackageSlot& slot = slots[t];
        int id;
        if (slot.id == 0) {
            slot.modified = 0;
            slot.id = nextId++;
            updating[t] = false;
            updateCounts[t] = UpdateCounts();
            ForgetUpdated(t);
            writeError[t] = 0;
        } else {
            DropAhead(t);
            close(slot.handle);
        }
        id = slot.id;
        ++slot.openCount;
        slot.handle = fd;
        slot.protectedFlag = protectedFlag;
        slot.readOnly = readOnly;
        index[t].Reset(fd);
        crcKnown[t] = fileCrc != nullptr;
        crc[t] = fileCrc ? *fileCrc : 0;
        crcEnd[t] = length;
        writebackFrom[t] = length;
        return id;
    }

    void CloseSlot(int k) {
        FlushTail();
        DropAhead(k);
        PackageSlot& slot = slots[k];
        if (slot.modified) {
            std::string error;
            if (!RewriteHeader(slot.handle, internalCipher, error, crcKnown[k] ? &crc[k] : nullptr, crcEnd[k]))
                LogTag("IStuffVLT->Close(%d)", slot.id)
                    .Error("the header of '%s' could not be rewritten: %s\n", slot.fileName.c_str(), error.c_str());
        }
        if (close(slot.handle) != 0)
            LogTag("IStuffVLT->Close(%d)", slot.id)
                .Error("'%s' could not be closed: %s\n", slot.fileName.c_str(), strerror(errno));
        slot.handle = 0;
        slot.id = 0;
        slot.modified = 0;
        slot.protectedFlag = 0;
        slot.openCount = 0;
        slot.readOnly = false;
        updating[k] = false;
        updateCounts[k] = UpdateCounts();
        ForgetUpdated(k);
        writeError[k] = 0;
        crcKnown[k] = false;
        index[k].Clear();
    }
};

IStuffVLT* g_pStuffVLT = nullptr;

IStuffVLT::IStuffVLT() : impl_(new Impl) {
    impl_->self = this;
    time_t fixed = 0;
    if (reproducible::SourceDate(fixed)) {
        impl_->nextId = 1;  // ids from the clock only when output need not be reproducible
    } else {
        srand(SDL_GetTicks());
        do {
            impl_->nextId = rand() % 333666;
        } while (impl_->nextId == 0);
    }
    const LogTag tag("IStuffVLT");
    if (!PackageCipher::KeyWithInternalKey(impl_->internalCipher, impl_->packageCipher))
        tag.Error("the cipher could not be keyed.\n");
    tag.Line(5, "Interfaz created.\n");
}

IStuffVLT::~IStuffVLT() {
    const LogTag tag("IStuffVLT");
    impl_->Drain();
    for (int k = 0; k < kMaxPackages; ++k) {
        if (impl_->slots[k].id != 0) {
            tag.Warning("'%s' VLT file was not closed on your code. Doing it now!\n", impl_->slots[k].fileName.c_str());
            impl_->CloseSlot(k);
        }
    }
    impl_->pool.reset();
    delete impl_;
    ReleaseCompressorMemory();
    tag.Line(5, "Interfaz deleted.\n");
}

int IStuffVLT::Create(const char* path) {
    if (!path || !*path) return -1;
    impl_->Drain();
    Trovalis.CreatePath(path);
    // Never through a link or a second name planted at the path (FileAccess.h).
    const int fd = files::OpenForWriting(path, 0666);
    if (fd < 0) return -1;
    uint8_t bytes[kFirstEntry];
    std::memcpy(bytes, kHead4, kHeadSize);
    BuildHeader(bytes + kHeadSize, nullptr, nullptr);
    impl_->internalCipher.Encipher(bytes + kHeadSize, kHeaderSize);
    const bool written = files::WriteAll(fd, bytes, sizeof bytes);
    const int err = errno;
    if (close(fd) != 0 || !written) {
        LogTag("IStuffVLT->Create('%s')", path).Error("%s\n", strerror(written ? errno : err));
        unlink(path);  // a half-written package is no package
        return -1;
    }
    return Open(path);
}

int IStuffVLT::OpenForReading(const char* path) {
    impl_->readingOnly = true;
    const int id = Open(path);
    impl_->readingOnly = false;
    return id;
}

int IStuffVLT::Open(const char* path) {
    if (!path) return -1;
    Impl& m = *impl_;
    m.Drain();
    bool readOnly = false;
    // Only a regular file can be a package; a FIFO must not block the open.
    int fd = m.readingOnly ? -1 : files::OpenRegular(path, O_RDWR);
    const LogTag tag("IStuffVLT->Open('%s')", path);
    if (fd < 0) {
        if (m.readingOnly || (errno != EISDIR && errno != EINVAL)) fd = files::OpenRegular(path, O_RDONLY);
        if (fd < 0) {
            tag.Error("%s\n", strerror(errno));
            return -1;
        }
        readOnly = true;
        tag.Warning("file opened in read only mode.\n");
    }
    std::memset(m.head, 0, sizeof m.head);
    if (files::ReadUpToAt(fd, m.head, kHeadSize, 0) != static_cast<long long>(kHeadSize) ||
        std::memcmp(m.head, "VLTv", 4) != 0) {
        close(fd);
        tag.Error("it is not a valid VLT.\n");
        return -1;
    }
    if (m.head[4] == '3') {
        if (readOnly) {
            tag.Error("it is not possible to update a VLT opened in read only mode.\n");
            close(fd);
            return -1;
        }
        close(fd);
        fd = Update3to4(path);
        if (fd < 0) {
            tag.Error("it was not possible to update the given VLT from v3.0 to v4.0.\n");
            return -1;
        }
        tag.Info(5, "the given VLT was updated from v3.0 to v4.0.\n");
    }
    if (m.head[4] != '4') {
        char text[kHeadSize + 1] = {};
        std::memcpy(text, m.head, kHeadSize);
        tag.Error("'%s' version is not supported.\n", text);
        close(fd);
        return -1;
    }
    struct stat st;
    if (files::ReadUpToAt(fd, m.header, kHeaderSize, kHeadSize) != static_cast<long long>(kHeaderSize) ||
        fstat(fd, &st) != 0) {
        tag.Error("the given VLT is corrupted.\n");
        close(fd);
        return -1;
    }
    m.internalCipher.Decipher(m.header, kHeaderSize);
    const uint64_t length = static_cast<uint64_t>(st.st_size);

    bool remembered = false;
    for (int i = 0; i < kMaxPackages && m.slots[i].recordedLength != 0; ++i) {
        if (m.slots[i].recordedLength == length && m.slots[i].fileName == path) {
            remembered = true;
            break;
        }
    }
    uint32_t crc = 0;
    if (!remembered) {
        const bool read = lseek(fd, static_cast<off_t>(kFirstEntry), SEEK_SET) >= 0 && m.ChecksumOf(fd, crc);
        if (!read || crc != LoadLE32(m.header + kChecksumOffset)) {
            tag.Error("the given VLT is corrupted.\n");
            close(fd);
            return -1;
        }
    }
    const int id =
        m.Register(fd, m.header[kProtectedOffset], path, length, remembered, readOnly, remembered ? nullptr : &crc);
    if (id < 1) {
        close(fd);
        return 0;
    }
    return id;
}

int IStuffVLT::ProbeHead(const char* path, PackageHead* head) {
    if (!path || !head) return kHeadUnreadable;
    *head = PackageHead();
    // The status query below refuses anything but a regular file before a
    // byte is read; O_NONBLOCK keeps the open of a FIFO from waiting for a
    // writer.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    const LogTag tag("IStuffVLT->ProbeHead('%s')", path);
    if (fd < 0) {
        head->error = errno;
        tag.Error("%s\n", strerror(head->error));
        return kHeadUnreadable;
    }
    struct stat st;
    uint8_t bytes[kHeadSize] = {};
    long long got = 0;
    const bool statOk = fstat(fd, &st) == 0;
    const bool regular = statOk && S_ISREG(st.st_mode);
    if (regular) got = files::ReadUpToAt(fd, bytes, kHeadSize, 0);
    const int err = errno;
    close(fd);
    if (statOk && !regular) {
        tag.Error("not a regular file.\n");
        return kHeadNotRegular;
    }
    if (!statOk || got < 0) {
        head->error = err;
        tag.Error("%s\n", strerror(err));
        return kHeadUnreadable;
    }
    const uint64_t length = static_cast<uint64_t>(st.st_size);
    head->entryBytes = length > kFirstEntry ? length - kFirstEntry : 0;
    if (got < static_cast<long long>(kHeadSize) || std::memcmp(bytes, "VLTv", 4) != 0) return kHeadNotPackage;
    std::memcpy(head->version, bytes + 4, kHeadSize - 4);
    if (bytes[4] == '3') return kHeadVersion3;
    if (bytes[4] == '4') return kHeadVersion4;
    return kHeadOtherVersion;
}

std::string IStuffVLT::UpgradeBackupName(const char* path) { return path ? V3BackupName(path) : std::string(); }

int IStuffVLT::Update3to4(const char* path) { return UpgradeV3Package(path, impl_->internalCipher, impl_->head); }

void IStuffVLT::Close(int id) {
    impl_->Drain();
    const int k = impl_->SlotOf(id);
    if (k < 0) return;
    if (--impl_->slots[k].openCount < 1) impl_->CloseSlot(k);
}

int IStuffVLT::GetModified(int id, char text[32]) {
    if (!text) return 0;
    std::memset(text, 0, kDateSize);
    const int k = impl_->SlotOf(id);
    if (k < 0) return 0;
    uint8_t header[kHeaderSize];
    if (files::ReadUpToAt(impl_->slots[k].handle, header, kHeaderSize, kHeadSize) !=
        static_cast<long long>(kHeaderSize))
        return 0;
    impl_->internalCipher.Decipher(header, kHeaderSize);
    std::memcpy(text, header + kModifiedOffset, kDateSize - 1);
    return 1;
}

const char* IStuffVLT::GetName(int id) {
    const int k = impl_->SlotOf(id);
    return k < 0 ? nullptr : impl_->slots[k].fileName.c_str();
}

int IStuffVLT::FindFirst(int id, BlockInfo* info) {
    if (!info) return 2;
    impl_->Drain();
    return impl_->Find(id, info, true);
}

int IStuffVLT::FindNext(int id, BlockInfo* info) {
    if (!info) return 2;
    impl_->Drain();
    return impl_->Find(id, info, false);
}

int IStuffVLT::FindNth(int id, uint64_t n, BlockInfo* info) {
    if (!info) return 2;
    Impl& m = *impl_;
    m.Drain();
    const int k = m.SlotOf(id);
    if (k < 0) return 2;
    if (m.Locked(k)) return m.Find(id, info, true);  // its message and answer
    PackageIndex& idx = m.index[k];
    idx.Extend(m.CipherOf(k));
    if (n < idx.entries().size()) {
        m.Take(k, static_cast<size_t>(n), info);
        return 1;
    }
    // The walk's end, with its message and cursor, as its own calls give it.
    int r = m.Find(id, info, true);
    for (uint64_t i = 0; r == 1 && i < n; ++i) r = m.Find(id, info, false);
    return r;
}

int IStuffVLT::Count(int id) {
    const int k = impl_->SlotOf(id);
    if (k < 0) return -1;
    const off_t position = lseek(impl_->slots[k].handle, 0, SEEK_CUR);
    BlockInfo info;
    int count = 0;
    for (int r = FindFirst(id, &info); r == 1; r = FindNext(id, &info)) ++count;
    if (position >= 0) lseek(impl_->slots[k].handle, position, SEEK_SET);
    return count;
}

int IStuffVLT::CountDeleted(int id) {
    const int k = impl_->SlotOf(id);
    if (k < 0) return -1;
    const off_t position = lseek(impl_->slots[k].handle, 0, SEEK_CUR);
    BlockInfo info;
    int count = 0;
    for (int r = FindFirst(id, &info); r == 1; r = FindNext(id, &info))
        if (std::memcmp(info.type, kDeletedType, kTypeSize) == 0) ++count;
    if (position >= 0) lseek(impl_->slots[k].handle, position, SEEK_SET);
    return count;
}

int IStuffVLT::LoadBlock(int id, const char* type, const char* name, BlockInfo* info) {
    impl_->Drain();
    return LoadBlockNow(id, type, name, info);
}

namespace {

// Undoes a read payload's storage mode: an enciphered one is unscrambled in
// place, a compressed one (read with the decoder's zeroed slack after it)
// decoded into a new buffer. Gives the payload, or nullptr (buffer freed)
// once the failure is logged.
uint8_t* RestorePayload(uint8_t* buffer, uint64_t padded, const BlockInfo& info, const LogTag& tag) {
    if (info.mode == crypted) {
        if (padded != info.packedSize) {
            uint8_t* exact = static_cast<uint8_t*>(std::realloc(buffer, info.packedSize ? info.packedSize : 1));
            if (exact) buffer = exact;
        }
        ScrambleBlock(buffer, info.packedSize);
        return buffer;
    }
    if (info.mode != compressed) return buffer;
    uint8_t* out = static_cast<uint8_t*>(std::malloc(info.size ? info.size : 1));
    // The bytes after the packed ones (cipher padding) are zeroed like the slack.
    std::memset(buffer + info.packedSize, 0, static_cast<size_t>(padded - info.packedSize));
    const bool decoded = out && DecompressPadded(buffer, info.packedSize, out, info.size);
    std::free(buffer);
    if (!decoded) {
        std::free(out);
        return tag.Fail(nullptr, "UCL failed to decompress the data block.\n");
    }
    return out;
}

}  // namespace

int IStuffVLT::LoadBlockNow(int id, const char* type, const char* name, BlockInfo* info) {
    if (!info) return 0;
    std::memset(info, 0, sizeof *info);
    Impl& m = *impl_;
    m.FlushTail();
    const int k = m.SlotOf(id);
    if (k < 0 || !type || !name) return 0;
    const PackageSlot& slot = m.slots[k];
    const char* file = slot.fileName.c_str();
    const LogTag tag("IStuffVLT->LoadBlock('%s','%s','%s')", file, type, name);
    if (m.Locked(k)) return tag.Fail(0, "the given VLT is protected and the key was not set.\n");
    // A name or type longer than its field could only match a cut-down copy
    // of itself: it is not in the package.
    size_t found = 0;
    int r = 0;
    if (strlen(type) < kTypeSize && strlen(name) < kNameSize) {
        std::strcpy(info->type, type);
        std::strcpy(info->name, name);
        r = m.Search(id, k, info, found);
    }
    if (r != 1) {
        tag.Warning("datablock was not found in the given VLT.\n");
        return 0;
    }
    const uint64_t start = m.cursorOffset;
    const uint64_t padded = PaddedLength(info->packedSize);
    // The payload must lie inside the file (whose length the slot keeps in
    // step with every append), and a stored block cannot be longer than what
    // was stored.
    if (start + padded > slot.recordedLength || (info->mode != compressed && info->size > info->packedSize))
        return tag.Fail(0, "datablock was not loaded successfully.\n");
    // A compressed block cannot grow beyond what its packed bytes can decode
    // to; a descriptor that says otherwise would only make us allocate.
    if (info->mode == compressed && info->size > MaxUnpackedSize(info->packedSize))
        return tag.Fail(0, "UCL failed to decompress the data block.\n");
    // Decoded ahead by a worker: the same bytes. Anything that went wrong
    // there is done again here, where it is reported.
    if (m.Pool()) {
        std::shared_ptr<DecodeJob> job = m.TakeAhead(k, found);
        if (job && job->ok && info->mode == compressed && job->offset == start && job->packedSize == info->packedSize &&
            job->size == info->size) {
            info->data = job->out;
            job->out = nullptr;
            return static_cast<int>(info->size);
        }
    }
    // A compressed payload is read with the decoder's zeroed slack after it
    // and decoded where it was read.
    const size_t slack = info->mode == compressed ? kDecompressSlack : 0;
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(padded) + slack + 1));
    if (buffer) std::memset(buffer + padded, 0, slack + 1);
    // Small payloads come from the read window; large ones straight from the file.
    const long long got = !buffer ? -1
                          : padded <= FileWindow::kSize
                              ? m.index[k].window().Get(start, buffer, static_cast<size_t>(padded))
                              : files::ReadUpToAt(slot.handle, buffer, static_cast<size_t>(padded), start);
    if (got != static_cast<long long>(padded)) {
        std::free(buffer);
        tag.Error("datablock was not loaded successfully.\n");
        return 0;
    }
    if (const PackageCipher* c = m.CipherOf(k)) c->Decipher(buffer, static_cast<size_t>(padded));
    buffer = RestorePayload(buffer, padded, *info, tag);
    if (!buffer) return 0;
    info->data = buffer;
    return static_cast<int>(info->size);
}

int IStuffVLT::FreeBlock(BlockInfo* info) {
    if (info) {
        std::free(info->data);
        info->data = nullptr;
    }
    return 1;
}

int IStuffVLT::AddData(int id, BlockInfo* info) {
    if (!info) return 0;
    Impl& m = *impl_;
    if (strnlen(info->type, kTypeSize) >= kTypeSize || strnlen(info->name, kNameSize) >= kNameSize) {
        LogTag("IStuffVLT->AddData(%d,'%.32s')", id, info->name)
            .Error("name or type are too long. Maximum chars for name is 32 and 8 for type.\n");
        return 0;
    }
    // A block of a pair that waits for its compression must be in the file
    // before this one is compared or searched for; so must every block
    // before one that is written at once. A large block is compressed here,
    // from the caller's bytes: a worker would need a copy of it.
    WorkerPool* pool = info->mode == compressed && info->size <= kLargeBlock ? m.Pool() : nullptr;
    if (pool && !m.PairPending(info->name, info->type))
        m.CommitFinished();
    else
        m.Drain();
    const int k = m.SlotOf(id);
    if (k < 0) return 0;
    PackageSlot& slot = m.slots[k];
    if (m.Locked(k)) {
        LogTag("IStuffVLT->AddData(%d,'%s')", id, info->name)
            .Error("the given VLT is protected and the key was not set.\n");
        return 0;
    }
    // Updating: a block of the pair that is there already is compared with
    // this one, and kept when they are the same.
    bool replacing = false;
    if (m.updating[k]) {
        bool firstTime = false;
        if (m.updated[k].Add(info->name, info->type, &firstTime) < 0) {
            // Unrecorded, the pair would count as one the document left out.
            LogTag("IStuffVLT->AddData(%d,'%s')", id, info->name).Error("too many blocks to update at once.\n");
            m.NoteWriteError(k, ENOMEM);
            return 0;
        }
        m.index[k].Extend(m.CipherOf(k));
        const long long j = m.index[k].FindPair(info->name, info->type);
        if (firstTime)
            m.updatedPlace[k].push_back(
                j >= 0 && static_cast<uint64_t>(j) < m.updateBefore[k] ? static_cast<uint32_t>(j) : kNoPlace);
        if (j >= 0) {
            replacing = true;
            const uint32_t storedPacked = m.index[k].PackedSize(static_cast<size_t>(j));
            const uint8_t mode = (info->mode == compressed || info->mode == stored) ? info->mode : uint8_t(crypted);
            BlockInfo old;
            LoadBlockNow(id, info->type, info->name, &old);
            const bool same = old.data && old.mode == mode && old.size == info->size &&
                              (info->size == 0 || (info->data && std::memcmp(old.data, info->data, info->size) == 0));
            FreeBlock(&old);
            if (same) {
                ++m.updateCounts[k].unchanged;
                return static_cast<int>(storedPacked);
            }
        }
    }
    size_t found = 0;
    const int r = replacing ? 0 : m.Search(id, k, info, found);
    if (r == 1) {
        LogTag("IStuffVLT->AddData(%d,'%s')", id, info->name).Info(5, "block already exists.\n");
        return -1;
    }
    if (r == 2) {
        LogTag("IStuffVLT->AddData(%d,'%s')", id, info->name).Error("it was not possible to access to the VLT.\n");
        return 0;
    }
    if (slot.readOnly) {
        LogTag("IStuffVLT->AddData(%d,'%s')", id, info->name).Error("the VLT was opened in read only mode.\n");
        return 0;
    }
    if (!info->data && info->size) {
        LogTag("IStuffVLT->AddData(%d,'%s')", id, info->name).Error("the block has no data.\n");
        return 0;
    }
    if (pool) return m.Submit(*pool, id, k, *info, replacing);

    // Only compression makes a second copy of the payload: a stored or
    // scrambled one is written from the caller's bytes, a slice at a time.
    PackedBytes packed;
    const uint8_t* body = info->data;
    if (info->mode != compressed) {
        if (info->mode != stored) info->mode = crypted;
    } else if (!CompressBlock(info->data, info->size, packed)) {
        LogTag("IStuffVLT->AddData(%d,'%s')", id, info->name).Error("UCL failed to compress the data block.\n");
        return 0;
    } else {
        body = packed.data.get();
    }
    const uint32_t packedSize = info->mode == compressed ? static_cast<uint32_t>(packed.size) : info->size;
    return m.Append(id, k, *info, body, packedSize, replacing, false);
}

int IStuffVLT::Flush(int id) {
    impl_->Drain();
    return WriteError(id);
}

void IStuffVLT::SetJobs(unsigned jobs) { vlt::SetThreadBudget(jobs); }

unsigned IStuffVLT::Jobs() { return vlt::ThreadBudget(); }

int IStuffVLT::Delete(int id, BlockInfo* info) {
    impl_->Drain();
    return DeleteNow(id, info);
}

int IStuffVLT::DeleteNow(int id, BlockInfo* info) {
    if (id < 0 || !info) return 0;
    Impl& m = *impl_;
    m.FlushTail();
    uint8_t* data = info->data;
    const uint32_t size = info->size;
    const uint32_t packedSize = info->packedSize;
    const uint8_t mode = info->mode;
    const int k = m.SlotOf(id);
    size_t found = 0;
    const int r = k < 0 ? 2 : m.Search(id, k, info, found);
    const LogTag tag("IStuffVLT->Delete(%d)", id);
    if (r != 1) {
        tag.Warning("datablock was not found in the given VLT.\n");
        return 0;
    }
    info->data = data;
    info->size = size;
    info->packedSize = packedSize;
    info->mode = mode;

    PackageSlot& slot = m.slots[k];
    if (slot.readOnly) {
        tag.Error("the VLT was opened in read only mode.\n");
        return 0;
    }
    const IndexEntry& e = m.index[k].entries()[found];
    uint8_t desc[kDescriptorSize];
    std::memcpy(desc, e.desc, kDescriptorSize);
    std::memcpy(desc + kTypeOffset, kDeletedType, kTypeSize);
    desc[kNameOffset] = '?';
    uint8_t onDisk[kDescriptorSize];
    std::memcpy(onDisk, desc, kDescriptorSize);
    if (const PackageCipher* c = m.CipherOf(k)) c->Encipher(onDisk, kDescriptorSize);
    const uint64_t at = m.cursorOffset - kDescriptorSize;
    m.crcKnown[k] = false;  // bytes the checksum covers change
    if (!files::WriteAllAt(slot.handle, onDisk, kDescriptorSize, at)) {
        const int err = errno;
        m.NoteWriteError(k, err);
        // Put the old descriptor back over whatever part was written.
        uint8_t old[kDescriptorSize];
        std::memcpy(old, e.desc, kDescriptorSize);
        if (const PackageCipher* c = m.CipherOf(k)) c->Encipher(old, kDescriptorSize);
        files::WriteAllAt(slot.handle, old, kDescriptorSize, at);
        m.index[k].Invalidate();
        tag.Error("the descriptor could not be written: %s\n", strerror(err));
        return 0;
    }
    m.index[k].Rewrite(found, desc);
    slot.modified = 1;
    return 1;
}

uint32_t IStuffVLT::CalculateCRC(int handle) {
    impl_->Drain();
    const off_t position = lseek(handle, 0, SEEK_CUR);
    uint32_t crc = 0;
    const bool ok = position >= 0 && impl_->ChecksumOf(handle, crc);
    if (!ok) LogTag("IStuffVLT->CalculateCRC('%d')", handle).Error("%s\n", ErrorText(errno));
    if (position >= 0) lseek(handle, position, SEEK_SET);
    return ok ? crc : 0;
}

int IStuffVLT::SetUpdating(int id, bool on) {
    impl_->Drain();
    const int k = impl_->SlotOf(id);
    if (k < 0) return 0;
    impl_->updating[k] = on;
    impl_->updateCounts[k] = UpdateCounts();
    impl_->ForgetUpdated(k);
    if (on && !impl_->Locked(k)) {
        impl_->index[k].Extend(impl_->CipherOf(k));
        impl_->updateBefore[k] = impl_->index[k].entries().size();
    }
    return 1;
}

int IStuffVLT::WasUpdated(int id, const char* name, const char* type) const {
    const int k = impl_->SlotOf(id);
    if (k < 0 || !name || !type) return 0;
    return impl_->updated[k].Find(name, type) >= 0 ? 1 : 0;
}

long long IStuffVLT::UpdatedPlace(int id, const char* name, const char* type) const {
    const int k = impl_->SlotOf(id);
    if (k < 0 || !name || !type) return -1;
    const long long n = impl_->updated[k].Find(name, type);
    if (n < 0) return -1;
    const uint32_t place = impl_->updatedPlace[k][static_cast<size_t>(n)];
    return place == kNoPlace ? -1 : static_cast<long long>(place);
}

int IStuffVLT::WriteError(int id) const {
    const int k = impl_->SlotOf(id);
    return k < 0 ? 0 : impl_->writeError[k];
}

int IStuffVLT::GetUpdateCounts(int id, UpdateCounts* counts) {
    impl_->Drain();
    const int k = impl_->SlotOf(id);
    if (k < 0 || !counts) return 0;
    *counts = impl_->updateCounts[k];
    return 1;
}

void IStuffVLT::CloseDiscarding(int id) {
    impl_->Drain();
    const int k = impl_->SlotOf(id);
    if (k < 0) return;
    impl_->slots[k].modified = 0;
    impl_->CloseSlot(k);
}

namespace {

// One live entry to copy: its rank, then its number (the order it is
// written in), and the bytes of the package it covers.
struct Pick {
    uint64_t rank;
    size_t j;
    uint64_t from, to;
    bool Before(const Pick& o) const { return rank != o.rank ? rank < o.rank : j < o.j; }
};

// The live entries that keep accepts, each with its rank (its number
// without one), in package order. The picks whose rank is not below every
// earlier one's are in rank order already; the others (only a few, when an
// update moves replaced blocks back to their places) are "moved". False when
// an entry runs into the next one or past the end of the file.
template <typename Visit>
bool ForEachPick(const PackageIndex& index, uint64_t end, IStuffVLT::KeepEntry keep, void* context,
                 IStuffVLT::RankEntry rank, Visit&& visit) {
    const size_t count = index.entries().size();
    uint64_t top = 0;
    for (size_t j = 0; j < count; ++j) {
        const IndexEntry e = index.Entry(j);
        const uint64_t stop = e.payload() + PaddedLength(e.packedSize);
        const uint64_t limit = j + 1 < count ? index.Marker(j + 1) : end;
        if (stop > limit) return false;
        if (std::memcmp(e.desc + kTypeOffset, kDeletedType, kTypeSize) == 0) continue;
        uint64_t place = j;
        if (keep || rank) {
            BlockInfo info;
            std::memcpy(info.name, e.desc + kNameOffset, kNameSize);
            info.name[kNameSize - 1] = 0;
            std::memcpy(info.type, e.desc + kTypeOffset, kTypeSize);
            info.type[kTypeSize - 1] = 0;
            info.mode = e.desc[kModeOffset];
            info.size = LoadLE32(e.desc + kSizeOffset);
            info.packedSize = e.packedSize;
            info.data = nullptr;
            if (keep && !keep(context, info)) continue;
            if (rank) place = rank(context, info, j);
        }
        const bool moved = place < top;
        if (!moved) top = place;
        visit(Pick{place, j, e.marker, stop}, moved);
    }
    return true;
}

// Copies byte ranges of in to the end of out, adding them to crc and to
// written; ranges that are neighbours in the file are read as one.
class RangeCopy {
public:
    RangeCopy(int in, int out, uLong& crc, uint64_t& written) : in_(in), out_(out), crc_(crc), written_(written) {}

    void Add(uint64_t from, uint64_t to) {
        if (held_ && to_ == from) {
            to_ = to;
            return;
        }
        Copy();
        from_ = from;
        to_ = to;
        held_ = true;
    }
    // False with err (0 for a short read) when a read or write failed.
    bool Finish(int& err) {
        Copy();
        if (ok_ && used_) Flush();
        err = err_;
        return ok_;
    }

private:
    void Flush() {
        crc_ = crc32(crc_, buffer_.data(), static_cast<uInt>(used_));
        if (!files::WriteAll(out_, buffer_.data(), used_)) {
            err_ = errno;
            ok_ = false;
            return;
        }
        written_ += used_;
        used_ = 0;
    }
    void Copy() {
        if (!held_) return;
        held_ = false;
        // Entries are gathered into one buffer and written when it is full,
        // so that a package of many small entries costs few writes.
        if (buffer_.empty()) buffer_.resize(kBuffer);
        for (uint64_t at = from_; ok_ && at < to_;) {
            if (used_ == kBuffer) {
                Flush();
                if (!ok_) return;
            }
            const size_t n = static_cast<size_t>(std::min<uint64_t>(to_ - at, kBuffer - used_));
            const long long got = files::ReadUpToAt(in_, buffer_.data() + used_, n, at);
            if (got != static_cast<long long>(n)) {
                err_ = got < 0 ? errno : 0;
                ok_ = false;
                return;
            }
            used_ += n;
            at += n;
        }
    }

    static constexpr size_t kBuffer = 4u << 20;
    int in_, out_;
    uLong& crc_;
    uint64_t& written_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    uint64_t from_ = 0, to_ = 0;
    bool held_ = false, ok_ = true;
    int err_ = 0;
};

}  // namespace

int IStuffVLT::WriteLive(int id, const char* path, KeepEntry keep, void* context, uint64_t* length, RankEntry rank) {
    Impl& m = *impl_;
    m.Drain();
    const int k = m.SlotOf(id);
    if (k < 0 || !path || !*path) return 0;
    const PackageSlot& slot = m.slots[k];
    const char* file = slot.fileName.c_str();
    auto fail = [&](const char* why, int err) {
        LOG_PRINT(0, " . [IStuffVLT->WriteLive('%s','%s')] Error: %s%s%s\n", file, path, why, err ? ": " : "",
                  err ? strerror(err) : "");
        errno = err;  // the cause, for the caller to report
        return 0;
    };
    if (m.Locked(k)) return fail("the given VLT is protected and the key was not set.", 0);
    PackageIndex& idx = m.index[k];
    idx.Extend(m.CipherOf(k));
    if (idx.endResult() != 0) return fail("the entries of the VLT cannot all be read.", 0);
    struct stat st;
    if (fstat(slot.handle, &st) != 0) return fail("the VLT cannot be read", errno);
    const uint64_t end = static_cast<uint64_t>(st.st_size);

    // A first walk checks the entries and keeps those whose rank puts them
    // before an earlier one, in the order they are written.
    std::vector<Pick> moved;
    if (!ForEachPick(idx, end, keep, context, rank, [&](const Pick& p, bool isMoved) {
            if (isMoved) moved.push_back(p);
        }))
        return fail("an entry runs into the next one or past the end of the VLT.", 0);
    std::sort(moved.begin(), moved.end(), [](const Pick& a, const Pick& b) { return a.Before(b); });

    uint8_t header[kHeaderSize];
    if (files::ReadUpToAt(slot.handle, header, kHeaderSize, kHeadSize) != static_cast<long long>(kHeaderSize))
        return fail("the header block cannot be read.", 0);
    m.internalCipher.Decipher(header, kHeaderSize);

    const int out = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0) return fail("the new VLT cannot be created", errno);
    int err = 0;
    bool ok =
        files::WriteAll(out, kHead4, kHeadSize) && files::WriteAll(out, header, kHeaderSize);  // the header's place
    if (!ok) err = errno;
    uLong crc = crc32(0L, Z_NULL, 0);
    uint64_t written = kFirstEntry;
    if (ok) {
        // The second walk writes the entries in order, the moved ones merged in.
        RangeCopy copy(slot.handle, out, crc, written);
        size_t next = 0;
        ForEachPick(idx, end, keep, context, rank, [&](const Pick& p, bool isMoved) {
            if (isMoved) return;
            for (; next < moved.size() && moved[next].Before(p); ++next) copy.Add(moved[next].from, moved[next].to);
            copy.Add(p.from, p.to);
        });
        for (; next < moved.size(); ++next) copy.Add(moved[next].from, moved[next].to);
        ok = copy.Finish(err);
    }
    if (ok) {
        SealHeader(header, static_cast<uint32_t>(crc));
        m.internalCipher.Encipher(header, kHeaderSize);
        ok = files::WriteAllAt(out, header, kHeaderSize, kHeadSize);
        if (!ok) err = errno;
    }
    if (::close(out) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        ::unlink(path);  // a half-written package is no package
        return fail("the new VLT could not be written", err ? err : EIO);
    }
    if (length) *length = written;
    return 1;
}
