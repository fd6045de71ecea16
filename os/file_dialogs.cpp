#include "os/file_dialogs.h"

#include <shobjidl.h>
#include <utility>

namespace {

// Holds one COM interface and releases it on every way out.
template <typename Interface>
struct ComHeld {
    Interface* p = nullptr;
    ComHeld() = default;
    ~ComHeld()
    {
        if (p)
            p->Release();
    }
    ComHeld(const ComHeld&) = delete;
    ComHeld& operator=(const ComHeld&) = delete;
    Interface* operator->() const { return p; }
};

// Creates the dialog of class `Dialog` into `dialog` with `extra` added to
// its usual options. Returns false when either step fails.
template <typename Dialog, typename Interface>
bool CreateDialogWith(ComHeld<Interface>& dialog, FILEOPENDIALOGOPTIONS extra)
{
    FILEOPENDIALOGOPTIONS options = 0;
    return SUCCEEDED(CoCreateInstance(__uuidof(Dialog), nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog.p))) &&
           SUCCEEDED(dialog->GetOptions(&options)) && SUCCEEDED(dialog->SetOptions(options | extra));
}

// Returns true with the file-system path of `item` in `path`; false when it
// has none (a library, a phone's folder).
bool FileSystemPath(IShellItem* item, std::wstring* path)
{
    wchar_t* name = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)))
        return false;
    *path = name;
    CoTaskMemFree(name);
    return true;
}

}  // namespace

// A chosen shortcut or link comes back as itself, not as its target: the
// list refuses it as it refuses a dropped one, and never follows it.
bool ChooseOpenPathsReal(HWND owner, bool folders, std::vector<std::wstring>* paths)
{
    paths->clear();
    ComHeld<IFileOpenDialog> dialog;
    ComHeld<IShellItemArray> chosen;
    FILEOPENDIALOGOPTIONS options = FOS_ALLOWMULTISELECT | FOS_FORCEFILESYSTEM | FOS_NODEREFERENCELINKS;
    if (!CreateDialogWith<FileOpenDialog>(dialog, folders ? options | FOS_PICKFOLDERS : options))
        return false;
    dialog->SetTitle(folders ? L"Add Folder" : L"Add Files");
    DWORD count = 0;
    if (FAILED(dialog->Show(owner)) || FAILED(dialog->GetResults(&chosen.p)) || FAILED(chosen->GetCount(&count)))
        return false;
    for (DWORD index = 0; index < count; ++index) {
        ComHeld<IShellItem> item;
        std::wstring path;
        if (SUCCEEDED(chosen->GetItemAt(index, &item.p)) && FileSystemPath(item.p, &path))
            paths->push_back(std::move(path));
    }
    return !paths->empty();
}

bool ChooseSavePathReal(HWND owner, const wchar_t* suggestedName, std::wstring* path)
{
    const COMDLG_FILTERSPEC textFiles = {L"Text files (*.txt)", L"*.txt"};
    ComHeld<IFileSaveDialog> dialog;
    ComHeld<IShellItem> chosen;
    return CreateDialogWith<FileSaveDialog>(dialog, FOS_OVERWRITEPROMPT | FOS_FORCEFILESYSTEM) &&
           SUCCEEDED(dialog->SetFileTypes(1, &textFiles)) && SUCCEEDED(dialog->SetDefaultExtension(L"txt")) &&
           SUCCEEDED(dialog->SetFileName(suggestedName)) && SUCCEEDED(dialog->Show(owner)) &&
           SUCCEEDED(dialog->GetResult(&chosen.p)) && FileSystemPath(chosen.p, path);
}
