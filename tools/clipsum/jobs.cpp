#include "jobs.h"

#include "report_relay.h"

#include <pthread.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace {

// Files handed out ahead of the one whose reports are written, per thread:
// enough that a slow file holds up no thread, few enough to bound memory.
constexpr std::size_t kFilesAheadPerJob = 3;
// Report records a file holds before it waits for its turn: an mbox a few
// thousand messages ahead of the one before it.
constexpr std::size_t kMaxHeldRecordBytes = std::size_t{1} << 20;

struct Records {
    char* data;
    std::size_t length;
    std::size_t capacity;
};

// Room for length more bytes, within kMaxHeldRecordBytes; false when there is none.
bool MakeRoom(Records* records, std::size_t length)
{
    if (records->length + length <= records->capacity)
        return true;
    std::size_t capacity = records->capacity * 2;
    if (records->length + length > capacity || capacity > kMaxHeldRecordBytes)
        return false;
    char* grown = static_cast<char*>(realloc(records->data, capacity));
    if (!grown)
        return false;
    records->data = grown;
    records->capacity = capacity;
    return true;
}

bool Reserve(Records* records)
{
    records->data = static_cast<char*>(malloc(kMaxRecordBytes));
    records->capacity = records->data ? kMaxRecordBytes : 0;
    return records->data != nullptr;
}

struct Slot {
    Records records;
    bool identified;   // file and known are set
    bool known;        // file is the identity of the item's file
    FileIdentity file;
    bool done;         // its file has been handled to the end
    bool backupPassed; // its file will save no more originals
};

} // namespace

class JobBoard;

struct ReportRelay {
    JobBoard* board;
    std::size_t item; // the file being handled
};

struct Worker {
    pthread_t thread;
    ReportRelay relay;
    Reporter reporter;
    TempSweep sweep;
    Run run;
};

// The files in flight and their records. Every wait is for a file earlier in
// the list, and the earliest file in flight waits for nothing: no deadlock.
class JobBoard {
public:
    JobBoard(const WorkList& work, std::size_t window, void (*handle)(const WorkItem&, const Run&))
        : work_(work), window_(window), handle_(handle)
    {
    }

    ~JobBoard()
    {
        for (std::size_t i = 0; slots_ && i < window_; ++i)
            free(slots_[i].records.data);
        delete[] slots_;
        free(spare_.data);
    }

    // Each slot, and the writer, can hold the largest record from the start.
    bool Allocate()
    {
        slots_ = new (std::nothrow) Slot[window_]();
        if (!slots_ || !Reserve(&spare_))
            return false;
        for (std::size_t i = 0; i < window_; ++i) {
            if (!Reserve(&slots_[i].records))
                return false;
        }
        return true;
    }

    // A worker's life: the next file, until there is none.
    void Work(Worker& worker)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return next_ >= work_.count || next_ < head_ + window_; });
            if (next_ >= work_.count)
                return;
            const std::size_t item = next_++;
            worker.relay.item = item;
            const WorkItem& file = work_.items[item];
            lock.unlock();
            // One file reached by two paths is handled twice, the second time
            // as the first left it, as with one job.
            FileIdentity identity{};
            const bool known = (file.kind == ItemKind::File || file.kind == ItemKind::MaildirMessage) &&
                               IdentifyFile(file.path, &identity);
            lock.lock();
            Slot& slot = SlotOf(item);
            slot.identified = true;
            slot.known = known;
            slot.file = identity;
            changed_.notify_all();
            changed_.wait(lock, [this, item] { return !AwaitsEarlier(item); });
            lock.unlock();
            handle_(file, worker.run);
            lock.lock();
            SlotOf(item).done = true;
            PassBackupTurn(item);
            changed_.notify_all();
        }
    }

    void Put(std::size_t item, const char* record, std::size_t length)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        Records& records = SlotOf(item).records;
        // Full: the writer empties it when the file's turn comes.
        while (!MakeRoom(&records, length))
            changed_.wait(lock);
        memcpy(records.data + records.length, record, length);
        records.length += length;
        if (item == head_)
            changed_.notify_all();
    }

    // The calling thread's part: the records of each file in the list's order.
    void Write(Reporter* reporter)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (head_ < work_.count) {
            Slot& slot = SlotOf(head_);
            changed_.wait(lock, [&slot] { return slot.records.length > 0 || slot.done; });
            if (slot.records.length > 0) {
                std::swap(slot.records, spare_);
                changed_.notify_all();
                lock.unlock();
                ReplayRecords(reporter, spare_.data, spare_.length);
                spare_.length = 0;
                lock.lock();
                continue;
            }
            slot.identified = false;
            slot.done = false;
            slot.backupPassed = false;
            ++head_;
            changed_.notify_all();
        }
    }

    void WaitBackupTurn(std::size_t item)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this, item] { return backupTurn_ == item; });
    }

    void EndBackupTurn(std::size_t item)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        PassBackupTurn(item);
        changed_.notify_all();
    }

