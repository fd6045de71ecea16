// One run of each real dialog the window opens: a message box and the folder
// browser, answered the way a user would, from a timer of this thread.
#include "tests/ui/window_test.h"

#include "app/ui_state.h"
#include "ui/control_ids.h"

#include <commctrl.h>
#include <shlobj.h>

namespace {

// What the answering timer does with a dialog of this thread; returns true
// once it has answered, or false to be called again on the next tick.
std::function<bool(HWND)> answerDialog;
bool dialogAnswered = false;

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    if (wcscmp(className, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

void CALLBACK AnswerDialog(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog && !dialogAnswered)
        dialogAnswered = answerDialog(dialog);
}

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

// Returns the text of the selected item of the dialog's tree view, or "".
std::wstring SelectedTreeText(HWND dialog)
{
    HWND tree = FindWindowExW(dialog, nullptr, WC_TREEVIEWW, nullptr);
    auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    wchar_t text[MAX_PATH] = {};
    TVITEMW item = {};
    item.mask = TVIF_TEXT;
    item.hItem = selected;
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (!tree || !selected || !SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
        return L"";
    return text;
}

}  // namespace

class DialogSmokeTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        dialogAnswered = false;
        timer = SetTimer(nullptr, 0, 50, AnswerDialog);
    }
    void TearDown() override
    {
        KillTimer(nullptr, timer);
        WindowTest::TearDown();
    }

    UINT_PTR timer = 0;
};

TEST_F(DialogSmokeTest, TheRealNoItemsBoxShowsItsTextAndCaption)
{
    std::wstring caption, text;
    answerDialog = [&](HWND dialog) {
        caption = TextOf(dialog);
        text = TextOf(GetDlgItem(dialog, 0xFFFF));
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        return true;
    };
    fake.hooks.MessageBoxW = nullptr;
    Click(ui.startButton);
    EXPECT_TRUE(dialogAnswered);
    EXPECT_EQ(L"No Items", caption);
    EXPECT_EQ(L"Drag and drop the files you want to delete.", text);
}

TEST_F(DialogSmokeTest, TheRealFolderBrowserHandsItsChoiceToTheQuestion)
{
    std::wstring chosen = temp.Folder(L"Chosen");
    answerDialog = [&](HWND dialog) {
        // The browser may still be filling its tree; press OK only once the
        // selection has really moved to the folder.
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(chosen.c_str()));
        if (SelectedTreeText(dialog) != L"Chosen")
            return false;
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        return true;
    };
    fake.hooks.SHBrowseForFolderW = nullptr;
    MenuCommand(IDM_WIPE_FREE_SPACE);  // the question that follows is declined through the seam
    EXPECT_TRUE(dialogAnswered);

    auto paths = fake.CallsOf(OsFn::SHGetPathFromIDListW);
    ASSERT_EQ(1u, paths.size());
    EXPECT_EQ(0, _wcsicmp(chosen.c_str(), paths[0].path.c_str())) << Narrow(paths[0].path);
    wchar_t volume[MAX_PATH];
    ASSERT_TRUE(GetVolumePathNameW(chosen.c_str(), volume, MAX_PATH));
    ASSERT_EQ(1u, Boxes().size());
    EXPECT_EQ(0u, Boxes()[0].path.find(std::wstring(L"Wipe free space on drive ") + volume + L"?"));
    EXPECT_EQ(1, fake.Calls(OsFn::CoTaskMemFree));
    EXPECT_LEDGER_BALANCED(fake);
    EXPECT_FALSE(workerThread.joinable());
}
