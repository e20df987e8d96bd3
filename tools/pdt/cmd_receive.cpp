// pdt receive: downloads one table from a terminal on a serial device, with
// the driver's own exchange (TScaner), and prints or saves the records.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "atomic_file.h"
#include "console.h"
#include "exchange_monitor.h"
#include "exit_codes.h"
#include "interrupt_watch.h"
#include "progress_view.h"
#include "receive_options.h"
#include "record_format.h"
#include "serial/serial_errors.h"
#include "serial/tscaner.h"
#include "serial_ports.h"
#include "transcript.h"

namespace pdt::cli {
namespace {

using Clock = std::chrono::steady_clock;

// How often the main thread looks at the exchange when nothing is reported:
// the bar's redraw and the end of an exchange that stops without a byte
// (a wrong answer) are noticed within this time.
constexpr auto kTick = std::chrono::milliseconds(50);

class MonitorSink : public ProgressSink {
  public:
    explicit MonitorSink(ExchangeMonitor& monitor) : monitor_(monitor) {}
    void ProgressLine(uint32_t, std::string_view label, std::string_view payload) override {
        monitor_.AddProgress(label, payload);
    }

  private:
    ExchangeMonitor& monitor_;
};

enum class Ending { kComplete, kTimedOut, kWrongAnswer, kDeviceLost, kInterrupted };

struct Outcome {
    Ending ending = Ending::kComplete;
    std::string detail;
};

std::string SerialMessage(const ESerialIO& error, const std::string& device) {
    std::string message = error.what();
    // With a device path the port number only names the port; show the path.
    std::string com = "COM" + std::to_string(error.Port());
    if (!device.empty()) {
        if (auto at = message.find(com); at != std::string::npos)
            message.replace(at, com.size(), device);
    }
    if (!error.SystemReason().empty()) message += ": " + error.SystemReason();
    return message;
}

std::string LineSummary(const DriverSettings& s) {
    static const char parity[] = "NOEMS";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d %d%c%d, table %d, fields %d/%d", s.iBaud, s.iDataBit,
                  parity[s.iParity], s.iStopBit, s.c_FormNum, s.c_CodeFldNum, s.c_CountFldNum);
    return buffer;
}

// USB-serial adapters hold received bytes for their latency timer; asking
// for low latency makes each frame's ACK go out at once.
void AskForLowLatency(const std::string& device, Transcript* transcript) {
    std::error_code ec;
    std::string real = std::filesystem::canonical(device, ec).filename().string();
    if (ec || real.rfind("ttyUSB", 0) != 0) return;
    std::string reason;
    bool done = RequestLowLatency(device, reason);
    if (transcript) {
        transcript->Note(done ? "low-latency mode on" : "low-latency mode refused: " + reason);
    }
}

// Hands the progress lines reported so far to the view and the tally.
void ShowProgress(ExchangeMonitor& monitor, ProgressView& view, DownloadProgress& progress) {
    for (const auto& [label, payload] : monitor.TakeProgress()) {
        view.Line(label, payload);
        progress.Take(label, payload, Clock::now());
    }
}

// Runs the exchange until it completes, fails or is interrupted.
Outcome RunExchange(TScaner& scaner, ExchangeMonitor& monitor, ProgressView& view,
                    DownloadProgress& progress, const DriverSettings& settings) {
    const auto timeout = std::chrono::seconds(settings.c_TimeOut);
    monitor.ResetActivity();
    scaner.StartExchange();
    for (;;) {
        monitor.Wait(kTick);
        ShowProgress(monitor, view, progress);
        view.Tick();
        if (monitor.Interrupted()) return {Ending::kInterrupted, {}};
        if (scaner.State() == ProtocolMachine::kDone) return {Ending::kComplete, {}};
        if (scaner.DeviceLost()) return {Ending::kDeviceLost, scaner.DeviceLostReason()};
        if (scaner.State() == ProtocolMachine::kStopped) return {Ending::kWrongAnswer, {}};
        if (settings.c_TimeOut > 0 && Clock::now() - monitor.LastActivity() >= timeout) {
            return {Ending::kTimedOut, {}};
        }
    }
}

std::string Shortfall(size_t received, const DownloadProgress& progress) {
    std::string text = "received " + std::to_string(received);
    if (progress.announced) text += " of " + std::to_string(*progress.announced);
    return text + " records";
}

std::string EndingName(Ending ending) {
    switch (ending) {
        case Ending::kComplete:
            return "complete";
        case Ending::kTimedOut:
            return "timed out";
        case Ending::kWrongAnswer:
            return "wrong answer";
        case Ending::kDeviceLost:
            return "device lost";
        case Ending::kInterrupted:
            return "interrupted";
    }
    return {};
}

std::string EndingMessage(const Outcome& outcome, const DriverSettings& settings) {
    switch (outcome.ending) {
        case Ending::kTimedOut:
            return "the terminal stayed silent for " + std::to_string(settings.c_TimeOut) +
                   " s (--timeout)";
        case Ending::kWrongAnswer:
            return "the terminal answered out of turn and the exchange ended (is the terminal "
                   "in its transfer mode, are speed and parity right?)";
        case Ending::kDeviceLost:
            return "the device went away" + (outcome.detail.empty() ? "" : ": " + outcome.detail);
        case Ending::kInterrupted:
            return "interrupted";
        case Ending::kComplete:
            break;
    }
    return {};
}

// Prints or saves the records; false when the output could not be written.
bool WriteRecords(const std::vector<TRecord>& records, const ReceiveOptions& options,
                  OutputFormat format) {
    std::string text = FormatRecords(records, format);
    if (options.outputFile) {
        try {
            WriteFileAtomically(*options.outputFile, text);
        } catch (const FileWriteError& error) {
            std::fprintf(stderr, "pdt receive: %s\n", error.what());
            return false;
        }
        return true;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
        std::fprintf(stderr, "pdt receive: cannot write the records to standard output\n");
        return false;
    }
    return true;
}

int Receive(const ReceiveOptions& options) {
    PrepareConsole();
    DriverSettings settings = options.settings;
    if (!options.device.empty() && (settings.iComNum & 0xFFFF) == 0) settings.iComNum = 1;
    const OutputFormat format = ChooseFormat(options, IsTerminal(Stream::kStdout));

    std::unique_ptr<Transcript> transcript;
    if (options.transcriptFile) {
        try {
            transcript = std::make_unique<Transcript>(
                *options.transcriptFile,
                "pdt receive " + options.device + " " + LineSummary(settings));
        } catch (const std::runtime_error& error) {
            std::fprintf(stderr, "pdt receive: %s\n", error.what());
            return kExitUsage;
        }
    }
    ExchangeMonitor monitor(transcript.get());
    // Before any thread starts, so that only the watch ever takes Ctrl-C.
    InterruptWatch interrupts([&monitor] { monitor.Interrupt(); });
    auto view =
        MakeProgressView(options.progress, stderr, IsTerminal(Stream::kStderr), TerminalColumns());
    if (!options.device.empty()) AskForLowLatency(options.device, transcript.get());

    MonitorSink sink(monitor);
    TResultList results;
    DownloadProgress progress;  // for the closing message, fed the same lines
    Outcome outcome;
    try {
        serial::LineFactory line = options.device.empty()
                                       ? serial::SystemLineFactory()
                                       : serial::DeviceLineFactory(options.device);
        TScaner scaner(settings, results, sink, ObserveLine(line, monitor));
        outcome = RunExchange(scaner, monitor, *view, progress, settings);
        if (outcome.ending != Ending::kDeviceLost) scaner.StopExchange();
    } catch (const ESerialIO& error) {
        view->Finish();
        std::fprintf(stderr, "pdt receive: %s\n", SerialMessage(error, options.device).c_str());
        return kExitPortFailed;
    }
    // The port is closed: late progress lines are all in.
    ShowProgress(monitor, *view, progress);
    view->Finish();
    if (transcript) transcript->Note("ended: " + EndingName(outcome.ending));

    auto records = results.Snapshot();
    bool complete = outcome.ending == Ending::kComplete;
    bool written = true;
    if (complete || !records.empty()) {
        written = WriteRecords(records, options, format);
    } else if (options.outputFile) {
        std::fprintf(stderr, "pdt receive: no records, %s left untouched\n",
                     options.outputFile->c_str());
    }
    if (!complete) {
        std::fprintf(stderr, "pdt receive: %s; %s\n", EndingMessage(outcome, settings).c_str(),
                     Shortfall(records.size(), progress).c_str());
    }
    if (!written) return kExitFailed;
    if (outcome.ending == Ending::kInterrupted) return kExitInterrupted;
    return complete ? kExitOk : kExitIncomplete;
}

}  // namespace

int ReceiveCommand(const Args& args) {
    ReceiveOptions options;
    try {
        options = ParseReceiveOptions(args);
        if (options.help) {
            std::fputs(ReceiveHelp(), stdout);
            return kExitOk;
        }
#ifndef _WIN32
        if (options.device.empty()) {
            throw UsageError("--device is required (a path such as /dev/ttyUSB0; see pdt ports)");
        }
#endif
    } catch (const UsageError& error) {
        std::fprintf(stderr, "pdt receive: %s\n", error.what());
        return kExitUsage;
    }
    return Receive(options);
}

}  // namespace pdt::cli
