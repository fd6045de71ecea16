// The certificate of erasure: the record of the last job, written as a UTF-8
// text file where the user chooses, and only when they ask. Its per-file
// lines are tab-separated (no Windows file name holds a tab), so that it
// opens as a table in a spreadsheet as well as in Notepad.
#include "engine/random_name.h"
#include "os/file_by_handle.h"
#include "os/os_seam.h"
#include "os/verbatim_path.h"
#include "ui/handlers.h"
#include "ui/job_record.h"
#include "ui/job_start.h"
#include "ui/ui_state.h"

#include <cstdio>
#include <string>

namespace {

const wchar_t kFolderKept[] = L"kept: the job did not get to removing folders";

// Returns `utc` as local time with its offset from UTC: "2026-12-08 14:03:27 +01:00".
std::wstring LocalTimeText(const FILETIME& utc)
{
    FILETIME local = {};
    SYSTEMTIME time = {};
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &time);
    const auto ticks = [](const FILETIME& t) { return static_cast<int64_t>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime); };
    const int64_t minutes = (ticks(local) - ticks(utc)) / 600000000;
    const int64_t offset = minutes < 0 ? -minutes : minutes;
    wchar_t text[64];
    swprintf(text, 64, L"%04u-%02u-%02u %02u:%02u:%02u %lc%02lld:%02lld", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond, minutes < 0 ? L'-' : L'+', static_cast<long long>(offset / 60),
             static_cast<long long>(offset % 60));
    return text;
}

// Returns the name of this computer, or of the user, as Windows gives it.
std::wstring ComputerName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &length) ? name : L"(unknown)";
}
std::wstring UserName()
{
    wchar_t name[257] = {};
    DWORD length = 257;
    return GetUserNameW(name, &length) ? name : L"(unknown)";
}

// Appends the tab-separated `fields` to `text` as one line.
void Line(std::wstring& text, std::initializer_list<std::wstring> fields)
{
    for (const std::wstring& field : fields) text += field + L"\t";
    text.back() = L'\r';
    text += L'\n';
}

// Appends one line for each file of an erase, and the totals.
void FileLines(std::wstring& text, const JobRecord& record)
{
    Line(text, {L"Path", L"Size (bytes)", L"Status", L"Passes written", L"Passes read back", L"Note"});
    size_t done = 0, failed = 0, notReached = 0;
    for (const RecordedFile& file : record.files) {
        const size_t semicolon = file.status.find(L';');
        const std::wstring word = file.reached ? file.status.substr(0, semicolon) : L"Not reached";
        const std::wstring note = semicolon == std::wstring::npos ? L"" : file.status.substr(semicolon + 2);
        const bool erased = word == L"Done";
        const std::wstring passes = erased ? std::to_wstring(record.passes) : L"";
        Line(text, {file.path, std::to_wstring(file.size), word, passes, erased && record.readBack ? passes : erased ? L"0" : L"", note});
        ++(erased ? done : file.reached ? failed : notReached);
    }
    Line(text, {L"Files", std::to_wstring(done) + L" done, " + std::to_wstring(failed) + L" not done, " +
                              std::to_wstring(notReached) + L" not reached"});
    Line(text, {L"Bytes overwritten", std::to_wstring(record.facts.bytesOverwritten)});
}

// Appends one line for each dropped folder, with what became of it.
void FolderLines(std::wstring& text, const JobRecord& record)
{
    const bool removed = record.outcome == JobOutcome::Completed;
    const bool someKept = record.outcome == JobOutcome::Incomplete;
    for (const std::wstring& folder : record.folders) {
        Line(text, {L"Folder", folder, removed ? L"removed" : someKept ? L"not all removed: see the outcome" : kFolderKept});
    }
}

// Appends the lines of a wipe: its folder, its volume and what it did.
void WipeLines(std::wstring& text, const JobRecord& record)
{
    wchar_t serial[16];
    swprintf(serial, 16, L"%04X-%04X", HIWORD(record.volume.serial), LOWORD(record.volume.serial));
    Line(text, {L"Folder", record.wipeFolder});
    Line(text, {L"Volume", record.volume.path, L"label " + record.volume.label, record.volume.fileSystem, L"serial " + std::wstring(serial)});
    Line(text, {L"Bytes overwritten", std::to_wstring(record.facts.bytesOverwritten)});
    Line(text, {L"Filler files", std::to_wstring(record.facts.fillerFiles)});
    if (record.facts.earlierFilesRemoved > 0) {
        Line(text, {L"Removed first", std::to_wstring(record.facts.earlierFilesRemoved) + L" files left by an earlier wipe, " +
                                          std::to_wstring(record.facts.earlierBytesRemoved) + L" bytes"});
    }
}

