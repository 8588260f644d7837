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

// Files are handed out in runs of consecutive ones, so that threads meet
// rarely; a short list is parted finer, so that every thread gets some.
constexpr std::size_t kMaxRunFiles = 32;
constexpr std::size_t kRunsPerJob = 8;
// Runs handed out ahead of the one whose reports are written, per thread:
// enough that a slow file holds up no thread, few enough to bound memory.
constexpr std::size_t kRunsAheadPerJob = 3;
// Report records a run holds before it waits for its turn: an mbox a few
// thousand messages ahead of the one before it.
constexpr std::size_t kMaxHeldRecordBytes = std::size_t{1} << 20;
// Records a worker gathers before it hands them over: the threads meet once
// per run of small files, not once per file.
constexpr std::size_t kPendingRecordBytes = 2 * kMaxRecordBytes;

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

// A run of files in flight.
struct Slot {
    Records records;
    bool identified; // known and files are set
    bool known[kMaxRunFiles];
    FileIdentity files[kMaxRunFiles];
    bool done;                       // every file of the run has been handled to the end
    bool passed[kMaxRunFiles];       // the file will save no more originals
};

} // namespace

class JobBoard;

struct ReportRelay {
    JobBoard* board;
    std::size_t item; // the file being handled
    Records pending;  // its run's records not yet handed over
};

struct Worker {
    pthread_t thread;
    ReportRelay relay;
    Reporter reporter;
    TempSweep sweep;
    Run run;
};

// The runs in flight and their records. Every wait is for a file earlier in
// the list, and the earliest run in flight waits for nothing: no deadlock.
class JobBoard {
public:
    JobBoard(const WorkList& work, std::size_t runFiles, std::size_t window,
             void (*handle)(const WorkItem&, const Run&))
        : work_(work), runFiles_(runFiles), runs_((work.count + runFiles - 1) / runFiles), window_(window),
          handle_(handle)
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

    // A worker's life: the next run, until there is none.
    void Work(Worker& worker)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workersWake_.wait(lock, [this] { return next_ >= runs_ || next_ < head_ + window_; });
            if (next_ >= runs_)
                return;
            const std::size_t run = next_++;
            const std::size_t first = run * runFiles_;
            const std::size_t end = first + runFiles_ < work_.count ? first + runFiles_ : work_.count;
            Slot& slot = SlotOf(run);
            lock.unlock();
            // One file reached by two paths is handled twice, the second time
            // as the first left it, as with one job.
            for (std::size_t item = first; item < end; ++item) {
                const WorkItem& file = work_.items[item];
                FileIdentity& identity = slot.files[item - first];
                identity = file.listedRegular ? file.listedIdentity : FileIdentity{0, 0};
                slot.known[item - first] = (file.kind == ItemKind::File || file.kind == ItemKind::MaildirMessage) &&
                                           (identity.index != 0 || IdentifyFile(file.path, &identity));
            }
            lock.lock();
            slot.identified = true;
            workersWake_.notify_all();
            workersWake_.wait(lock, [this, run] { return !AwaitsEarlier(run); });
            lock.unlock();
            for (std::size_t item = first; item < end; ++item) {
                worker.relay.item = item;
                handle_(work_.items[item], worker.run);
                if (!worker.run.options->backupDir)
                    continue;
                lock.lock();
                PassBackupTurn(item);
                workersWake_.notify_all();
                lock.unlock();
            }
            lock.lock();
            HandOver(lock, run, worker.relay.pending);
            slot.done = true;
            for (std::size_t item = first; item < end; ++item)
                PassBackupTurn(item);
            workersWake_.notify_all();
            writerWake_.notify_one();
        }
    }

    // A record of the relay's file: gathered, and handed over when no more fit.
    void Put(ReportRelay& relay, const char* record, std::size_t length)
    {
        Records& pending = relay.pending;
        if (pending.capacity - pending.length < length) {
            std::unique_lock<std::mutex> lock(mutex_);
            HandOver(lock, relay.item / runFiles_, pending);
        }
        memcpy(pending.data + pending.length, record, length);
        pending.length += length;
    }

    // The calling thread's part: the records of each run in the list's order.
    void Write(Reporter* reporter)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        while (head_ < runs_) {
            Slot& slot = SlotOf(head_);
            writerWake_.wait(lock, [&slot] { return slot.records.length > 0 || slot.done; });
            if (slot.records.length > 0) {
                std::swap(slot.records, spare_);
                workersWake_.notify_all();
                lock.unlock();
                ReplayRecords(reporter, spare_.data, spare_.length);
                spare_.length = 0;
                lock.lock();
                continue;
            }
            slot.identified = false;
            slot.done = false;
            for (bool& passed : slot.passed)
                passed = false;
            ++head_;
            workersWake_.notify_all();
        }
    }

    void WaitBackupTurn(std::size_t item)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        workersWake_.wait(lock, [this, item] { return backupTurn_ == item; });
    }

