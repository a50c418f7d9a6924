#include "UServiceSelfCheck.h"

#include "Exceptions.h"
#include "NTTools.h"
#include "Strings.h"
#include "UServerStatus.h"
#include "Unique.h"

#include <objbase.h>

#include <algorithm>
#include <thread>

namespace {

constexpr DWORD kPollMs = 250;
constexpr DWORD kRetryMs = 500;
// One request never takes the whole bound, so that a service that begins to listen late is asked again.
constexpr DWORD kRequestMs = 5000;
constexpr DWORD kServiceManagerConnect = 0x0001;

class TComApartment {
public:
    TComApartment() : result_(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
    // S_FALSE (already initialised) still needs its CoUninitialize.
    ~TComApartment()
    {
        if (SUCCEEDED(result_))
            ::CoUninitialize();
    }
    TComApartment(const TComApartment&) = delete;
    TComApartment& operator=(const TComApartment&) = delete;

private:
    HRESULT result_;
};

bool IsRelativePath(const std::wstring& path)
{
    return !(path.size() >= 2 && (path[1] == L':' || (path[0] == L'\\' && path[1] == L'\\'))) &&
           !(!path.empty() && (path[0] == L'\\' || path[0] == L'/'));
}

bool FileExistsAt(const std::wstring& path)
{
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

TSelfCheckTarget SelfCheckTargetFrom(const TSettingsImage& image)
{
    TSelfCheckTarget target;
    target.RemoteEnabled = ReadSettingFlag(image, SettingKeys::RemoteEnabled);
    target.Port = ReadSettingNumber(image, SettingKeys::Port);
    target.UseSSL = ReadSettingFlag(image, SettingKeys::UseSSL);
    // The service reads its account as it stands in the file; an absent key is an empty one to it.
    target.Login = ReadSettingText(image, SettingKeys::Login, L"");
    target.Password = ReadSettingText(image, SettingKeys::Password, L"");
    return target;
}

std::wstring SelfCheckBaseURL(const TSelfCheckTarget& target)
{
    return (target.UseSSL ? L"https://localhost:" : L"http://localhost:") + std::to_wstring(target.Port);
}

// The remote client's own status object makes the request and judges the body, so that the check sees the
// service exactly as the remote client does. It keeps the document of a body it received: none means that
// nothing answered.
TReportAnswer AskServiceReport(const TSelfCheckTarget& target, DWORD timeoutMs)
{
    auto settings = std::make_shared<TCheckServerSettings>(nullptr, std::string());
    settings->Active = true;
    settings->URL = SelfCheckBaseURL(target);
    settings->Username = target.Login;
    settings->Password = target.Password;
    auto status = std::make_unique<TCheckServerStatus>(settings);
    status->Retrieval.DeadlineMs = std::max<DWORD>(timeoutMs, 1);
    status->RunCheck();
    TReportAnswer answer;
    answer.Answered = status->ReportDocument != nullptr;
    answer.IsReport = status->StatusOk;
    answer.StatusText = status->StatusText;
    return answer;
}

// The worker has its own connection to the service control manager, for queries only: the process-wide
// instance belongs to the window's thread.
TSelfCheckProbes SystemSelfCheckProbes()
{
    TSelfCheckProbes probes;
    probes.ServiceState = []() -> DWORD {
        try {
            TNTServiceControlManager manager(L"", L"", kServiceManagerConnect);
            return manager.GetServiceState(kServiceName);
        } catch (const std::exception&) {
            return 0;
        }
    };
    probes.AskReport = [](const TSelfCheckTarget& target, DWORD timeoutMs) {
        TComApartment com;
        return AskServiceReport(target, timeoutMs);
    };
    probes.Sleep = [](DWORD ms) { ::Sleep(ms); };
    probes.Ticks = [] { return ::GetTickCount64(); };
    return probes;
}

TSelfCheckResult RunServiceSelfCheck(const TSelfCheckTarget& target, const TSelfCheckProbes& probes,
                                     const std::atomic<bool>& cancel, DWORD boundMs)
{
    TSelfCheckResult result;
    result.Port = target.Port;
    const ULONGLONG deadline = probes.Ticks() + boundMs;
    auto remaining = [&]() -> DWORD {
        ULONGLONG now = probes.Ticks();
        return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
    };
    auto pause = [&](DWORD ms) { probes.Sleep(std::min(ms, remaining())); };

    for (;;) {
        if (cancel)
            return result;
        DWORD state = probes.ServiceState();
        if (state == kServiceRunning)
            break;
        // A stopped service does not come up by itself.
        if (state == kServiceStopped || remaining() == 0) {
            result.Outcome = TSelfCheckOutcome::NotStarted;
            return result;
        }
        pause(kPollMs);
    }
    if (!target.RemoteEnabled) {
        result.Outcome = TSelfCheckOutcome::Runs;
        return result;
    }
    // A service may open its port a moment after it reports running, so silence is asked again until the end.
    for (;;) {
        if (cancel)
            return result;
        TReportAnswer answer = probes.AskReport(target, std::min(kRequestMs, std::max<DWORD>(remaining(), 1)));
        if (cancel)
            return result;
        if (answer.Answered) {
            result.Outcome = answer.IsReport ? TSelfCheckOutcome::Answers : TSelfCheckOutcome::NotReport;
            result.StatusText = answer.StatusText;
            return result;
        }
        pause(kRetryMs);
        if (remaining() == 0) {
            result.Outcome = TSelfCheckOutcome::NoAnswer;
            return result;
        }
    }
}

std::wstring SelfCheckLine(const TSelfCheckResult& result)
{
    const std::wstring port = std::to_wstring(result.Port);
    switch (result.Outcome) {
    case TSelfCheckOutcome::Answers: return L"The service runs and answers on port " + port + L": " + result.StatusText;
    case TSelfCheckOutcome::Runs: return L"The service runs";
    case TSelfCheckOutcome::NotStarted: return L"The service did not start";
    case TSelfCheckOutcome::NoAnswer: return L"The service runs but does not answer on port " + port;
    case TSelfCheckOutcome::NotReport: return L"The service answers on port " + port + L" but not with its report";
    default: return {};
    }
}

bool SelfCheckFailed(const TSelfCheckResult& result)
{
    return result.Outcome == TSelfCheckOutcome::NotStarted || result.Outcome == TSelfCheckOutcome::NoAnswer ||
           result.Outcome == TSelfCheckOutcome::NotReport;
}

// ---------------------------------------------------------------------------------------------------------

// Shared by the window's runner and the worker: whichever lets go last frees it. The worker never waits for the
// window; a posted result that finds its run superseded or cancelled is dropped.
struct TSelfCheckRunner::TRun {
    std::atomic<bool> Cancel{false};
    TSelfCheckResult Result;
};

void TSelfCheckRunner::Start(HWND window, const TSelfCheckTarget& target, TDone done, DWORD boundMs)
{
    Cancel();
    auto run = std::make_shared<TRun>();
    run_ = run;
    done_ = std::move(done);
    TSelfCheckProbes probes = probes_;
    std::thread([run, probes = std::move(probes), target, window, boundMs] {
        run->Result = RunServiceSelfCheck(target, probes, run->Cancel, boundMs);
        if (run->Cancel)
            return;
        // The message carries a reference of its own, which Deliver takes back.
        auto* carried = new std::shared_ptr<TRun>(run);
        if (!::PostMessageW(window, kMessage, 0, reinterpret_cast<LPARAM>(carried)))
            delete carried;
    }).detach();
}

void TSelfCheckRunner::Cancel()
{
    if (run_)
        run_->Cancel = true;
    run_.reset();
}

void TSelfCheckRunner::Deliver(LPARAM lParam)
{
    std::unique_ptr<std::shared_ptr<TRun>> carried(reinterpret_cast<std::shared_ptr<TRun>*>(lParam));
    if (!carried || *carried != run_ || (*carried)->Cancel)
        return;
    run_.reset();
    TDone done = done_;
    if (done)
        done((*carried)->Result);
}

// ---------------------------------------------------------------------------------------------------------

TKeptSettings KeepSettingsFile(const std::wstring& path)
{
    UniqueHandle file(NullIfInvalid(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    if (!file) {
        DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return std::nullopt;
        RaiseOpenError(path, code);
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr))
            RaiseOpenError(path, ::GetLastError());
        if (read == 0)
            return bytes;
        bytes.append(buffer, read);
    }
}

void RestoreSettingsFile(const std::wstring& path, const TKeptSettings& kept)
{
    if (!kept) {
        if (!::DeleteFileW(path.c_str())) {
            DWORD code = ::GetLastError();
            if (code != ERROR_FILE_NOT_FOUND)
                RaiseCreateError(path, code);
        }
        return;
    }
    ReplaceFileBytes(path, *kept);
}

TSettingsProblems FindSettingsProblems(const TSettingsImage& image, const std::wstring& serviceFolder)
{
    TSettingsProblems problems;
    if (!ReadSettingFlag(image, SettingKeys::RemoteEnabled))
        return problems;
    int port = ReadSettingNumber(image, SettingKeys::Port);
    if (port < 1 || port > 65535) {
        problems.Refusal = FormatW(L"\"Port to listen to\" must be a number from 1 to 65535, not %d.", port);
        return problems;
    }
    if (!ReadSettingFlag(image, SettingKeys::UseSSL))
        return problems;
    struct TFileSetting {
        const TSettingKey& Key;
        const wchar_t* Field;
    };
    const TFileSetting files[] = {{SettingKeys::CertFile, L"Server certificate file"},
                                  {SettingKeys::KeyFile, L"Server key file"}};
    std::wstring missing;
    for (const TFileSetting& file : files) {
        std::wstring name = ReadSettingText(image, file.Key);
        std::wstring path = IsRelativePath(name) ? serviceFolder + name : name;
        if (name.empty() || !FileExistsAt(path))
            missing += FormatW(L"%ls: \"%ls\" does not exist.\r\n", file.Field, path.c_str());
    }
    if (!missing.empty())
        problems.Question = missing + L"\r\nThe service cannot serve HTTPS without them. Save anyway?";
    return problems;
}