// Returns the report of `record`.
std::wstring ReportText(const JobRecord& record)
{
    std::wstring text;
    Line(text, {L"Certificate of erasure", kMainWindowTitle, L"version " TARNWICK_VERSION});
    Line(text, {L"Computer", ComputerName()});
    Line(text, {L"User", UserName()});
    Line(text, {L"Job", record.wipe ? L"Wipe free space" : L"Erase files"});
    Line(text, {L"Started", LocalTimeText(record.started)});
    Line(text, {L"Ended", LocalTimeText(record.finished)});
    Line(text, {L"Method", record.method});
    Line(text, {L"Passes", std::to_wstring(record.passes)});
    Line(text, {L"Read back", record.readBack ? L"every pass read back from the disk" : L"not read back"});
    Line(text, {L"SSD warning shown", record.ssdWarning ? L"yes" : L"no"});
    if (record.wipe) {
        WipeLines(text, record);
    } else {
        FileLines(text, record);
        FolderLines(text, record);
    }
    Line(text, {L"Outcome", record.outcomeText});
    Line(text, {L"Not reached by any file eraser", L"copies that Windows, backups and the drive itself keep elsewhere; see "
                                                   L"\"What no file eraser can reach\" in the README"});
    return text;
}

// Returns `text` in UTF-8, behind the mark by which Notepad and spreadsheets tell it.
std::string Utf8(const std::wstring& text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes = "\xEF\xBB\xBF" + std::string(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data() + 3, size, nullptr, nullptr);
    return bytes;
}

// Writes `bytes` whole to a new file beside `path`, then puts it in place of
// `path` through its handle, so that no half-written report is ever found
// there; what was written is deleted when anything fails. Returns false,
// with the system's error kept, when the report could not be saved.
bool WriteWhole(const std::wstring& path, const std::string& bytes)
{
    std::wstring name;
    if (!DrawRandomName(name)) return false;
    const std::wstring target = VerbatimPath(path), temporary = target + L"." + name + L".tmp";
    const HANDLE file = os.CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool saved = os.WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                       written == bytes.size() && os.FlushFileBuffers(file) && RenameOpenFile(file, target, true);
    const DWORD error = saved ? ERROR_SUCCESS : GetLastError();
    if (!saved) DeleteOpenFile(file);
    os.CloseHandle(file);
    SetLastError(error == ERROR_SUCCESS && !saved ? ERROR_WRITE_FAULT : error);
    return saved;
}

// Returns the name offered for the report: "Erasure report 2026-12-08 14-03.txt".
std::wstring SuggestedName(const JobRecord& record)
{
    const std::wstring ended = LocalTimeText(record.finished);
    return L"Erasure report " + ended.substr(0, 10) + L" " + ended.substr(11, 2) + L"-" + ended.substr(14, 2) + L".txt";
}

// Tells the user why the report could not be saved, by the system's own
// words for `error`; the record stays, to be saved elsewhere.
void ShowNotSaved(const std::wstring& path, DWORD error)
{
    wchar_t* reason = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   error, 0, reinterpret_cast<wchar_t*>(&reason), 0, nullptr);
    const std::wstring text = L"The report could not be saved as " + path + L".\n\n" + (reason ? reason : L"") +
                              L"\nNothing of the job's record is lost: choose another place to save it.";
    LocalFree(reason);
    os.MessageBoxW(mainWindow, text.c_str(), L"Save Report", MB_OK | MB_ICONERROR);
}

}  // namespace

void OnSaveReport()
{
    std::wstring path;
    // The dialog runs its own message loop, in which a job may have started.
    if (!lastJob.ended || JobIsRunning() || !os.ChooseSavePath(mainWindow, SuggestedName(lastJob).c_str(), &path) ||
        !lastJob.ended)
        return;
    if (!WriteWhole(path, Utf8(ReportText(lastJob)))) ShowNotSaved(path, GetLastError());
}
