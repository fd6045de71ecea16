// What the window keeps of the last job, so that the user can save a report
// of it: taken when the job starts and ends, from what the window showed and
// what the job reported. It lives in memory only, until the next job starts;
// nothing is asked of the file system once the job has ended.
#pragma once

#include "jobs/job_report.h"
#include "jobs/jobs.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// One file of an erase: its list row, path and size as listed, and the last
// text its row showed; `reached` once the job reported anything for it.
struct RecordedFile {
    int32_t row;
    std::wstring path;
    uint64_t size;
    std::wstring status;
    bool reached = false;
};

// The volume a wipe ran on.
struct RecordedVolume {
    std::wstring path;          // its mount point, such as C:\ .
    std::wstring label;
    std::wstring fileSystem;
    DWORD serial = 0;
};

struct JobRecord {
    bool ended = false;         // a report can be saved
    bool wipe = false;
    std::wstring method;        // as the combo box names it
    int32_t passes = 0;
    bool readBack = false;
    bool ssdWarning = false;    // the question before the job was the SSD warning
    FILETIME started = {};      // UTC
    FILETIME finished = {};
    std::vector<RecordedFile> files;        // an erase's items, in list order
    std::vector<std::wstring> folders;      // the dropped folders and their subfolders
    std::wstring wipeFolder;
    RecordedVolume volume;
    JobFacts facts;
    JobOutcome outcome = JobOutcome::Completed;
    std::wstring outcomeText;   // the status line's last text
};

extern JobRecord lastJob;

// Starts the record of an erase of `items`, with `folders`, by `method`.
// Returns nothing.
void BeginEraseRecord(const std::vector<EraseItem>& items, const std::vector<std::wstring>& folders,
                      const EraseMethod& method, bool ssdWarning);

// Starts the record of a wipe of the free space under `folder`, on `volume`,
// by `method`. Returns nothing.
void BeginWipeRecord(const std::wstring& folder, const std::wstring& volume, const EraseMethod& method,
                     bool ssdWarning);

// Notes that the job reported something for list row `row`. Returns nothing.
void NoteRowReported(int row);

// Ends the record with the job's outcome, taking each file's last text from
// its row and the outcome's text from the status line. Returns nothing.
void EndJobRecord(JobOutcome outcome);
