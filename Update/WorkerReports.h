// What the worker reports to its run: copies, never pointers into the
// worker, since a report may be read after the worker moved on. The worker
// reports from its own thread; the run reads on the thread that shows it.
#pragma once

#include "UpdateMessages.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct WorkerReport {
    UINT message = 0; // WM_VERSION_STATUS, WM_FILE_STATUS, WM_DOWNLOAD_PROGRESS, or WM_COMMAND IDOK once installed
    int code = 0;     // the message's status code (expected size for progress)
    LPARAM value = 0; // the count, the bytes so far
    std::wstring text; // the file's name (or full path) a file status is about
};

class IWorkerReports {
public:
    // On the worker's thread.
    virtual void Report(WorkerReport report) = 0;

protected:
    ~IWorkerReports() = default;
};

// Reports waiting for the receiving thread. Progress is coalesced: only the
// latest position matters, and a fast transfer must not flood the queue.
class CReportQueue : public IWorkerReports {
public:
    // wake runs on the reporting thread when the queue stops being empty;
    // the receiver then takes everything waiting.
    explicit CReportQueue(std::function<void()> wake) : m_wake(std::move(wake)) {}

    void Report(WorkerReport report) override
    {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            wake = m_waiting.empty();
            if (!wake && report.message == WM_DOWNLOAD_PROGRESS && m_waiting.back().message == WM_DOWNLOAD_PROGRESS)
                m_waiting.back() = std::move(report);
            else
                m_waiting.push_back(std::move(report));
        }
        if (wake && m_wake)
            m_wake();
    }
    std::vector<WorkerReport> Take()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        std::vector<WorkerReport> taken;
        taken.swap(m_waiting);
        return taken;
    }

private:
    std::mutex m_lock;
    std::vector<WorkerReport> m_waiting;
    std::function<void()> m_wake;
};
