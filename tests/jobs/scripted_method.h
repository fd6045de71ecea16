// A plain EraseMethodFn for the job tests: it records how the job called it,
// reports one text and two percentages through the callbacks it was given,
// and returns the result the test scripted for that call.
#pragma once

#include "methods/erase_methods.h"

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

// The text the scripted method reports before it returns.
constexpr wchar_t kScriptedMethodText[] = L"Scripted method at work.";

struct MethodCall {
    std::wstring path;
    ProgressFn progress = nullptr;
    LogFn log = nullptr;
    void* context = nullptr;
    const StopFlag* stop = nullptr;
    bool keepName = false;
    HWND contextWindow = nullptr;  // the ReportContext as it was during the call
    int32_t contextRow = 0;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;  // of `path` when the call began
};

struct MethodScript {
    std::vector<int32_t> results;   // result of each call in turn; Success past the end
    bool cancelWhenStopped = true;  // return Canceled when the stop flag is set after reporting
    bool deleteOnSuccess = false;   // delete the file on Success, as the engine does
    std::vector<MethodCall> calls;  // written on the worker; read after the job ended
};

// The script of the current test; reset it in each test's set-up.
extern MethodScript methodScript;

// Returns the scripted result for this call (see MethodScript).
EraseResult ScriptedMethod(const wchar_t* path, ProgressFn progress, LogFn log, void* context, const StopFlag* stop,
                           bool keepName);