private:
    Slot& SlotOf(std::size_t item) { return slots_[item % window_]; }

    // With the lock held: whether an earlier file in flight is not yet
    // identified, or is the same file as item's and not yet done.
    bool AwaitsEarlier(std::size_t item)
    {
        const Slot& slot = SlotOf(item);
        for (std::size_t earlier = head_; earlier < item; ++earlier) {
            const Slot& other = SlotOf(earlier);
            if (!other.identified)
                return true;
            if (slot.known && other.known && !other.done && other.file.volume == slot.file.volume &&
                other.file.index == slot.file.index)
                return true;
        }
        return false;
    }

    // With the lock held.
    void PassBackupTurn(std::size_t item)
    {
        SlotOf(item).backupPassed = true;
        while (backupTurn_ < next_ && SlotOf(backupTurn_).backupPassed)
            ++backupTurn_;
    }

    const WorkList& work_;
    const std::size_t window_;
    void (*const handle_)(const WorkItem&, const Run&);
    Slot* slots_ = nullptr;
    Records spare_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t next_ = 0;       // the next file to hand out
    std::size_t head_ = 0;       // the file whose records are written now
    std::size_t backupTurn_ = 0; // the file that may save an original now
};

namespace {

void* WorkerMain(void* argument)
{
    auto* worker = static_cast<Worker*>(argument);
    worker->relay.board->Work(*worker);
    return nullptr;
}

} // namespace

void PutRecord(ReportRelay* relay, const char* record, std::size_t length)
{
    relay->board->Put(relay->item, record, length);
}

BackupTurn::BackupTurn(const Run& run) : relay_(run.reporter->relay)
{
    if (relay_)
        relay_->board->WaitBackupTurn(relay_->item);
}

BackupTurn::~BackupTurn()
{
    if (relay_)
        relay_->board->EndBackupTurn(relay_->item);
}

unsigned DefaultJobs()
{
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors > kMaxJobs ? kMaxJobs : processors;
}

bool HandleInParallel(const WorkList& work, unsigned jobs, const Run& run, void (*handle)(const WorkItem&, const Run&))
{
    if (jobs > work.count)
        jobs = static_cast<unsigned>(work.count);
    JobBoard board(work, jobs * kFilesAheadPerJob, handle);
    auto* workers = new (std::nothrow) Worker[jobs]();
    if (!workers || !board.Allocate()) {
        delete[] workers;
        return false;
    }
    unsigned started = 0;
    for (unsigned i = 0; i < jobs; ++i) {
        Worker& worker = workers[started];
        worker.relay.board = &board;
        worker.reporter = *run.reporter;
        worker.reporter.relay = &worker.relay;
        worker.reporter.sizeInName = 0;
        worker.run = Run{run.options, &worker.reporter, &worker.sweep, run.backupLog};
        // A thread the system refuses is one fewer; the others do its part.
        if (pthread_create(&worker.thread, nullptr, WorkerMain, &worker) == 0)
            ++started;
    }
    if (started > 0)
        board.Write(run.reporter);
    for (unsigned i = 0; i < started; ++i) {
        pthread_join(workers[i].thread, nullptr);
        EndSweep(&workers[i].sweep);
        run.reporter->sizeInName += workers[i].reporter.sizeInName;
    }
    delete[] workers;
    return started > 0;
}