private:
    Slot& SlotOf(std::size_t run) { return slots_[run % window_]; }

    // With the lock held: moves the pending records into run's slot, waiting
    // while it is full (the writer empties it when the run's turn comes).
    void HandOver(std::unique_lock<std::mutex>& lock, std::size_t run, Records& pending)
    {
        if (pending.length == 0)
            return;
        Records& records = SlotOf(run).records;
        while (!MakeRoom(&records, pending.length))
            workersWake_.wait(lock);
        memcpy(records.data + records.length, pending.data, pending.length);
        records.length += pending.length;
        pending.length = 0;
        if (run == head_)
            writerWake_.notify_one();
    }

    // With the lock held: whether an earlier run in flight is not yet
    // identified, or holds a file of run's and is not yet done.
    bool AwaitsEarlier(std::size_t run)
    {
        const Slot& slot = SlotOf(run);
        for (std::size_t earlier = head_; earlier < run; ++earlier) {
            const Slot& other = SlotOf(earlier);
            if (!other.identified)
                return true;
            if (!other.done && SharesAFile(slot, other))
                return true;
        }
        return false;
    }

    bool SharesAFile(const Slot& one, const Slot& other) const
    {
        for (std::size_t i = 0; i < runFiles_; ++i) {
            for (std::size_t j = 0; one.known[i] && j < runFiles_; ++j) {
                if (other.known[j] && one.files[i].volume == other.files[j].volume &&
                    one.files[i].index == other.files[j].index)
                    return true;
            }
        }
        return false;
    }

    // With the lock held.
    void PassBackupTurn(std::size_t item)
    {
        SlotOf(item / runFiles_).passed[item % runFiles_] = true;
        while (backupTurn_ < work_.count && backupTurn_ < next_ * runFiles_ &&
               SlotOf(backupTurn_ / runFiles_).passed[backupTurn_ % runFiles_])
            ++backupTurn_;
    }

    const WorkList& work_;
    const std::size_t runFiles_;
    const std::size_t runs_;
    const std::size_t window_;
    void (*const handle_)(const WorkItem&, const Run&);
    Slot* slots_ = nullptr;
    Records spare_{};
    std::mutex mutex_;
    // The writer waits on its own, so that what concerns only the workers
    // does not wake it, and the other way round.
    std::condition_variable writerWake_;
    std::condition_variable workersWake_;
    std::size_t next_ = 0;       // the next run to hand out
    std::size_t head_ = 0;       // the run whose records are written now
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
    relay->board->Put(*relay, record, length);
}

void WaitForBackupTurn(const Run& run)
{
    if (ReportRelay* relay = run.reporter->relay)
        relay->board->WaitBackupTurn(relay->item);
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
    std::size_t runFiles = work.count / (jobs * kRunsPerJob);
    runFiles = runFiles < 1 ? 1 : runFiles > kMaxRunFiles ? kMaxRunFiles : runFiles;
    JobBoard board(work, runFiles, jobs * kRunsAheadPerJob, handle);
    auto* workers = new (std::nothrow) Worker[jobs]();
    if (!workers || !board.Allocate()) {
        delete[] workers;
        return false;
    }
    unsigned started = 0;
    for (unsigned i = 0; i < jobs; ++i) {
        Worker& worker = workers[started];
        worker.relay.board = &board;
        if (!worker.relay.pending.data) {
            worker.relay.pending.data = static_cast<char*>(malloc(kPendingRecordBytes));
            if (!worker.relay.pending.data)
                break;
            worker.relay.pending.capacity = kPendingRecordBytes;
        }
        worker.reporter = *run.reporter;
        worker.reporter.relay = &worker.relay;
        worker.reporter.sizeInName = 0;
        worker.run = Run{run.options, &worker.reporter, &worker.sweep, run.backupLog, run.saveDir};
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
    for (unsigned i = 0; i < jobs; ++i)
        free(workers[i].relay.pending.data);
    delete[] workers;
    return started > 0;
}
