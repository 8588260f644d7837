#include "jobs.h"

#include "report_relay.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

namespace {

// Files are handed out in runs of consecutive ones, so that threads meet
// rarely; a short list is parted finer, so that every thread gets some.
constexpr std::size_t kMaxRunFiles = 128;
constexpr std::size_t kRunsPerJob = 8;
// Runs handed out ahead of the one whose reports are written, per thread:
// enough that a slow file holds up no thread, few enough to bound memory.
constexpr std::size_t kRunsAheadPerJob = 3;
// Report records a run holds before it waits for its turn: an mbox a few
// thousand messages ahead of the one before it.
constexpr std::size_t kMaxHeldRecordBytes = std::size_t{1} << 20;
// Records a worker gathers before it hands them over: the threads meet once
// per run of small files, not once per file.
constexpr std::size_t kPendingRecordBytes = 4 * kMaxRecordBytes;

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
bool Before(const FileIdentity& one, const FileIdentity& other)
{
    return one.volume != other.volume ? one.volume < other.volume : one.index < other.index;
}

struct Slot {
    Records records;
    bool identified; // files and fileCount are set
    // The run's files that could be told apart, in the order of Before, so
    // that two runs are compared in one pass.
    FileIdentity files[kMaxRunFiles];
    std::size_t fileCount;
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

// The runs in flight and their records, while the walk may still be adding
// files to the list. Every wait is for a file earlier in the list (or for the
// walk, which waits for nothing), and the earliest run in flight waits for
// nothing: no deadlock.
class JobBoard : public WorkWatcher {
public:
    // maxRunFiles: at most kMaxRunFiles.
    JobBoard(const WorkList& work, unsigned jobs, std::size_t maxRunFiles, void (*handle)(const WorkItem&, const Run&))
        : work_(work), jobs_(jobs), maxRunFiles_(maxRunFiles), window_(jobs * kRunsAheadPerJob), handle_(handle)
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

    // From the walk: items up to count are listed.
    void Listed(std::size_t count) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listed_ = count;
        DecideRuns();
        workersWake_.notify_all();
    }

    // From the walk, at its end: the list holds count items, all it will.
    void WalkEnded(std::size_t count)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        listed_ = count;
        walkEnded_ = true;
        DecideRuns();
        workersWake_.notify_all();
        writerWake_.notify_one();
    }

