#include "tests/jobs/scripted_method.h"

#include "jobs/job_report.h"

MethodScript methodScript;

EraseResult ScriptedMethod(const wchar_t* path, ProgressFn progress, LogFn log, void* context, const StopFlag* stop,
                           bool keepName)
{
    MethodCall call;
    call.path = path;
    call.progress = progress;
    call.log = log;
    call.context = context;
    call.stop = stop;
    call.keepName = keepName;
    const auto* report = static_cast<const ReportContext*>(context);
    call.contextWindow = report->window;
    call.contextRow = report->row;
    call.attributes = GetFileAttributesW(path);
    const size_t index = methodScript.calls.size();
    methodScript.calls.push_back(call);

    log(kScriptedMethodText, context);
    progress(50, context);
    progress(100, context);
    if (methodScript.cancelWhenStopped && stop->load()) {
        return EraseResult::Canceled;
    }
    const auto result = static_cast<EraseResult>(
        index < methodScript.results.size() ? methodScript.results[index] : 0);
    if (result == EraseResult::Success && methodScript.deleteOnSuccess) {
        DeleteFileW(path);
    }
    return result;
}
