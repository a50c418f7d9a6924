// The check after "Save and restart service": whether the service came back, and, with the remote control on,
// whether it answers for its report on the saved port; the settings file's previous bytes, kept to put back;
// and the saved settings that cannot work.
#pragma once

#include "USettingsFrame.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the check looks for, read from the saved settings.
struct TSelfCheckTarget {
    bool RemoteEnabled = false;
    int Port = 0;
    bool UseSSL = false;
    std::wstring Login;
    std::wstring Password;
};
TSelfCheckTarget SelfCheckTargetFrom(const TSettingsImage& image);
// "http://localhost:" or "https://localhost:" and the port.
std::wstring SelfCheckBaseURL(const TSelfCheckTarget& target);

// One request for the report, as the remote client makes and judges it.
struct TReportAnswer {
    bool Answered = false; // a body came back
    bool IsReport = false; // and it holds a report
    std::wstring StatusText;
};

// How the check looks at the service; tests put their own in.
struct TSelfCheckProbes {
    // The service's state code, or 0 when it cannot be read.
    std::function<DWORD()> ServiceState;
    // The report request, taking at most timeoutMs.
    std::function<TReportAnswer(const TSelfCheckTarget& target, DWORD timeoutMs)> AskReport;
    // Waits between polls.
    std::function<void(DWORD milliseconds)> Sleep;
    // Milliseconds on a steady clock.
    std::function<ULONGLONG()> Ticks;
};
// The service control manager of this computer, the remote client's report retrieval, Sleep and the tick count.
TSelfCheckProbes SystemSelfCheckProbes();
// The remote client's retrieval and judgement of a report (COM must be initialised on the calling thread).
TReportAnswer AskServiceReport(const TSelfCheckTarget& target, DWORD timeoutMs);

enum class TSelfCheckOutcome {
    Answers,    // running, and the report came back
    Runs,       // running, with the remote control off
    NotStarted, // not running at the end
    NoAnswer,   // running, but nothing answers on the port
    NotReport,  // running, something answers, but not with a report
    Cancelled,
};
struct TSelfCheckResult {
    TSelfCheckOutcome Outcome = TSelfCheckOutcome::Cancelled;
    int Port = 0;
    std::wstring StatusText; // the report's status text when it answered
};
constexpr DWORD kSelfCheckBoundMs = 20000;

// Waits for the service to run, then asks it for its report until it answers with one, within boundMs in all.
// A stopped service is not waited for; the cancel flag ends the check between two polls.
TSelfCheckResult RunServiceSelfCheck(const TSelfCheckTarget& target, const TSelfCheckProbes& probes,
                                     const std::atomic<bool>& cancel, DWORD boundMs = kSelfCheckBoundMs);
// The line the window shows.
std::wstring SelfCheckLine(const TSelfCheckResult& result);
bool SelfCheckFailed(const TSelfCheckResult& result);

// Runs the check on a thread of its own and hands the result to a function on the window's thread, through a
// posted message; a run that is cancelled, or whose window is gone, hands nothing over.
class TSelfCheckRunner {
public:
    using TDone = std::function<void(const TSelfCheckResult& result)>;
    // The message the runner posts to its window; the window passes it to Deliver.
    static constexpr UINT kMessage = WM_APP + 0x51;

    explicit TSelfCheckRunner(TSelfCheckProbes probes = SystemSelfCheckProbes()) : probes_(std::move(probes)) {}
    ~TSelfCheckRunner() { Cancel(); }
    TSelfCheckRunner(const TSelfCheckRunner&) = delete;
    TSelfCheckRunner& operator=(const TSelfCheckRunner&) = delete;

    // Cancels any run in progress and starts a new one, whose result goes to done.
    void Start(HWND window, const TSelfCheckTarget& target, TDone done, DWORD boundMs = kSelfCheckBoundMs);
    void Cancel();
    bool Running() const { return run_ != nullptr; }
    // Called with the posted message's lParam; runs done when the run is still the current one.
    void Deliver(LPARAM lParam);

private:
    struct TRun;
    TSelfCheckProbes probes_;
    std::shared_ptr<TRun> run_;
    TDone done_;
};

// The kept bytes of the settings file: absent when there was no file.
using TKeptSettings = std::optional<std::string>;
// The file's bytes now, to be put back later; an unreadable file raises EFOpenError.
TKeptSettings KeepSettingsFile(const std::wstring& path);
// Puts kept bytes back through a file beside it that then replaces it; a file that was absent is deleted.
// A failure raises EFCreateError.
void RestoreSettingsFile(const std::wstring& path, const TKeptSettings& kept);

// Saved settings that cannot work, while the remote control is enabled.
struct TSettingsProblems {
    // A refusal naming the field, or empty.
    std::wstring Refusal;
    // Files named by the SSL settings that do not exist, as a question whether to save anyway, or empty.
    std::wstring Question;
};
// Relative file names are taken from serviceFolder (with its trailing delimiter).
TSettingsProblems FindSettingsProblems(const TSettingsImage& image, const std::wstring& serviceFolder);