    // A worker's life: the next run, until there is none.
    void Work(Worker& worker)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            workersWake_.wait(lock, [this] { return AllHandedOut() || (RunListed(next_) && next_ < head_ + window_); });
            if (AllHandedOut())
                return;
            const std::size_t run = next_++;
            const std::size_t first = run * runFiles_;
            const std::size_t end = first + runFiles_ < listed_ ? first + runFiles_ : listed_;
            Slot& slot = SlotOf(run);
            lock.unlock();
            // One file reached by two paths is handled twice, the second time
            // as the first left it, as with one job.
            slot.fileCount = 0;
            for (std::size_t item = first; item < end; ++item) {
                const WorkItem& file = ItemAt(work_, item);
                FileIdentity& identity = slot.files[slot.fileCount];
                identity = file.listedRegular ? file.listedIdentity : FileIdentity{0, 0};
                if ((file.kind == ItemKind::File || file.kind == ItemKind::MaildirMessage) &&
                    (identity.index != 0 || IdentifyFile(file.path, &identity)))
                    ++slot.fileCount;
            }
            std::sort(slot.files, slot.files + slot.fileCount, Before);
            lock.lock();
            slot.identified = true;
            workersWake_.notify_all();
            workersWake_.wait(lock, [this, run] { return !AwaitsEarlier(run); });
            lock.unlock();
            for (std::size_t item = first; item < end; ++item) {
                worker.relay.item = item;
                handle_(ItemAt(work_, item), worker.run);
                if (!worker.run.options->backupDir && !worker.run.saveDir)
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

    // The calling thread's part: the records of each run in the list's order,
    // and the number of files for the progress bar once the walk has ended.
    void Write(Reporter* reporter)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        bool totalTold = false;
        while (!AllWritten()) {
            Slot& slot = SlotOf(head_);
            writerWake_.wait(lock, [this, &slot, totalTold] {
                return slot.records.length > 0 || slot.done || AllWritten() || (walkEnded_ && !totalTold);
            });
            if (walkEnded_ && !totalTold) {
                totalTold = true;
                const std::size_t count = listed_;
                lock.unlock();
                AddToProgressTotal(reporter, count);
                lock.lock();
                continue;
            }
            if (AllWritten())
                break;
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

    void PassTurnEarly(std::size_t item)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        PassBackupTurn(item);
        workersWake_.notify_all();
    }

private:
    Slot& SlotOf(std::size_t run) { return slots_[run % window_]; }

    // With the lock held. The runs are cut as one list of the final length
    // would have them cut: finer when it is short, so that every thread gets
    // some, of the most files once it is long enough that this cannot change.
    void DecideRuns()
    {
        if (runFiles_ == 0 && walkEnded_) {
            const std::size_t jobs = jobs_ < listed_ ? jobs_ : (listed_ > 0 ? listed_ : 1);
            const std::size_t runFiles = listed_ / (jobs * kRunsPerJob);
            runFiles_ = runFiles < 1 ? 1 : runFiles > maxRunFiles_ ? maxRunFiles_ : runFiles;
        } else if (runFiles_ == 0 && listed_ >= jobs_ * kRunsPerJob * maxRunFiles_) {
            runFiles_ = maxRunFiles_;
        }
        if (walkEnded_)
            runs_ = (listed_ + runFiles_ - 1) / runFiles_;
    }

    // With the lock held: whether run's files are all in the list.
    bool RunListed(std::size_t run) const
    {
        return runFiles_ != 0 && (walkEnded_ ? run < runs_ : (run + 1) * runFiles_ <= listed_);
    }
    bool AllHandedOut() const { return walkEnded_ && next_ >= runs_; }
    bool AllWritten() const { return walkEnded_ && head_ >= runs_; }

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

    static bool SharesAFile(const Slot& one, const Slot& other)
    {
        for (std::size_t i = 0, j = 0; i < one.fileCount && j < other.fileCount;) {
            if (Before(one.files[i], other.files[j]))
                ++i;
            else if (Before(other.files[j], one.files[i]))
                ++j;
            else
                return true;
        }
        return false;
    }

    // With the lock held.
    void PassBackupTurn(std::size_t item)
    {
        SlotOf(item / runFiles_).passed[item % runFiles_] = true;
        while (backupTurn_ < listed_ && backupTurn_ < next_ * runFiles_ &&
               SlotOf(backupTurn_ / runFiles_).passed[backupTurn_ % runFiles_])
            ++backupTurn_;
    }

    const WorkList& work_;
    const std::size_t jobs_;
    const std::size_t maxRunFiles_;
    const std::size_t window_;
    std::size_t listed_ = 0;    // items the walk has listed so far
    bool walkEnded_ = false;
    std::size_t runFiles_ = 0;  // files per run, 0 until decided
    std::size_t runs_ = 0;      // known once the walk has ended
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

void WaitForSavingTurn(const Run& run)
{
    if (ReportRelay* relay = run.reporter->relay)
        relay->board->WaitBackupTurn(relay->item);
}

void PassSavingTurn(const Run& run)
{
    if (ReportRelay* relay = run.reporter->relay)
        relay->board->PassTurnEarly(relay->item);
}

unsigned DefaultJobs()
{
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors > kMaxJobs ? kMaxJobs : processors;
}

namespace {

struct Walk {
    const NameList* targets;
    bool recursive;
    WorkList* work;
    JobBoard* board;
    bool walked;
};

void* WalkerMain(void* argument)
{
    auto* walk = static_cast<Walk*>(argument);
    walk->walked = CollectWork(*walk->targets, walk->recursive, walk->work);
    walk->board->WalkEnded(walk->work->count);
    return nullptr;
}

} // namespace

bool WalkAndHandleInParallel(const NameList& targets, bool recursive, unsigned jobs, const Run& run,
                             void (*handle)(const WorkItem&, const Run&), WorkList* work, bool* walked)
{
    // Files that save (an original, or parts) take turns in the order of the
    // list: a thread then waits for every file before its own, so runs of one
    // file let the threads take turns file by file.
    const bool saving = run.options->backupDir || run.saveDir;
    JobBoard board(*work, jobs, saving ? 1 : kMaxRunFiles, handle);
    auto* workers = new (std::nothrow) Worker[jobs]();
    const bool ready = workers && board.Allocate();
    unsigned started = 0;
    for (unsigned i = 0; ready && i < jobs; ++i) {
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
    Walk walk{&targets, recursive, work, &board, false};
    if (started > 0) {
        // The threads start on the first files while the walk lists the others;
        // without a thread of its own, the walk is done before anything is written.
        work->watcher = &board;
        pthread_t walker;
        const bool walking = pthread_create(&walker, nullptr, WalkerMain, &walk) == 0;
        if (!walking)
            WalkerMain(&walk);
        board.Write(run.reporter);
        if (walking)
            pthread_join(walker, nullptr);
        work->watcher = nullptr;
    } else {
        walk.walked = CollectWork(targets, recursive, work);
    }
    *walked = walk.walked;
    for (unsigned i = 0; i < started; ++i) {
        pthread_join(workers[i].thread, nullptr);
        EndSweep(&workers[i].sweep);
        run.reporter->sizeInName += workers[i].reporter.sizeInName;
    }
    for (unsigned i = 0; workers && i < jobs; ++i)
        free(workers[i].relay.pending.data);
    delete[] workers;
    return started > 0;
}
